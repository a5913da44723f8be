// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-overlay-bench: times the picture view with the match overlay on
// the A4 1200-dpi scan (a generated board with noise): for each zoom, the
// first paint (the overlay computed for the visible part), a paint after a
// change of tolerance, and a paint after a scroll. Prints one line per zoom
// and the slowest paint.
//
// Usage: rastrace-overlay-bench [width height]   (default 10200 14040)
#include "bench/BoardGenerator.h"
#include "ui/AppLook.h"
#include "ui/Controls.h"
#include "ui/MatchOverlay.h"
#include "ui/ZoomView.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace rastrace;
using namespace rastrace::ui;

namespace {

template <class F>
double millisecondsOf(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    applyApplicationLook(app);
    bench::BoardOptions options;
    options.width = argc >= 3 ? std::atoi(argv[1]) : 10200;
    options.height = argc >= 3 ? std::atoi(argv[2]) : 14040;
    options.noise = true;
    const Raster board = bench::GenerateBoard(options);

    // The window's picture area at its layout size.
    QScrollArea scroll;
    scroll.setWidgetResizable(false);
    scroll.resize(607, 491);
    auto* view = new PictureView;
    scroll.setWidget(view);
    MatchOverlay overlay;
    MatchSettings settings;
    settings.copper = {bench::kCopperColor};
    settings.background = {bench::kSubstrateColor};
    settings.tolerance = 64;
    settings.despeckle = 16;
    overlay.setSettings(settings);
    overlay.setEnabled(true);
    view->setOverlay(&overlay);
    view->setRaster(&board);
    scroll.show();
    QApplication::processEvents();

    double worst = 0;
    const double fit = FitZoom(QSize(board.Width(), board.Height()), scroll.viewport()->size());
    for (double zoom : {fit, 1.0 / 16, 0.25, 1.0, 4.0, 16.0}) {
        view->setZoom(zoom);
        scroll.horizontalScrollBar()->setValue(scroll.horizontalScrollBar()->maximum() / 3);
        scroll.verticalScrollBar()->setValue(scroll.verticalScrollBar()->maximum() / 3);
        QApplication::processEvents();
        const double first = millisecondsOf([&] { view->repaint(); });
        settings.tolerance = settings.tolerance == 64 ? 65 : 64;
        overlay.setSettings(settings);
        const double changed = millisecondsOf([&] { view->repaint(); });
        scroll.verticalScrollBar()->setValue(scroll.verticalScrollBar()->value() + 200);
        const double scrolled = millisecondsOf([&] { view->repaint(); });
        overlay.setEnabled(false);
        const double plain = millisecondsOf([&] { view->repaint(); });
        overlay.setEnabled(true);
        std::printf("zoom %.4f: overlay paint %.1f ms, after a tolerance change %.1f ms, after a scroll %.1f ms, "
                    "without overlay %.1f ms\n",
                    zoom, first, changed, scrolled, plain);
        worst = std::max({worst, first, changed, scrolled});
    }
    std::printf("slowest overlay paint %.1f ms (%d computations)\n", worst, overlay.computations());
    return 0;
}
