// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AppLook.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QSvgRenderer>

// Resources compiled into a static library must be registered by name from
// outside any namespace.
static void initRastraceResources() { Q_INIT_RESOURCE(rastrace); }

namespace rastrace::ui {

namespace {

QPixmap renderSvg(const QString& path, int size) {
    initRastraceResources();
    QSvgRenderer renderer(path);
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(0, 0, size, size));
    return pixmap;
}

}  // namespace

QString applicationTitle() { return QStringLiteral("RASTRACE FOR WIN"); }

QFont rastraceFont() {
    // Preferred first: SimSun under its Latin and Chinese names, then the
    // Song-style (Ming) faces Debian ships.
    static const QStringList preferred = {
        QStringLiteral("SimSun"),          QString::fromUtf8("宋体"),
        QStringLiteral("NSimSun"),         QStringLiteral("AR PL UMing CN"),
        QStringLiteral("AR PL UMing"),     QStringLiteral("AR PL SungtiL GB"),
        QStringLiteral("Noto Serif CJK SC"),
    };
    const QStringList installed = QFontDatabase::families();
    QFont font;
    for (const QString& family : preferred) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            font.setFamily(family);
            break;
        }
    }
    font.setPixelSize(12);
    return font;
}

QList<QPixmap> toolbarImages() {
    return {renderSvg(QStringLiteral(":/rastrace/icons/about.svg"), 48),
            renderSvg(QStringLiteral(":/rastrace/icons/open.svg"), 48),
            renderSvg(QStringLiteral(":/rastrace/icons/convert.svg"), 48)};
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 256}) icon.addPixmap(renderSvg(QStringLiteral(":/rastrace/icons/rastrace.svg"), size));
    return icon;
}

void applyApplicationLook(QApplication& app) {
    QApplication::setApplicationName(applicationTitle());
    QApplication::setFont(rastraceFont());
    app.setWindowIcon(programIcon());
}

}  // namespace rastrace::ui
