// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/Holes.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>

namespace rastrace {

namespace {

constexpr double kPi = 3.14159265358979323846;

// What a component gathers: its pixels' count and moments (about pixel
// centres), its box, whether it touches the picture's border, and how many
// of its pixels show the hole colour.
struct Moments {
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    int32_t minX = INT32_MAX, maxX = INT32_MIN, minY = INT32_MAX, maxY = INT32_MIN;
    bool border = false;
    int64_t holePixels = 0;

    void Add(const Moments& o) {
        n += o.n;
        sx += o.sx;
        sy += o.sy;
        sxx += o.sxx;
        syy += o.syy;
        sxy += o.sxy;
        minX = std::min(minX, o.minX);
        maxX = std::max(maxX, o.maxX);
        minY = std::min(minY, o.minY);
        maxY = std::max(maxY, o.maxY);
        border = border || o.border;
        holePixels += o.holePixels;
    }
};

// The moments of a run [start, end) over rows first .. first + rows - 1.
Moments RunMoments(Span run, int32_t first, int32_t rows) {
    Moments m;
    const double len = run.end - run.start;
    // Sums over the columns' centres x + 0.5, and over the rows' centres.
    const double a = run.start + 0.5, b = run.end - 0.5;
    const double sumX = len * (a + b) / 2;
    const double sumXX = [&] {
        auto s2 = [](double k) { return k * (k + 1) * (2 * k + 1) / 6; };  // 1² + ... + k²
        // sum over x of (x + 0.5)² = sum x² + sum x + len / 4
        const double lo = run.start, hi = run.end - 1.0;
        const double sx2 = s2(hi) - (lo > 0 ? s2(lo - 1) : 0);
        const double sx1 = (lo + hi) * len / 2;
        return sx2 + sx1 + len / 4;
    }();
    const double r = rows;
    const double c = first + 0.5, d = first + rows - 0.5;
    const double sumY = r * (c + d) / 2;
    const double sumYY = [&] {
        auto s2 = [](double k) { return k * (k + 1) * (2 * k + 1) / 6; };
        const double lo = first, hi = first + rows - 1.0;
        const double sy2 = s2(hi) - (lo > 0 ? s2(lo - 1) : 0);
        const double sy1 = (lo + hi) * r / 2;
        return sy2 + sy1 + r / 4;
    }();
    m.n = len * r;
    m.sx = sumX * r;
    m.sy = sumY * len;
    m.sxx = sumXX * r;
    m.syy = sumYY * len;
    m.sxy = sumX * sumY;
    m.minX = run.start;
    m.maxX = run.end - 1;
    m.minY = first;
    m.maxY = first + rows - 1;
    return m;
}

// 4-connected components of the runs of successive rows, each handed to
// a sink when its last row has passed. Labels are recycled.
class RunComponents {
public:
    using Sink = std::function<void(const Moments&)>;
    RunComponents(int32_t width, Sink sink) : width_(width), sink_(std::move(sink)) {}

    // extra[i]: the hole pixels of run i (may be empty: none).
    void Row(int32_t y, std::span<const Span> runs, std::span<const int64_t> extra) {
        curLabels_.clear();
        size_t j = 0;
        for (size_t i = 0; i < runs.size(); ++i) {
            const Span run = runs[i];
            while (j < prevRuns_.size() && prevRuns_[j].end <= run.start) ++j;
            int32_t label = -1;
            for (size_t k = j; k < prevRuns_.size() && prevRuns_[k].start < run.end; ++k) {
                const int32_t other = Find(prevLabels_[k]);
                label = label < 0 ? other : Unite(label, other);
            }
            if (label < 0) label = NewLabel();
            Moments m = RunMoments(run, y, 1);
            m.border = run.start == 0 || run.end == width_ || y == 0;
            m.holePixels = extra.empty() ? 0 : extra[i];
            labels_[static_cast<size_t>(label)].m.Add(m);
            curLabels_.push_back(label);
        }
        for (int32_t& l : curLabels_) {
            l = Find(l);
            labels_[static_cast<size_t>(l)].stamp = y;
        }
        // Components of the last row that reach no run of this one are done;
        // labels merged into others are free.
        for (int32_t p : prevLabels_) {
            if (labels_[static_cast<size_t>(p)].closed) continue;  // a label of several runs, seen
            const int32_t r = Find(p);
            if (p != r) {
                labels_[static_cast<size_t>(p)].closed = true;
                freeing_.push_back(p);
            } else if (labels_[static_cast<size_t>(r)].stamp != y) {
                labels_[static_cast<size_t>(r)].closed = true;
                sink_(labels_[static_cast<size_t>(r)].m);
                freeing_.push_back(r);
            }
        }
        for (int32_t l : freeing_) Free(l);
        freeing_.clear();
        prevRuns_.assign(runs.begin(), runs.end());
        prevLabels_.swap(curLabels_);
        lastY_ = y;
        lastExtra_.assign(extra.begin(), extra.end());
    }

    // The last row again, times more rows.
    void Repeat(int32_t times) {
        for (size_t i = 0; i < prevRuns_.size(); ++i) {
            Moments m = RunMoments(prevRuns_[i], lastY_ + 1, times);
            m.holePixels = lastExtra_.empty() ? 0 : lastExtra_[i] * times;
            m.border = prevRuns_[i].start == 0 || prevRuns_[i].end == width_;
            labels_[static_cast<size_t>(prevLabels_[i])].m.Add(m);
        }
        lastY_ += times;
    }

    // The bottom of the picture: every open component touches it.
    void Finish() {
        for (int32_t l : prevLabels_) {
            Label& label = labels_[static_cast<size_t>(l)];
            if (label.closed) continue;
            label.closed = true;
            label.m.border = true;
            sink_(label.m);
        }
        prevLabels_.clear();
        prevRuns_.clear();
    }

private:
    struct Label {
        int32_t parent = 0;
        int32_t stamp = -1;
        bool closed = false;
        Moments m;
    };

    int32_t NewLabel() {
        int32_t l;
        if (!free_.empty()) {
            l = free_.back();
            free_.pop_back();
        } else {
            l = static_cast<int32_t>(labels_.size());
            labels_.emplace_back();
        }
        labels_[static_cast<size_t>(l)] = Label{l, -1, false, {}};
        return l;
    }
    void Free(int32_t l) {
        labels_[static_cast<size_t>(l)].closed = true;
        free_.push_back(l);
    }
    int32_t Find(int32_t l) {
        while (labels_[static_cast<size_t>(l)].parent != l) l = labels_[static_cast<size_t>(l)].parent;
        return l;
    }
    int32_t Unite(int32_t a, int32_t b) {
        if (a == b) return a;
        labels_[static_cast<size_t>(a)].m.Add(labels_[static_cast<size_t>(b)].m);
        labels_[static_cast<size_t>(b)].parent = a;
        // Children point at the root directly: every label a child of b is
        // a run label of the last row, resolved by Find at its next use.
        return a;
    }

    int32_t width_;
    Sink sink_;
    std::vector<Label> labels_;
    std::vector<int32_t> free_, freeing_;
    std::vector<Span> prevRuns_;
    std::vector<int32_t> prevLabels_, curLabels_;
    std::vector<int64_t> lastExtra_;
    int32_t lastY_ = -1;
};

void CheckRuns(std::span<const Span> runs, int32_t width, const char* what) {
    int32_t last = 0;
    for (const Span& r : runs) {
        if (r.start < last || r.end <= r.start || r.end > width) {
            throw std::invalid_argument(std::string("HoleFinder: the ") + what + " runs are not sorted runs of the row");
        }
        last = r.end;
    }
}

double PerpendicularDistance(Vec2 p, Vec2 a, Vec2 b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len = std::hypot(dx, dy);
    if (len == 0) return std::hypot(p.x - a.x, p.y - a.y);
    return std::abs(dy * (p.x - a.x) - dx * (p.y - a.y)) / len;
}

void Simplify(const std::vector<Vec2>& pts, size_t first, size_t last, double tolerance, std::vector<bool>& keep) {
    // An explicit stack: outlines of tall boards have many points.
    std::vector<std::pair<size_t, size_t>> todo{{first, last}};
    while (!todo.empty()) {
        auto [a, b] = todo.back();
        todo.pop_back();
        if (b <= a + 1) continue;
        double worst = -1;
        size_t at = a;
        for (size_t i = a + 1; i < b; ++i) {
            const double d = PerpendicularDistance(pts[i], pts[a], pts[b]);
            if (d > worst) {
                worst = d;
                at = i;
            }
        }
        if (worst > tolerance) {
            keep[at] = true;
            todo.push_back({a, at});
            todo.push_back({at, b});
        }
    }
}

}  // namespace

std::vector<Vec2> SimplifyClosed(const std::vector<Vec2>& points, double tolerance) {
    if (points.size() < 4) return points;
    // Split at the point farthest from the first, simplify both halves.
    size_t far = 0;
    double best = -1;
    for (size_t i = 1; i < points.size(); ++i) {
        const double d = std::hypot(points[i].x - points[0].x, points[i].y - points[0].y);
        if (d > best) {
            best = d;
            far = i;
        }
    }
    std::vector<Vec2> ring(points);
    ring.push_back(points[0]);
    std::vector<bool> keep(ring.size(), false);
    keep[0] = keep[far] = keep[ring.size() - 1] = true;
    Simplify(ring, 0, far, tolerance, keep);
    Simplify(ring, far, ring.size() - 1, tolerance, keep);
    std::vector<Vec2> out;
    for (size_t i = 0; i + 1 < ring.size(); ++i) {
        if (keep[i]) out.push_back(ring[i]);
    }
    return out;
}

HoleLimits HoleLimitsFor(int32_t xres, int32_t yres) {
    const double dpi = std::sqrt(std::abs(static_cast<double>(xres)) * std::abs(static_cast<double>(yres)));
    return {0.2 / 25.4 * dpi, 7.0 / 25.4 * dpi};
}

struct HoleFinder::State {
    int32_t width, height;
    HoleLimits limits;
    bool holeColours;
    std::vector<Hole> holes;
    std::vector<Vec2> edge;
    RunComponents holeParts, openings;
    int32_t rows = 0;
    std::vector<Span> noncopper, lastHole;
    std::vector<int64_t> extra;
    // Per row: the board's extent between the lid reaching in from the left
    // and from the right; left > right where the row is all lid.
    std::vector<int32_t> left, right;
    bool lidSeen = false;

    State(int32_t w, int32_t h, const HoleLimits& l, bool hc)
        : width(w), height(h), limits(l), holeColours(hc),
          holeParts(w, [this](const Moments& m) { Consider(m, false); }),
          openings(w, [this](const Moments& m) { Consider(m, true); }) {}

    void Consider(const Moments& m, bool opening) {
        if (m.border || m.n <= 0) return;
        // An opening that shows the hole colour is told by that colour's patch.
        if (opening && holeColours && m.holePixels > 0) return;
        const double diameter = 2 * std::sqrt(m.n / kPi);
        if (diameter < limits.minDiameterPx || diameter > limits.maxDiameterPx) return;
        const double mx = m.sx / m.n, my = m.sy / m.n;
        const double vxx = m.sxx / m.n - mx * mx, vyy = m.syy / m.n - my * my, vxy = m.sxy / m.n - mx * my;
        const double mean = (vxx + vyy) / 2, diff = std::sqrt((vxx - vyy) * (vxx - vyy) / 4 + vxy * vxy);
        const double l1 = mean + diff, l2 = mean - diff;
        // A disc: equal axes, each of variance r²/4 (plus a pixel's 1/12).
        const double expected = m.n / (4 * kPi) + 1.0 / 12;
        if (l2 <= 0 || l2 / l1 < 0.7) return;
        if (std::abs(l1 + l2 - 2 * expected) > 0.25 * 2 * expected) return;
        const double box = static_cast<double>(m.maxX - m.minX + 1) * static_cast<double>(m.maxY - m.minY + 1);
        const double fill = m.n / box;
        if (fill < 0.6 || fill > 0.92) return;  // a disc fills pi/4 of its box; a square all of it
        Hole hole;
        hole.centre = {mx, my};
        hole.pixels = static_cast<int64_t>(m.n);
        hole.diameterPx = diameter;
        hole.ringed = opening;
        holes.push_back(hole);
    }

    void Extent(std::span<const Span> hole) {
        // The lid reaching in from each side, across specks of up to a few pixels.
        constexpr int32_t kSpeck = 3;
        merged.clear();
        for (const Span& h : hole) {
            if (!merged.empty() && h.start - merged.back().end <= kSpeck) {
                merged.back().end = h.end;
            } else {
                merged.push_back(h);
            }
        }
        int32_t l = 0, r = width;
        if (!merged.empty() && merged.front().start == 0) l = merged.front().end;
        if (!merged.empty() && merged.back().end == width) r = merged.back().start;
        if (merged.size() == 1 && l == width) r = 0;  // all lid
        if (l > 0 || r < width) lidSeen = true;
        left.push_back(l);
        right.push_back(r);
    }
    std::vector<Span> merged;
};

HoleFinder::HoleFinder(int32_t width, int32_t height, const HoleLimits& limits, bool holeColours)
    : s_(std::make_unique<State>(width, height, limits, holeColours)) {}

HoleFinder::~HoleFinder() = default;
HoleFinder::HoleFinder(HoleFinder&&) noexcept = default;
HoleFinder& HoleFinder::operator=(HoleFinder&&) noexcept = default;

void HoleFinder::AddRow(std::span<const Span> copper, std::span<const Span> hole) {
    State& s = *s_;
    CheckRuns(copper, s.width, "copper");
    CheckRuns(hole, s.width, "hole");
    // The non-copper runs, each with the hole pixels it holds.
    s.noncopper.clear();
    int32_t x = 0;
    for (const Span& c : copper) {
        if (c.start > x) s.noncopper.push_back({x, c.start});
        x = c.end;
    }
    if (x < s.width) s.noncopper.push_back({x, s.width});
    s.extra.assign(s.noncopper.size(), 0);
    size_t j = 0;
    for (size_t i = 0; i < s.noncopper.size(); ++i) {
        while (j < hole.size() && hole[j].end <= s.noncopper[i].start) ++j;
        for (size_t k = j; k < hole.size() && hole[k].start < s.noncopper[i].end; ++k) {
            const int32_t a = std::max(hole[k].start, s.noncopper[i].start);
            const int32_t b = std::min(hole[k].end, s.noncopper[i].end);
            if (b > a) s.extra[i] += b - a;
            if (hole[k].end > s.noncopper[i].end) break;
        }
    }
    for (const Span& h : hole) {
        // A hole run inside copper means the lists overlap.
        auto it = std::upper_bound(copper.begin(), copper.end(), h.start,
                                   [](int32_t v, const Span& c) { return v < c.end; });
        if (it != copper.end() && it->start < h.end) {
            throw std::invalid_argument("HoleFinder: copper and hole runs overlap");
        }
    }
    s.holeParts.Row(s.rows, hole, {});
    s.openings.Row(s.rows, s.noncopper, s.extra);
    if (s.holeColours) s.Extent(hole);
    s.lastHole.assign(hole.begin(), hole.end());
    ++s.rows;
}

void HoleFinder::RepeatRow(int32_t times) {
    State& s = *s_;
    if (times <= 0) return;
    s.holeParts.Repeat(times);
    s.openings.Repeat(times);
    if (s.holeColours) {
        s.left.insert(s.left.end(), static_cast<size_t>(times), s.left.back());
        s.right.insert(s.right.end(), static_cast<size_t>(times), s.right.back());
    }
    s.rows += times;
}

void HoleFinder::Finish() {
    State& s = *s_;
    s.holeParts.Finish();
    s.openings.Finish();
    std::sort(s.holes.begin(), s.holes.end(), [](const Hole& a, const Hole& b) {
        return a.centre.y != b.centre.y ? a.centre.y < b.centre.y : a.centre.x < b.centre.x;
    });
    if (!s.holeColours || !s.lidSeen || s.left.empty()) return;
    // The longest stretch of rows that are board; spikes of single rows
    // (dust in the lid) smoothed by a median of five.
    const size_t n = s.left.size();
    auto median = [n](const std::vector<int32_t>& v, size_t i) {
        int32_t w[5] = {};
        int k = 0;
        for (size_t j = i >= 2 ? i - 2 : 0; j <= std::min(n - 1, i + 2); ++j) w[k++] = v[j];
        std::nth_element(w, w + k / 2, w + k);
        return w[k / 2];
    };
    std::vector<int32_t> l(n), r(n);
    for (size_t i = 0; i < n; ++i) {
        l[i] = median(s.left, i);
        r[i] = median(s.right, i);
    }
    size_t bestFirst = 0, bestLen = 0;
    for (size_t i = 0; i < n;) {
        if (l[i] >= r[i]) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < n && l[j] < r[j]) ++j;
        if (j - i > bestLen) {
            bestFirst = i;
            bestLen = j - i;
        }
        i = j;
    }
    if (bestLen < 2) return;
    std::vector<Vec2> ring;
    for (size_t i = bestFirst; i < bestFirst + bestLen; ++i) {
        ring.push_back({static_cast<double>(l[i]), static_cast<double>(i)});
        ring.push_back({static_cast<double>(l[i]), static_cast<double>(i + 1)});
    }
    for (size_t i = bestFirst + bestLen; i-- > bestFirst;) {
        ring.push_back({static_cast<double>(r[i]), static_cast<double>(i + 1)});
        ring.push_back({static_cast<double>(r[i]), static_cast<double>(i)});
    }
    s.edge = SimplifyClosed(ring, 1.0);
}

const std::vector<Hole>& HoleFinder::Holes() const { return s_->holes; }
const std::vector<Vec2>& HoleFinder::Edge() const { return s_->edge; }

}  // namespace rastrace
