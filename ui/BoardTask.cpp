// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BoardTask.h"

#include "board/WholeBoard.h"
#include "common/Error.h"
#include "raster/PictureRows.h"

#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <new>

namespace rastrace::ui {

namespace {

// The longest side of the small drawings, in image pixels: about 12 MB
// each, and sharp up to a quarter of an A4 1200-dpi scan on screen.
constexpr double kSmallDrawingSide = 2048;

// Thrown from the trace's row callback to end the work.
struct Stopped {};

QPainterPath PathOf(const OutlineShape& shape, const Affine2& toShown) {
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    bool first = true;
    for (const OutlinePoint& p : shape.points) {
        const Vec2 v = toShown.Apply({p.x2 / 2.0, p.y2 / 2.0});
        if (first) {
            path.moveTo(v.x, v.y);
            first = false;
        } else {
            path.lineTo(v.x, v.y);
        }
    }
    path.closeSubpath();
    return path;
}

// side's regions and holes in its shown pixels; nets from offset in the model's regions.
void Collect(const SideTrace& trace, const Affine2& tracedToShown, const BoardModel& model, size_t offset,
             SideDrawing& drawing, const std::atomic<bool>& stop) {
    drawing.paths.reserve(trace.regions.size());
    for (size_t r = 0; r < trace.regions.size(); ++r) {
        if ((r & 255) == 0 && stop.load()) throw Stopped{};
        drawing.paths.push_back(PathOf(trace.regions[r], tracedToShown));
        drawing.boxes.push_back(drawing.paths.back().boundingRect());
        drawing.netOf.push_back(offset + r < model.regions.size() ? model.regions[offset + r].net : 0);
    }
    for (const Hole& h : trace.holes) {
        const Vec2 c = tracedToShown.Apply(h.centre);
        drawing.holes.push_back({QPointF(c.x, c.y), h.diameterPx / 2, h.ringed});
    }
}

QImage SmallImage(const Raster& picture, double& scale) {
    const double longest = std::max(1, std::max(picture.Width(), picture.Height()));
    scale = std::min(1.0, kSmallDrawingSide / longest);
    const int w = std::max(1, static_cast<int>(std::ceil(picture.Width() * scale)));
    const int h = std::max(1, static_cast<int>(std::ceil(picture.Height() * scale)));
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) throw std::bad_alloc();
    image.fill(Qt::transparent);
    return image;
}

// Fills paths (in a frame that toImage maps onto image) with brushOf(k).
template <class BrushOf>
void Fill(QImage& image, const QTransform& toImage, const std::vector<QPainterPath>& paths, BrushOf brushOf,
          const std::atomic<bool>& stop) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setTransform(toImage);
    for (size_t k = 0; k < paths.size(); ++k) {
        if ((k & 255) == 0 && stop.load()) throw Stopped{};
        painter.setBrush(brushOf(k));
        painter.drawPath(paths[k]);
    }
}

bool SameRequest(const SideRequest& a, const SideRequest& b) {
    return a.colors.copper == b.colors.copper && a.colors.noncopper == b.colors.noncopper &&
           a.colors.holes == b.colors.holes && a.rule == b.rule && a.tolerance == b.tolerance &&
           a.despeckle == b.despeckle && a.xres == b.xres && a.yres == b.yres;
}

}  // namespace

QTransform TransformOf(const Affine2& a) { return QTransform(a.m00, a.m10, a.m01, a.m11, a.tx, a.ty); }

QColor NetColor(int32_t net) {
    const int hue = static_cast<int>((static_cast<int64_t>(net) * 137) % 360);
    return QColor::fromHsv(hue, 210, 250);
}

Affine2 ShownToTraced(bool mirrored, int32_t width) {
    Affine2 map;
    if (mirrored) {
        map.m00 = -1;
        map.tx = width;
    }
    return map;
}

BoardTask::BoardTask(Request request, Done done, std::function<void(int64_t, int64_t)> onRows)
    : request_(std::move(request)), done_(std::move(done)), onRows_(std::move(onRows)) {
    thread_ = std::thread([this] { Run(); });
}

BoardTask::~BoardTask() { Stop(); }

void BoardTask::Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

bool BoardTask::SameTraces(const BoardResult& result, const BoardSideInput (&sides)[2]) {
    for (int s = 0; s < 2; ++s) {
        const BoardSideInput& a = result.inputs[s];
        const BoardSideInput& b = sides[s];
        if (a.picture != b.picture || a.mirrored != b.mirrored || !SameRequest(a.request, b.request)) return false;
    }
    return result.top != nullptr && result.bottom != nullptr;
}

void BoardTask::Run() {
    const auto started = std::chrono::steady_clock::now();
    std::shared_ptr<BoardResult> result;
    std::optional<std::string> error;
    try {
        result = std::make_shared<BoardResult>();
        for (int s = 0; s < 2; ++s) result->inputs[s] = request_.sides[s];
        const BoardSideInput& topIn = request_.sides[0];
        const BoardSideInput& bottomIn = request_.sides[1];
        if (topIn.picture == nullptr || bottomIn.picture == nullptr) throw Error("Both sides must be open");
        // The bottom is traced as it was scanned: where exactly one side is
        // mirrored in the window, its picture is mirrored back.
        const bool traceMirror = topIn.mirrored != bottomIn.mirrored;
        result->bottomShownToTraced = ShownToTraced(traceMirror, bottomIn.picture->Width());

        if (request_.reuse != nullptr && SameTraces(*request_.reuse, request_.sides)) {
            result->top = request_.reuse->top;
            result->bottom = request_.reuse->bottom;
        } else {
            const int64_t all = int64_t{topIn.picture->Height()} + bottomIn.picture->Height();
            int64_t before = 0;
            auto trace = [&](const BoardSideInput& side, bool mirror) {
                std::unique_ptr<PictureRows> rows = SharedRasterRows(side.picture);
                if (mirror) rows = MirroredRows(std::move(rows), true, false);
                auto traced = std::make_shared<SideTrace>(TraceSide(std::move(rows), side.request, [&](int32_t row) {
                    if (stop_.load()) throw Stopped{};
                    if (onRows_ && (row & 63) == 0) onRows_(before + row, all);
                }));
                before += side.picture->Height();
                return traced;
            };
            result->top = trace(topIn, false);
            result->bottom = trace(bottomIn, traceMirror);
            if (onRows_) onRows_(all, all);
        }
        if (stop_.load()) throw Stopped{};

        std::vector<std::pair<Vec2, Vec2>> points;
        for (const auto& [t, b] : request_.points) {
            points.push_back({{t.x(), t.y()}, result->bottomShownToTraced.Apply({b.x(), b.y()})});
        }
        result->onPoints = !points.empty();
        result->alignment = AlignTracedSides(*result->top, *result->bottom, points);
        result->bottomShownToTop = result->bottomShownToTraced.Then(result->alignment.bottomToTop);
        if (stop_.load()) throw Stopped{};
        result->model = AssembleBoard(*result->top, result->bottom.get(), result->alignment.bottomToTop,
                                      result->alignment.pairs, &result->facts);

        // The drawings: each side's regions in its shown pixels, and each
        // side's small picture of the other side's copper carried onto it.
        Collect(*result->top, Affine2{}, result->model, 0, result->drawings[0], stop_);
        Collect(*result->bottom, result->bottomShownToTraced.Inverse(), result->model, result->top->regions.size(),
                result->drawings[1], stop_);
        const QColor overlay(0, 190, 255, 150);
        for (int s = 0; s < 2; ++s) {
            SideDrawing& d = result->drawings[s];
            const Raster& picture = *request_.sides[s].picture;
            d.copper = SmallImage(picture, d.scale);
            d.nets = SmallImage(picture, d.scale);
            const Affine2 otherToThis = s == 0 ? result->bottomShownToTop : result->bottomShownToTop.Inverse();
            const QTransform scale = QTransform::fromScale(d.scale, d.scale);
            Fill(d.copper, TransformOf(otherToThis) * scale, result->drawings[1 - s].paths,
                 [&](size_t) { return QBrush(overlay); }, stop_);
            Fill(d.nets, scale, d.paths,
                 [&](size_t k) {
                     QColor c = NetColor(d.netOf[k]);
                     c.setAlpha(170);
                     return QBrush(c);
                 },
                 stop_);
        }
        if (request_.output) {
            WriteBoardFiles(result->model, request_.output->first, request_.output->second, RASTRACE_VERSION,
                            [this] { return stop_.load(); });
        }
    } catch (const Stopped&) {
        error = "Stopped";
        result.reset();
    } catch (const std::bad_alloc&) {
        error = "Out of memory";
        result.reset();
    } catch (const std::exception& e) {
        error = e.what();
        result.reset();
    }
    if (result) {
        result->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
    if (!stop_.load() && done_) {
        try {
            done_(std::move(result), std::move(error));
        } catch (...) {
            // The window is told by its own post; nothing is left to tell here.
        }
    }
}

}  // namespace rastrace::ui
