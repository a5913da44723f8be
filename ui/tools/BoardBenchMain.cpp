// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-board-bench: times the window's whole board on a pair written by
// rastrace-twosided (DIR/top.bmp, DIR/bottom.bmp, DIR/truth.txt), for
// scripts/bench.sh. It builds the real window, opens both sides through
// the Open command and its bottom entry, picks the colours truth.txt
// names, and measures:
//   1. align: from the Align command to the overlay painted on screen;
//   2. click: from a click on a pad's copper to its net painted, at the
//      view's zoom after opening and at 100 %;
//   3. stall: the longest time the interface thread did not turn its event
//      loop while the work ran (a 2 ms timer notes each turn).
// Results are "key=value" lines on standard output, times in ms.
//
// Usage: rastrace-board-bench DIR [--tolerance N]
#include "common/IntText.h"
#include "ui/AppLook.h"
#include "ui/DialogService.h"
#include "ui/URtcFrmMain.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScrollArea>
#include <QTabBar>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace rastrace;
using namespace rastrace::ui;

class ToolDialogs : public DialogService {
public:
    std::optional<FileChoice> openPicture(QWidget*, const QStringList&, const FileChoice&) override {
        if (opens.empty()) return std::nullopt;
        FileChoice c = opens.front();
        opens.pop_front();
        return c;
    }
    std::optional<QString> saveFile(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<FileChoice> saveFileOfType(QWidget*, const QStringList&, const QString&, const QString&) override {
        return std::nullopt;
    }
    void showError(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
        ++errors;
    }
    void showNotice(QWidget*, const QString& text, const QString&) override {
        std::fprintf(stderr, "notice: %s\n", text.toUtf8().constData());
    }
    void execDialog(QDialog&) override {}
    std::deque<FileChoice> opens;
    int errors = 0;
};

uint32_t packedOf(const std::string& hex) {
    const unsigned long v = std::strtoul(hex.c_str() + 1, nullptr, 16);  // "#RRGGBB"
    return static_cast<uint32_t>(((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF));
}

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: rastrace-board-bench DIR [--tolerance N]\n");
        return 2;
    }
    const std::string dir = argv[1];
    int tolerance = 60;
    for (int i = 2; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--tolerance") == 0) tolerance = std::atoi(argv[++i]);
    }
    QApplication app(argc, argv);
    std::ifstream truth(dir + "/truth.txt");
    std::string line, copper, board, lid;
    double padX = -1, padY = -1;
    while (std::getline(truth, line)) {
        std::istringstream in(line);
        std::string key;
        in >> key;
        if (key == "colors") in >> copper >> board >> lid;
        if (key == "pad" && padX < 0) {
            std::string bx, by, side;
            in >> padX >> padY >> bx >> by >> side;
            if (side != "front") padX = padY = -1;
        }
    }
    if (copper.empty() || padX < 0) {
        std::fprintf(stderr, "rastrace-board-bench: %s/truth.txt names no colours or front pad\n", dir.c_str());
        return 1;
    }

    ToolDialogs dialogs;
    const std::string settings = dir + "/bench-set.ini";
    auto window = std::make_unique<TRtcFrmMain>(dialogs, settings);
    window->handle(&TRtcFrmMain::FormCreate);
    window->show();
    QApplication::processEvents();

    auto t0 = std::chrono::steady_clock::now();
    dialogs.opens.push_back({QString::fromStdString(dir + "/top.bmp"), QStringLiteral("Bitmaps (*.bmp)")});
    window->handle(&TRtcFrmMain::ToolButton1Click);
    window->lstCl->addItem(QString::fromStdString(IntToStr(static_cast<int32_t>(packedOf(copper)))));
    window->matchPanel()->addBackground(packedOf(board));
    window->matchPanel()->addHole(packedOf(lid));
    window->matchPanel()->spnTolerance->setValue(tolerance);
    dialogs.opens.push_back({QString::fromStdString(dir + "/bottom.bmp"), QStringLiteral("Bitmaps (*.bmp)")});
    window->handle(&TRtcFrmMain::OpenBottomClick);
    window->tabSides->setCurrentIndex(0);
    window->matchPanel()->zoomToFit();
    window->Image1->repaint();
    std::printf("open_both_ms=%.0f\n", msSince(t0));

    // The event loop's turns while the work runs.
    double longestGap = 0;
    QElapsedTimer sinceTurn;
    QTimer ticker;
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, static_cast<double>(sinceTurn.nsecsElapsed()) / 1e6);
        sinceTurn.restart();
    });

    sinceTurn.start();
    ticker.start();
    t0 = std::chrono::steady_clock::now();
    window->btnAlign->click();
    while (window->boardWorking()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (window->boardResult() == nullptr) return 1;
    window->Image1->repaint();
    const double align = msSince(t0);
    ticker.stop();
    const auto result = window->boardResult();
    std::printf("align_to_overlay_ms=%.0f\nwork_ms=%.0f\nlongest_stall_ms=%.1f\n", align, result->seconds * 1000,
                longestGap);
    std::printf("holes_matched=%d\nresidual_px=%s\nnets=%d\nregions=%d\n", result->alignment.matched,
                FixedText(result->alignment.rmsPx, 3).c_str(), result->facts.nets, result->facts.regions);

    t0 = std::chrono::steady_clock::now();
    window->Image1->repaint();
    std::printf("overlay_paint_ms=%.1f\n", msSince(t0));

    auto clickPad = [&](const char* key) {
        const double zoom = window->Image1->zoom();
        const QPointF at(padX * zoom, padY * zoom);
        const auto start = std::chrono::steady_clock::now();
        QMouseEvent press(QEvent::MouseButtonPress, at, window->Image1->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window->Image1, &press);
        window->Image1->repaint();
        std::printf("%s=%.1f\n", key, msSince(start));
        if (window->boardViews().highlight() <= 0) std::fprintf(stderr, "the click found no net\n");
    };
    window->btnNets->setChecked(true);
    clickPad("click_to_net_fit_ms");
    window->matchPanel()->setZoom(1.0);
    window->ScrollBox1->ensureVisible(static_cast<int>(padX), static_cast<int>(padY));
    QApplication::processEvents();
    clickPad("click_to_net_100_ms");
    t0 = std::chrono::steady_clock::now();
    window->Image1->repaint();
    std::printf("net_view_paint_100_ms=%.1f\n", msSince(t0));
    window->close();
    window.reset();
    std::remove(settings.c_str());
    return dialogs.errors == 0 ? 0 : 1;
}
