#include "ui/MatchAdapter.h"

#include <algorithm>

namespace rastrace::ui {

namespace {

int64_t SquaredDistance(uint32_t a, uint32_t b) {
    const int64_t dr = static_cast<int64_t>(a & 0xFF) - static_cast<int64_t>(b & 0xFF);
    const int64_t dg = static_cast<int64_t>((a >> 8) & 0xFF) - static_cast<int64_t>((b >> 8) & 0xFF);
    const int64_t db = static_cast<int64_t>((a >> 16) & 0xFF) - static_cast<int64_t>((b >> 16) & 0xFF);
    return dr * dr + dg * dg + db * db;
}

enum GridSide : unsigned { kLeftSide = 1, kTopSide = 2, kRightSide = 4, kBottomSide = 8 };

bool IsCopper(uint8_t cls) { return cls != kUntracedClass && cls != kBackgroundClass; }

// Walks the 4-connected component of grid entry start whose entries satisfy
// member, appending them to component and calling neighbour for every
// entry next to it outside it. Returns the grid sides it touches (a
// GridSide mask). seen marks every entry walked.
template <class Member, class Neighbour>
unsigned WalkComponent(size_t start, size_t width, size_t height, std::vector<uint8_t>& seen, Member member,
                   Neighbour neighbour, std::vector<size_t>& component) {
    component.clear();
    unsigned sides = 0;
    seen[start] = 1;
    component.push_back(start);
    for (size_t next = 0; next < component.size(); ++next) {
        const size_t i = component[next];
        const size_t x = i % width;
        const size_t y = i / width;
        if (x == 0) sides |= kLeftSide;
        if (y == 0) sides |= kTopSide;
        if (x + 1 == width) sides |= kRightSide;
        if (y + 1 == height) sides |= kBottomSide;
        const size_t around[4] = {x > 0 ? i - 1 : SIZE_MAX, x + 1 < width ? i + 1 : SIZE_MAX,
                                  y > 0 ? i - width : SIZE_MAX, y + 1 < height ? i + width : SIZE_MAX};
        for (size_t j : around) {
            if (j == SIZE_MAX) continue;
            if (member(j)) {
                if (!seen[j]) {
                    seen[j] = 1;
                    component.push_back(j);
                }
            } else {
                neighbour(j);
            }
        }
    }
    return sides;
}

// Drops copper regions below despeckle entries, then fills holes below
// despeckle entries that one copper colour wholly encloses. A region that
// reaches a cut side may go on beyond it and is kept; a hole that reaches
// any side is not enclosed.
void Despeckle(std::vector<uint8_t>& cls, size_t width, size_t height, int despeckle, unsigned cutSides) {
    if (despeckle <= 0 || width == 0 || height == 0) return;
    const size_t limit = static_cast<size_t>(despeckle);
    std::vector<uint8_t> seen(cls.size(), 0);
    std::vector<size_t> component;

    for (size_t i = 0; i < cls.size(); ++i) {
        if (seen[i] || !IsCopper(cls[i])) continue;
        const uint8_t colour = cls[i];
        const unsigned sides = WalkComponent(
            i, width, height, seen, [&](size_t j) { return cls[j] == colour; }, [](size_t) {}, component);
        if ((sides & cutSides) == 0 && component.size() < limit) {
            for (size_t j : component) cls[j] = kUntracedClass;
        }
    }

    std::fill(seen.begin(), seen.end(), 0);
    for (size_t i = 0; i < cls.size(); ++i) {
        if (seen[i] || IsCopper(cls[i])) continue;
        int enclosing = -1;  // the one copper class around it; -2 when there are several
        const unsigned sides = WalkComponent(
            i, width, height, seen, [&](size_t j) { return !IsCopper(cls[j]); },
            [&](size_t j) {
                if (enclosing == -1) enclosing = cls[j];
                else if (enclosing != cls[j]) enclosing = -2;
            },
            component);
        if (sides == 0 && enclosing >= 0 && component.size() < limit) {
            for (size_t j : component) cls[j] = static_cast<uint8_t>(enclosing);
        }
    }
}

}  // namespace

uint8_t ClassifyColor(uint32_t packed, const MatchSettings& settings) {
    if (settings.tolerance <= 0) {
        for (size_t k = 0; k < settings.copper.size(); ++k) {
            if (settings.copper[k] == packed) return static_cast<uint8_t>(std::min<size_t>(k, kMaxCopperClasses - 1) + 1);
        }
        return kUntracedClass;
    }
    const int64_t limit = static_cast<int64_t>(settings.tolerance) * settings.tolerance;
    int64_t best = limit + 1;
    uint8_t cls = kUntracedClass;
    // Strictly nearer only: the earlier copper colour keeps a tie, and
    // background, looked at last, never takes a tie from copper.
    for (size_t k = 0; k < settings.copper.size(); ++k) {
        const int64_t d = SquaredDistance(packed, settings.copper[k]);
        if (d < best) {
            best = d;
            cls = static_cast<uint8_t>(std::min<size_t>(k, kMaxCopperClasses - 1) + 1);
        }
    }
    for (uint32_t colour : settings.background) {
        const int64_t d = SquaredDistance(packed, colour);
        if (d < best) {
            best = d;
            cls = kBackgroundClass;
        }
    }
    return cls;
}

void ClassifyGrid(const Raster& raster, const std::vector<int32_t>& xs, const std::vector<int32_t>& ys,
                  const MatchSettings& settings, int despeckle, std::vector<uint8_t>& classOut) {
    classOut.assign(xs.size() * ys.size(), kUntracedClass);
    if (settings.copper.empty()) return;
    // Scans hold long stretches of one colour; the last answer is kept.
    uint32_t lastColour = kInvalidColor;
    uint8_t lastClass = kUntracedClass;
    size_t out = 0;
    for (int32_t y : ys) {
        const uint8_t* row = raster.RowBytes(y).data();
        for (int32_t x : xs) {
            const uint32_t packed = PackColor(row + static_cast<size_t>(x) * 3);
            if (packed != lastColour) {
                lastColour = packed;
                lastClass = ClassifyColor(packed, settings);
            }
            classOut[out++] = lastClass;
        }
    }
    // A side is a cut unless the grid reaches the picture's edge there.
    unsigned cuts = 0;
    if (!xs.empty() && !ys.empty()) {
        if (xs.front() > 0) cuts |= kLeftSide;
        if (ys.front() > 0) cuts |= kTopSide;
        if (xs.back() < raster.Width() - 1) cuts |= kRightSide;
        if (ys.back() < raster.Height() - 1) cuts |= kBottomSide;
    }
    Despeckle(classOut, xs.size(), ys.size(), despeckle, cuts);
}

int DespeckleMargin(int despeckle) {
    if (despeckle <= 0) return 0;
    return static_cast<int>(std::min<int64_t>(static_cast<int64_t>(despeckle) * 2, kMaxDespeckleMargin));
}

QRect ClassifyRows(const Raster& raster, QRect visible, const MatchSettings& settings,
                   std::vector<uint8_t>& classOut) {
    const QRect picture(0, 0, raster.Width(), raster.Height());
    visible &= picture;
    classOut.clear();
    if (visible.isEmpty()) return visible;
    const int margin = DespeckleMargin(settings.despeckle);
    const QRect grown = visible.adjusted(-margin, -margin, margin, margin) & picture;

    std::vector<int32_t> xs(static_cast<size_t>(grown.width()));
    std::vector<int32_t> ys(static_cast<size_t>(grown.height()));
    for (size_t i = 0; i < xs.size(); ++i) xs[i] = grown.left() + static_cast<int32_t>(i);
    for (size_t i = 0; i < ys.size(); ++i) ys[i] = grown.top() + static_cast<int32_t>(i);
    std::vector<uint8_t> all;
    ClassifyGrid(raster, xs, ys, settings, settings.despeckle, all);
    classOut.resize(static_cast<size_t>(visible.width()) * static_cast<size_t>(visible.height()));
    const size_t gw = static_cast<size_t>(grown.width());
    for (int y = 0; y < visible.height(); ++y) {
        const size_t from = static_cast<size_t>(y + visible.top() - grown.top()) * gw +
                            static_cast<size_t>(visible.left() - grown.left());
        std::copy_n(all.begin() + static_cast<std::ptrdiff_t>(from), visible.width(),
                    classOut.begin() + static_cast<std::ptrdiff_t>(y) * visible.width());
    }
    return visible;
}

}  // namespace rastrace::ui
