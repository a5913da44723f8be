// The program entry of the window program: application title, the main
// window RtcFrmMain, the message loop, and the settings loaded at creation
// and saved at destruction.
#include "ui/AppLook.h"
#include "ui/DialogService.h"
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

    rastrace::ui::QtDialogService dialogs;
    int result = 0;
    {
        rastrace::ui::TRtcFrmMain RtcFrmMain(dialogs);
        RtcFrmMain.handle(&rastrace::ui::TRtcFrmMain::FormCreate);
        RtcFrmMain.show();
        result = QApplication::exec();
        RtcFrmMain.handle(&rastrace::ui::TRtcFrmMain::FormDestroy);
    }
    return result;
}
