// SPDX-License-Identifier: GPL-3.0-or-later
// The about dialog TAboutBox: the program's version, what changed, how to
// use it, what it is for and its version history, in a text field, and the
// button that switches the window's language (from the next start).
//
// The one fact a caller must know: the dialog is built afresh from its
// layout every time it is shown and destroyed afterwards, so nothing typed
// into the text survives; AboutBox points at it only while it is shown.
#pragma once

#include "ui/Language.h"

#include <QDialog>
#include <QStringList>

class QFrame;
class QPlainTextEdit;
class QPushButton;

namespace rastrace::ui {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // The 56 lines of the about text, in order, in the window's language.
    static QStringList aboutLines();

    QFrame* Panel1;
    QPushButton* OKButton;
    QPlainTextEdit* mmoMsg;
    // Offers the language not shown now; a press emits languageChosen.
    QPushButton* btnLanguage;

signals:
    void languageChosen(rastrace::ui::WindowLanguage language);
};

// The about dialog while it is shown, nullptr otherwise. Set and cleared by
// the main window's About command only.
extern TAboutBox* AboutBox;

}  // namespace rastrace::ui
