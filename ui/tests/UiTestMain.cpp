// SPDX-License-Identifier: GPL-3.0-or-later
// The entry point of the window test binaries: Qt's application on the
// offscreen platform (unless another is set), the program's look, then
// every GoogleTest case.
#include "ui/AppLook.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform reports each window it cannot size by hints;
    // that says nothing about the window under test.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (message.contains(QStringLiteral("propagateSizeHints"))) return;
        std::fprintf(stderr, "%s\n", qPrintable(message));
        if (type == QtFatalMsg) std::abort();
    });
    QApplication app(argc, argv);
    rastrace::ui::applyApplicationLook(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
