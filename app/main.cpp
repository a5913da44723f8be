// SPDX-License-Identifier: GPL-3.0-or-later
// The program entry of the window program: application title, the main
// window RtcFrmMain, the message loop, and the settings loaded at creation
// and saved at destruction.
#include "ui/AppLook.h"
#include "settings/Settings.h"
#include "ui/DialogService.h"
#include "ui/Language.h"
#include "ui/URtcFrmMain.h"

#include <QApplication>

#include <cstdio>

namespace {

// Qt aborts with an obscure message when it finds no display; say plainly
// what to do instead.
bool displayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "rastrace: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Run it on a desktop, or under a virtual X server, for example:\n"
                     "    xvfb-run -a build/app/rastrace\n");
        return 1;
    }
    QApplication app(argc, argv);
    rastrace::ui::applyApplicationLook(app);
    // The language is the one thing read before the window is built: its
    // texts are taken as it is built.
    const rastrace::SettingsLocation settings = rastrace::DefaultSettingsLocation();
    const rastrace::ui::WindowLanguage language =
        rastrace::ui::ChooseWindowLanguage(rastrace::LoadSettings(settings).language);
    if (!rastrace::ui::applyWindowLanguage(language)) {
        std::fprintf(stderr, "rastrace: the English translation (rastrace_en.qm) was not found in %s; "
                             "the window shows its Chinese texts.\n",
                     qPrintable(rastrace::ui::translationFolders().join(QStringLiteral(" or "))));
    }

    rastrace::ui::QtDialogService dialogs;
    int result = 0;
    {
        rastrace::ui::TRtcFrmMain RtcFrmMain(dialogs, settings);
        RtcFrmMain.handle(&rastrace::ui::TRtcFrmMain::FormCreate);
        RtcFrmMain.show();
        result = QApplication::exec();
        RtcFrmMain.handle(&rastrace::ui::TRtcFrmMain::FormDestroy);
    }
    return result;
}
