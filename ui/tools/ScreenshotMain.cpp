// rastrace-screenshot: takes the README's picture of the main window. It
// builds the real window, opens the given bitmap through the Open command
// (its dialog answered by this tool), picks the picture's most frequent
// colours with Ctrl and the left button as a user would, selects the PADS
// (ASC) format and saves the window as a PNG.
//
// Usage: rastrace-screenshot <picture.bmp> <output.png>
#include "ui/AppLook.h"
#include "ui/DialogService.h"
#include "ui/URtcFrmMain.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

using namespace rastrace;
using namespace rastrace::ui;

// Answers the Open dialog with one file; every other dialog is declined,
// and a message box is printed instead of shown.
class ScriptedDialogs : public DialogService {
public:
    explicit ScriptedDialogs(QString picture) : picture_(std::move(picture)) {}
    std::optional<FileChoice> openPicture(QWidget*, const QStringList& filters, const FileChoice&) override {
        return FileChoice{picture_, filters.value(1)};
    }
    std::optional<QString> saveFile(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    void showError(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error box: %s\n", text.toUtf8().constData());
        failed = true;
    }
    void showNotice(QWidget*, const QString&, const QString&) override {}
    void execDialog(QDialog&) override {}

    bool failed = false;

private:
    QString picture_;
};

struct Pick {
    uint32_t color;
    int x, y;
};

// The most frequent colours of raster (sampled on a grid), each with the
// first place it was seen, most frequent first.
std::vector<Pick> frequentColors(const Raster& raster, size_t count) {
    std::map<uint32_t, std::pair<int, Pick>> seen;
    const int step = std::max(1, std::max(raster.Width(), raster.Height()) / 400);
    for (int y = 0; y < raster.Height(); y += step) {
        for (int x = 0; x < raster.Width(); x += step) {
            const uint32_t color = raster.PixelColor(x, y);
            auto [it, fresh] = seen.try_emplace(color, 0, Pick{color, x, y});
            ++it->second.first;
        }
    }
    std::vector<std::pair<int, Pick>> ranked;
    for (const auto& entry : seen) ranked.push_back(entry.second);
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<Pick> picks;
    for (size_t i = 0; i < ranked.size() && i < count; ++i) picks.push_back(ranked[i].second);
    return picks;
}

void sendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, Qt::KeyboardModifiers mods, QPoint at) {
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button,
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::MouseButtons(button), mods);
    QApplication::sendEvent(target, &event);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: rastrace-screenshot <picture.bmp> <output.png>\n");
        return 2;
    }
    applyApplicationLook(app);
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);

    // The tool must not write the program's own set.ini.
    QTemporaryDir settingsDir;
    ScriptedDialogs dialogs(picture);
    TRtcFrmMain window(dialogs, settingsDir.filePath(QStringLiteral("set.ini")).toStdString());
    window.handle(&TRtcFrmMain::FormCreate);
    window.show();
    window.handle(&TRtcFrmMain::ToolButton1Click);
    if (dialogs.failed || window.picture() == nullptr) return 1;

    // The most frequent colour is the board itself; the next two are the
    // copper. Pick those two, then rest the pointer on the first again so
    // the swatch shows it.
    const auto ranked = frequentColors(*window.picture(), 3);
    std::vector<Pick> picks(ranked.begin() + (ranked.size() > 1 ? 1 : 0), ranked.end());
    for (const Pick& pick : picks) {
        const QPoint at(pick.x, pick.y);
        sendMouse(window.Image1, QEvent::MouseMove, Qt::NoButton, Qt::NoModifier, at);
        sendMouse(window.Image1, QEvent::MouseButtonPress, Qt::LeftButton, Qt::ControlModifier, at);
        sendMouse(window.Image1, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::ControlModifier, at);
    }
    if (!picks.empty()) {
        sendMouse(window.Image1, QEvent::MouseMove, Qt::NoButton, Qt::NoModifier, QPoint(picks[0].x, picks[0].y));
    }
    window.edtx->setText(QStringLiteral("150"));  // the sample is a 150 dpi scan
    window.edty->setText(QStringLiteral("150"));
    window.RadioButton2->click();

    int result = 0;
    QTimer::singleShot(800, &app, [&] {
        if (!window.grab().save(output, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            result = 1;
        }
        window.handle(&TRtcFrmMain::FormDestroy);
        app.quit();
    });
    QApplication::exec();
    return result;
}
