// rastrace-screenshot: takes the README's picture of the main window. It
// builds the real window, opens the given bitmap through the Open command
// (its dialog answered by this tool), picks the picture's most frequent
// colours with Ctrl and the left button as a user would, selects the PADS
// (ASC) format and saves the window as a PNG.
//
// With --overlay it instead draws a noisy scan of a generated board (blur,
// sensor noise, uneven light; 300 dpi), picks one copper and one background colour
// with the mouse, sets a tolerance and a speckle size and switches the
// match overlay on.
//
// Usage: rastrace-screenshot <picture.bmp> <output.png>
//        rastrace-screenshot --overlay <output.png>
#include "bench/BmpWriter.h"
#include "bench/BoardGenerator.h"
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
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
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

// A generated board as a flatbed scanner gives it back: each pixel blurred
// with its neighbours, lit a little unevenly, and with sensor noise.
Raster ScannedBoard(int32_t width, int32_t height, uint64_t seed) {
    bench::BoardOptions options;
    options.width = width;
    options.height = height;
    options.seed = seed;
    options.noise = true;
    options.dpi = 300;
    const Raster clean = bench::GenerateBoard(options);
    Raster scan(width, height);
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    const auto uniform = [&state] {  // -1..1
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<double>(state % 20001) / 10000.0 - 1.0;
    };
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = scan.RowBytes(y).data();
        for (int32_t x = 0; x < width; ++x) {
            const double light = 0.92 + 0.12 * x / width - 0.05 * y / height;
            for (int c = 0; c < 3; ++c) {
                int sum = 0, n = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int32_t yy = std::clamp(y + dy, 0, height - 1);
                        const int32_t xx = std::clamp(x + dx, 0, width - 1);
                        const int weight = (dx == 0 ? 2 : 1) * (dy == 0 ? 2 : 1);
                        sum += clean.RowBytes(yy)[static_cast<size_t>(xx) * 3 + c] * weight;
                        n += weight;
                    }
                }
                const double noise = (uniform() + uniform() + uniform()) * 9.0;
                const double value = std::round(sum / static_cast<double>(n) * light + noise);
                out[static_cast<size_t>(x) * 3 + c] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
            }
        }
    }
    return scan;
}

// The first pixel, in reading order, whose whole 5 x 5 (else 3 x 3)
// neighbourhood in clean is color: a pick well inside a region. nullopt
// when there is none.
std::optional<QPoint> InsideOf(const Raster& clean, uint32_t color) {
    for (int reach : {2, 1}) {
        for (int32_t y = reach; y + reach < clean.Height(); ++y) {
            for (int32_t x = reach; x + reach < clean.Width(); ++x) {
                bool inside = true;
                for (int dy = -reach; dy <= reach && inside; ++dy) {
                    for (int dx = -reach; dx <= reach && inside; ++dx) inside = clean.PixelColor(x + dx, y + dy) == color;
                }
                if (inside) return QPoint(x, y);
            }
        }
    }
    return std::nullopt;
}

}  // namespace

int overlayShot(QApplication& app, const QString& output) {
    QTemporaryDir work;
    const int32_t width = 760, height = 640;
    const uint64_t seed = 7;
    const QString scanPath = work.filePath(QStringLiteral("scan.bmp"));
    bench::WriteBitmapFile(ScannedBoard(width, height, seed), scanPath.toStdString());
    bench::BoardOptions options;
    options.width = width;
    options.height = height;
    options.seed = seed;
    options.noise = true;
    options.dpi = 300;
    const Raster clean = bench::GenerateBoard(options);

    ScriptedDialogs dialogs(scanPath);
    TRtcFrmMain window(dialogs, work.filePath(QStringLiteral("set.ini")).toStdString());
    window.handle(&TRtcFrmMain::FormCreate);
    window.show();
    window.handle(&TRtcFrmMain::ToolButton1Click);
    if (dialogs.failed || window.picture() == nullptr) return 1;

    // Both copper colours with Ctrl, the board with Shift and Ctrl.
    const auto copper = InsideOf(clean, bench::kCopperColor);
    const auto copper2 = InsideOf(clean, bench::kCopper2Color);
    const auto board = InsideOf(clean, bench::kSubstrateColor);
    if (!copper || !board) return 1;
    for (auto [pick, mods] : {std::pair{copper, Qt::KeyboardModifiers(Qt::ControlModifier)},
                              std::pair{copper2, Qt::KeyboardModifiers(Qt::ControlModifier)},
                              std::pair{board, Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier)}}) {
        if (!pick) continue;
        const QPoint at = *pick;
        sendMouse(window.Image1, QEvent::MouseMove, Qt::NoButton, Qt::NoModifier, at);
        sendMouse(window.Image1, QEvent::MouseButtonPress, Qt::LeftButton, mods, at);
        sendMouse(window.Image1, QEvent::MouseButtonRelease, Qt::LeftButton, mods, at);
    }
    sendMouse(window.Image1, QEvent::MouseMove, Qt::NoButton, Qt::NoModifier, *copper);
    window.edtx->setText(QStringLiteral("300"));
    window.edty->setText(QStringLiteral("300"));
    MatchPanel& match = *window.matchPanel();
    match.spnTolerance->setValue(60);
    match.spnDespeckle->setValue(8);
    match.btnOverlay->setChecked(true);

    int result = 0;
    QTimer::singleShot(800, &app, [&] {
        if (!window.grab().save(output, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", output.toLocal8Bit().constData());
            result = 1;
        }
        window.handle(&TRtcFrmMain::FormDestroy);
        app.quit();
    });
    QApplication::exec();
    return result;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--overlay") {
        applyApplicationLook(app);
        return overlayShot(app, QString::fromLocal8Bit(argv[2]));
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: rastrace-screenshot <picture.bmp> <output.png>\n"
                             "       rastrace-screenshot --overlay <output.png>\n");
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
