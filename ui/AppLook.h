// SPDX-License-Identifier: GPL-3.0-or-later
// The program's look shared by all its windows: the application title, the
// font, the toolbar images and the program icon.
//
// The one fact a caller must know: the images and the icon are drawn from
// the SVG files compiled into the program, so they need no image plug-in
// at run time; applyApplicationLook must run once after QApplication exists.
#pragma once

#include <QFont>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>

class QApplication;

namespace rastrace::ui {

// "RASTRACE FOR WIN": the application's name and the caption of the
// standard error box.
QString applicationTitle();

// SimSun at 12 pixels where that font is installed; otherwise the first
// installed Song-style CJK font (AR PL UMing from fonts-arphic-uming), so
// the Chinese texts render on a fresh machine; otherwise the default family.
QFont rastraceFont();

// ImageList1: 0 About (speech bubble), 1 Open (folder with plus), 2 Convert
// (folder with circling arrows), each 48 x 48 with transparency.
QList<QPixmap> toolbarImages();

// The program icon (paper sheet with two gear wheels) at 16, 32, 48 and 256 pixels.
QIcon programIcon();

// Sets the application's name, font and window icon.
void applyApplicationLook(QApplication& app);

}  // namespace rastrace::ui
