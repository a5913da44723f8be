// SPDX-License-Identifier: GPL-3.0-or-later
// The window tests' dialogs: each Open answers the next of openAnswers, the
// save dialog answers saveAnswer (and keeps the file types and suffix it
// was offered), and errors and notices are collected instead of shown.
#pragma once

#include "ui/DialogService.h"

#include <QStringList>

#include <deque>
#include <optional>

namespace rastrace::ui::test {

class FakeDialogs : public DialogService {
public:
    std::optional<FileChoice> openPicture(QWidget*, const QStringList&, const FileChoice&) override {
        if (openAnswers.empty()) return std::nullopt;
        auto answer = openAnswers.front();
        openAnswers.pop_front();
        return answer;
    }
    std::optional<QString> saveFile(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<FileChoice> saveFileOfType(QWidget*, const QStringList& types, const QString& suffix,
                                             const QString&) override {
        savedTypes = types;
        savedSuffix = suffix;
        return saveAnswer;
    }
    void showError(QWidget*, const QString& text) override { errors.append(text); }
    void showNotice(QWidget*, const QString& text, const QString&) override { notices.append(text); }
    void execDialog(QDialog&) override {}

    std::deque<std::optional<FileChoice>> openAnswers;
    std::optional<FileChoice> saveAnswer;
    QStringList savedTypes;
    QString savedSuffix;
    QStringList errors;
    QStringList notices;
};

}  // namespace rastrace::ui::test
