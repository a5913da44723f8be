// SPDX-License-Identifier: GPL-3.0-or-later
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
// With --tour it takes, besides the main window, every dialog the window
// shows (about box, open and save dialogs, error box and notices), each as
// the real dialog shows it, into a folder: for checking the layout of a
// language by eye.
//
// --language en|zh shows the window in that language (default: Chinese),
// with the translation of the build tree.
//
// Usage: rastrace-screenshot [--language en|zh] <picture.bmp> <output.png>
//        rastrace-screenshot [--language en|zh] --overlay <output.png>
//        rastrace-screenshot [--language en|zh] --tour <picture.bmp> <folder>
#include "bench/BmpWriter.h"
#include "bench/BoardGenerator.h"
#include "bench/TwoSidedBoard.h"
#include "common/IntText.h"
#include "ui/AppLook.h"
#include "ui/DialogService.h"
#include "ui/Language.h"
#include "ui/OutputKind.h"
#include "ui/URtcFrmMain.h"
#include "ui/untAbout.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>
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

    void setPicture(QString picture) { picture_ = std::move(picture); }

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

// The whole board: a pair from the scanner model, aligned on its holes
// (alignPng: the bottom's copper over the top), then the net view with the
// net of a header pad picked (netsPng).
int boardShots(QApplication& app, const QString& alignPng, const QString& netsPng) {
    QTemporaryDir work;
    bench::TwoSidedOptions options;
    options.widthMm = 64;
    options.heightMm = 44;
    options.dpi = 300;
    options.seed = 4;
    const bench::TwoSidedBoard board = bench::MakeTwoSidedBoard(options);
    const QString top = work.filePath(QStringLiteral("top.bmp")), bottom = work.filePath(QStringLiteral("bottom.bmp"));
    bench::WriteBitmapFile(board.top, top.toStdString());
    bench::WriteBitmapFile(board.bottom, bottom.toStdString());

    ScriptedDialogs dialogs(top);
    TRtcFrmMain window(dialogs, work.filePath(QStringLiteral("set.ini")).toStdString());
    window.handle(&TRtcFrmMain::FormCreate);
    window.show();
    window.handle(&TRtcFrmMain::ToolButton1Click);
    window.edtx->setText(QStringLiteral("300"));
    window.edty->setText(QStringLiteral("300"));
    window.lstCl->addItem(QString::fromStdString(IntToStr(static_cast<int32_t>(board.copperColor))));
    window.matchPanel()->addBackground(board.boardColor);
    window.matchPanel()->addHole(board.lidColor);
    window.matchPanel()->spnTolerance->setValue(60);
    dialogs.setPicture(bottom);
    window.handle(&TRtcFrmMain::OpenBottomClick);
    window.tabSides->setCurrentIndex(0);
    window.btnAlign->click();
    while (window.boardWorking()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    if (dialogs.failed || window.boardResult() == nullptr) return 1;

    // The pad of the net with the most pads, for the net picked.
    std::map<int32_t, int> padsOf;
    for (const auto& pad : board.pads) ++padsOf[pad.net];
    const bench::TruePad* picked = nullptr;
    for (const auto& pad : board.pads) {
        if (pad.front && pad.net != 0 && (picked == nullptr || padsOf[pad.net] > padsOf[picked->net])) picked = &pad;
    }
    int result = 0;
    auto save = [&](const QString& file) {
        if (!window.grab().save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            result = 1;
        }
    };
    QTimer::singleShot(500, &app, [&] {
        save(alignPng);
        window.btnNets->setChecked(true);
        if (picked != nullptr) {
            const QPoint at(static_cast<int>(picked->top.x), static_cast<int>(picked->top.y));
            sendMouse(window.Image1, QEvent::MouseButtonPress, Qt::LeftButton, Qt::NoModifier, at);
            sendMouse(window.Image1, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoModifier, at);
        }
        QTimer::singleShot(300, &app, [&] {
            save(netsPng);
            window.handle(&TRtcFrmMain::FormDestroy);
            app.quit();
        });
    });
    QApplication::exec();
    return result;
}

namespace {

// The real dialogs, each saved as a picture once it is shown and then
// closed, so the tour needs no one to answer them. Open and Save can be
// answered by the script instead, to open a file or start a conversion.
class TourDialogs : public QtDialogService {
public:
    explicit TourDialogs(QDir folder) : folder_(std::move(folder)) {}

    // The next dialog shown is saved as name.png.
    void grabNext(const QString& name) { next_ = name; }
    void answerOpen(const QString& path) { openAnswer_ = path; }
    void answerSave(const QString& path) { saveAnswer_ = path; }
    // The next about box presses its language button before it is taken.
    void pressLanguageNext() { pressLanguage_ = true; }

    std::optional<FileChoice> openPicture(QWidget* parent, const QStringList& filters,
                                          const FileChoice& initial) override {
        if (openAnswer_) return FileChoice{*std::exchange(openAnswer_, std::nullopt), filters.value(1)};
        arm();
        return QtDialogService::openPicture(parent, filters, initial);
    }
    std::optional<FileChoice> saveFileOfType(QWidget* parent, const QStringList& fileTypes,
                                             const QString& defaultSuffix, const QString& initialName) override {
        if (saveAnswer_) return FileChoice{*std::exchange(saveAnswer_, std::nullopt), fileTypes.value(0)};
        arm();
        return QtDialogService::saveFileOfType(parent, fileTypes, defaultSuffix, initialName);
    }
    void showError(QWidget* parent, const QString& text) override {
        arm();
        QtDialogService::showError(parent, text);
    }
    void showNotice(QWidget* parent, const QString& text, const QString& caption) override {
        arm();
        QtDialogService::showNotice(parent, text, caption);
    }
    void execDialog(QDialog& dialog) override {
        if (std::exchange(pressLanguage_, false)) {
            auto* box = qobject_cast<TAboutBox*>(&dialog);
            QTimer::singleShot(500, &dialog, [this, box, &dialog] {
                if (box != nullptr) {
                    grabNext(QStringLiteral("language"));
                    box->btnLanguage->click();  // its notice is taken and closed
                }
                dialog.reject();
            });
        } else {
            arm();
        }
        QtDialogService::execDialog(dialog);
    }

    bool failed = false;

private:
    void arm() {
        const QString file = folder_.filePath((next_.isEmpty() ? QStringLiteral("dialog") : next_) + ".png");
        next_.clear();
        // Late enough for the file dialogs to have listed their folder and
        // the preview to have loaded.
        QTimer::singleShot(900, [this, file] {
            QWidget* shown = QApplication::activeModalWidget();
            if (shown == nullptr) {
                std::fprintf(stderr, "no dialog shown for %s\n", qPrintable(file));
                failed = true;
                return;
            }
            if (!shown->grab().save(file, "PNG")) failed = true;
            std::printf("%s\n", qPrintable(file));
            if (auto* dialog = qobject_cast<QDialog*>(shown)) {
                dialog->reject();
            } else {
                shown->close();
            }
        });
    }

    QDir folder_;
    QString next_;
    std::optional<QString> openAnswer_;
    std::optional<QString> saveAnswer_;
    bool pressLanguage_ = false;
};

// Picks the picture's two most frequent colours after the first (the board)
// as copper, and rests the pointer on the first of them.
void pickCopper(TRtcFrmMain& window) {
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
}

// Runs the event loop for ms milliseconds.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The main window with the picture open and its copper picked, then each
// of its dialogs in turn, as main.png, about.png, open.png, save.png,
// notice.png (a conversion complete), error.png (a file that is no
// picture) and language.png (the about box's switch).
int tour(const QString& picture, const QString& folderPath) {
    QTemporaryDir work;
    TourDialogs dialogs{QDir(folderPath)};
    TRtcFrmMain window(dialogs, work.filePath(QStringLiteral("set.ini")).toStdString());
    window.handle(&TRtcFrmMain::FormCreate);
    window.show();
    dialogs.answerOpen(picture);
    window.ToolButton1->click();
    if (window.picture() == nullptr) return 1;
    pickCopper(window);
    window.edtx->setText(QStringLiteral("150"));
    window.edty->setText(QStringLiteral("150"));
    runFor(800);
    if (!window.grab().save(QDir(folderPath).filePath(QStringLiteral("main.png")), "PNG")) return 1;

    dialogs.grabNext(QStringLiteral("about"));
    window.ToolButton4->click();
    dialogs.grabNext(QStringLiteral("open"));
    window.ToolButton1->click();
    dialogs.grabNext(QStringLiteral("save"));
    window.ToolButton2->click();

    dialogs.answerSave(work.filePath(QStringLiteral("board.PCB")));
    dialogs.grabNext(QStringLiteral("notice"));
    window.ToolButton2->click();
    for (int i = 0; i < 200 && !window.ready(); ++i) runFor(50);

    const QString broken = work.filePath(QStringLiteral("broken.bmp"));
    QFile file(broken);
    if (!file.open(QIODevice::WriteOnly) || file.write("not a picture") < 0) return 1;
    file.close();
    dialogs.answerOpen(broken);
    dialogs.grabNext(QStringLiteral("error"));
    window.ToolButton1->click();

    dialogs.pressLanguageNext();
    window.ToolButton4->click();
    window.handle(&TRtcFrmMain::FormDestroy);
    return dialogs.failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() >= 2 && args[0] == QStringLiteral("--language")) {
        const WindowLanguage language = ChooseWindowLanguage(args[1].toStdString(), nullptr, nullptr, nullptr);
        if (!applyWindowLanguage(language, {QStringLiteral(RASTRACE_TRANSLATIONS_DIR)})) {
            std::fprintf(stderr, "no translation in %s\n", RASTRACE_TRANSLATIONS_DIR);
            return 1;
        }
        args = args.mid(2);
    }
    if (args.size() == 2 && args[0] == QStringLiteral("--overlay")) {
        applyApplicationLook(app);
        return overlayShot(app, args[1]);
    }
    if (args.size() == 3 && args[0] == QStringLiteral("--board")) {
        applyApplicationLook(app);
        return boardShots(app, args[1], args[2]);
    }
    if (args.size() == 3 && args[0] == QStringLiteral("--tour")) {
        applyApplicationLook(app);
        return tour(args[1], args[2]);
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: rastrace-screenshot [--language en|zh] <picture.bmp> <output.png>\n"
                             "       rastrace-screenshot [--language en|zh] --overlay <output.png>\n"
                             "       rastrace-screenshot [--language en|zh] --tour <picture.bmp> <folder>\n"
                             "       rastrace-screenshot [--language en|zh] --board <align.png> <nets.png>\n");
        return 2;
    }
    applyApplicationLook(app);
    const QString picture = args[0];
    const QString output = args[1];

    // The tool must not write the program's own set.ini.
    QTemporaryDir settingsDir;
    ScriptedDialogs dialogs(picture);
    TRtcFrmMain window(dialogs, settingsDir.filePath(QStringLiteral("set.ini")).toStdString());
    window.handle(&TRtcFrmMain::FormCreate);
    window.show();
    window.handle(&TRtcFrmMain::ToolButton1Click);
    if (dialogs.failed || window.picture() == nullptr) return 1;

    // The most frequent colour is the board itself; the next two are the
    // copper.
    pickCopper(window);
    window.edtx->setText(QStringLiteral("150"));  // the sample is a 150 dpi scan
    window.edty->setText(QStringLiteral("150"));
    window.RadioButton2->click();

    int result = 0;
    QTimer::singleShot(800, &app, [&] {
        if (!window.grab().save(output, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
            result = 1;
        }
        window.handle(&TRtcFrmMain::FormDestroy);
        app.quit();
    });
    QApplication::exec();
    return result;
}
