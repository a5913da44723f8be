// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Language.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>

#include <cstdlib>
#include <memory>

namespace rastrace::ui {

namespace {

bool equalsIgnoringCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lower[i]) return false;
    }
    return true;
}

bool isSet(const char* value) { return value != nullptr && value[0] != '\0'; }

// The translation in force, owned here so that it can be taken out again.
std::unique_ptr<QTranslator>& installedTranslator() {
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

WindowLanguage& shown() {
    static WindowLanguage language = WindowLanguage::Chinese;
    return language;
}

}  // namespace

WindowLanguage ChooseWindowLanguage(std::string_view setting, const char* lcAll, const char* lcMessages,
                                    const char* lang) {
    if (equalsIgnoringCase(setting, "en")) return WindowLanguage::English;
    if (equalsIgnoringCase(setting, "zh")) return WindowLanguage::Chinese;
    const char* locale = isSet(lcAll) ? lcAll : isSet(lcMessages) ? lcMessages : isSet(lang) ? lang : nullptr;
    if (locale == nullptr) return WindowLanguage::Chinese;  // the C locale
    const std::string_view name(locale);
    // "C", "POSIX", and "C.UTF-8" or "C.utf8": the C locale with a codeset.
    if (name == "C" || name == "POSIX" || name.starts_with("C.") || name.starts_with("C@")) {
        return WindowLanguage::Chinese;
    }
    if (name.starts_with("zh") && (name.size() == 2 || name[2] == '_' || name[2] == '.' || name[2] == '@')) {
        return WindowLanguage::Chinese;
    }
    return WindowLanguage::English;
}

WindowLanguage ChooseWindowLanguage(std::string_view setting) {
    return ChooseWindowLanguage(setting, std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

std::string LanguageSetting(WindowLanguage language) { return language == WindowLanguage::English ? "en" : "zh"; }

QStringList translationFolders() {
    const QDir program(QCoreApplication::applicationDirPath());
    return {program.filePath(QStringLiteral("translations")),
            QDir::cleanPath(program.filePath(QStringLiteral("../share/rastrace/translations")))};
}

bool applyWindowLanguage(WindowLanguage language, const QStringList& folders) {
    std::unique_ptr<QTranslator>& current = installedTranslator();
    if (current != nullptr) {
        QCoreApplication::removeTranslator(current.get());
        current.reset();
    }
    shown() = WindowLanguage::Chinese;
    if (language == WindowLanguage::Chinese) return true;
    for (const QString& folder : folders) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QStringLiteral("rastrace_en"), folder) && !translator->isEmpty()) {
            QCoreApplication::installTranslator(translator.get());
            current = std::move(translator);
            shown() = WindowLanguage::English;
            return true;
        }
    }
    return false;
}

WindowLanguage shownLanguage() { return shown(); }

}  // namespace rastrace::ui
