// SPDX-License-Identifier: GPL-3.0-or-later
// The window's language: Chinese, the texts as they are written in the
// source, or English, their translation in rastrace_en.qm (Qt's translation
// system; the .ts beside this file is compiled by lrelease at build time).
//
// The one fact a caller must know: the language is chosen once, before the
// main window is built; a window or dialog takes its texts when it is built,
// so a change shows from the next window on (for the user: the next start).
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

namespace rastrace::ui {

enum class WindowLanguage { Chinese, English };

// The language for a LANGUAGE setting and the locale variables LC_ALL,
// LC_MESSAGES and LANG (each may be null). "en" and "zh" (letter case
// ignored) decide; any other setting leaves it to the locale: the first of
// the three that is set and not empty, as the C library takes them. The C
// and POSIX locales (C.UTF-8 too), a Chinese one (zh, zh_CN.UTF-8, ...) and
// none at all give Chinese, every other locale English.
WindowLanguage ChooseWindowLanguage(std::string_view setting, const char* lcAll, const char* lcMessages,
                                    const char* lang);
// The same with the locale variables of this process.
WindowLanguage ChooseWindowLanguage(std::string_view setting);

// The LANGUAGE setting that chooses language: "zh" or "en".
std::string LanguageSetting(WindowLanguage language);

// Where rastrace_en.qm is looked for, in order: "translations" beside the
// executable (the build tree), then ../share/rastrace/translations from it
// (an installed package: /usr/bin and /usr/share/rastrace/translations).
QStringList translationFolders();

// Makes language the one new windows are built in: English installs the
// translation from the first of folders that holds it, Chinese removes it.
// False when English was asked for and no folder holds a readable
// translation; the texts then stay Chinese. Call on the interface thread,
// with the application made.
bool applyWindowLanguage(WindowLanguage language, const QStringList& folders = translationFolders());

// The language the last applyWindowLanguage put in force (Chinese before any).
WindowLanguage shownLanguage();

}  // namespace rastrace::ui
