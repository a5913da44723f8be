// SPDX-License-Identifier: GPL-3.0-or-later
// The window's work on a whole board, off the interface thread: both sides
// traced, the bottom aligned on the top (on the holes or on clicked point
// pairs), the nets put together, what the views draw prepared, and, when
// asked, the board written to its files.
//
// The one fact a caller must know: a BoardTask runs on a thread of its own
// from Start to the call of its done callback (made on that thread; the
// window posts it on to its own). Stop() (or the destructor) ends the work
// at the next row or step and joins the thread; nothing is written then,
// and an output it was to replace stays as it was.
#pragma once

#include "board/Nets.h"
#include "board/Registration.h"
#include "board/SideTrace.h"
#include "job/BoardFiles.h"
#include "raster/Raster.h"

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QTransform>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace rastrace::ui {

enum class BoardSide { Top = 0, Bottom = 1 };

// One side as the window holds it.
struct BoardSideInput {
    std::shared_ptr<const Raster> picture;  // as shown (mirrored as the user mirrored it)
    SideRequest request;
    // Mirrored an odd number of times in the window (horizontally or
    // vertically): the picture shown is then the mirror image of the scan.
    bool mirrored = false;
};

// What the views draw of one side, in that side's shown pixels.
struct SideDrawing {
    std::vector<QPainterPath> paths;  // one a copper region
    std::vector<QRectF> boxes;        // each path's bounding box
    std::vector<int32_t> netOf;       // each region's net (1..)
    struct Mark {
        QPointF centre;
        double radius = 0;
        bool plated = false;
    };
    std::vector<Mark> holes;
    // The whole side drawn small, for views zoomed out: the copper in the
    // overlay colour, and each net in its colour. scale is image pixels per
    // picture pixel.
    QImage copper, nets;
    double scale = 1;
};

struct BoardResult {
    std::shared_ptr<const SideTrace> top, bottom;  // as traced (the bottom as scanned)
    BoardSideInput inputs[2];
    Alignment alignment;
    bool onPoints = false;  // aligned on point pairs, not holes
    // Bottom pixels as shown to bottom pixels as traced, and to top pixels.
    Affine2 bottomShownToTraced, bottomShownToTop;
    BoardModel model;
    BoardFacts facts;
    SideDrawing drawings[2];
    double seconds = 0;  // from Start to done
};

// The same map as Qt's transform.
QTransform TransformOf(const Affine2& map);

// A net's colour in the views: hues spread by the golden angle.
QColor NetColor(int32_t net);

class BoardTask {
public:
    struct Request {
        BoardSideInput sides[2];
        // (top, bottom) in shown pixels, a pixel's centre at +0.5; at least
        // three, or none for the holes.
        std::vector<std::pair<QPointF, QPointF>> points;
        // Traces of an earlier result of the same pictures and settings:
        // used instead of tracing again.
        std::shared_ptr<const BoardResult> reuse;
        // Written when the board is put together (all or none).
        std::optional<std::pair<BoardFileKind, std::string>> output;
    };
    using Done = std::function<void(std::shared_ptr<const BoardResult> result, std::optional<std::string> error)>;

    // onRows(done, all) reports the rows traced (on the task's thread).
    BoardTask(Request request, Done done, std::function<void(int64_t, int64_t)> onRows = {});
    ~BoardTask();
    BoardTask(const BoardTask&) = delete;
    BoardTask& operator=(const BoardTask&) = delete;

    void Stop();

    // Whether reuse's traces stand for these inputs: the same pictures and
    // the same settings.
    static bool SameTraces(const BoardResult& result, const BoardSideInput (&sides)[2]);

private:
    void Run();

    Request request_;
    Done done_;
    std::function<void(int64_t, int64_t)> onRows_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Bottom pixels as shown to bottom pixels as traced: a horizontal mirror of
// a picture width pixels wide when mirrored, otherwise nothing.
Affine2 ShownToTraced(bool mirrored, int32_t width);

}  // namespace rastrace::ui
