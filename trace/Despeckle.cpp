// Speckle removal on a class map by connected-component labelling: the
// map's rows are cut into runs of equal bytes, and runs of one class that
// touch across neighbouring rows are united (union-find over runs, one
// entry per run). A second scan regenerates the same runs in the same
// order, so each run finds its region again by its number without any run
// being stored.
#include "common/Error.h"
#include "trace/ColorMatch.h"
#include "trace/Scanner.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

namespace rastrace {

namespace {

struct RowRun {
    int32_t start, end;  // columns start..end-1
    uint32_t id;
    uint8_t cls;
};

// Cuts a row into maximal runs of equal bytes: emit(start, end, value),
// end exclusive, left to right.
template <class Emit>
void SplitRow(const uint8_t* row, int32_t width, Emit&& emit) {
    int32_t i = 0;
    while (i < width) {
        const uint8_t value = row[i];
        const int32_t end = detail::FindByte<false>(row, i + 1, width, value);
        emit(i, end, value);
        i = end;
    }
}

// Union-find over runs. A region's root is its lowest run number and holds
// its area (saturating) and whether it touches the picture's edge.
class Regions {
public:
    uint32_t Add(uint32_t area, bool edge, uint8_t cls) {
        if (parent_.size() >= std::numeric_limits<uint32_t>::max() - 1) ThrowOutOfMemory();
        const auto id = static_cast<uint32_t>(parent_.size());
        parent_.push_back(id);
        area_.push_back(area);
        edge_.push_back(edge);
        cls_.push_back(cls);
        return id;
    }

    uint32_t Find(uint32_t a) {
        while (parent_[a] != a) {
            parent_[a] = parent_[parent_[a]];  // path halving
            a = parent_[a];
        }
        return a;
    }

    void Unite(uint32_t a, uint32_t b) {
        a = Find(a);
        b = Find(b);
        if (a == b) return;
        if (b < a) std::swap(a, b);
        parent_[b] = a;
        const uint64_t sum = static_cast<uint64_t>(area_[a]) + area_[b];
        area_[a] = static_cast<uint32_t>(std::min<uint64_t>(sum, std::numeric_limits<uint32_t>::max()));
        edge_[a] = edge_[a] | edge_[b];
    }

    uint32_t Area(uint32_t root) const { return area_[root]; }
    bool Edge(uint32_t root) const { return edge_[root] != 0; }
    uint8_t Class(uint32_t root) const { return cls_[root]; }

private:
    std::vector<uint32_t> parent_;
    std::vector<uint32_t> area_;
    std::vector<uint8_t> edge_;
    std::vector<uint8_t> cls_;
};

// Labels the map's runs into regions (4-connected: runs in neighbouring
// rows join when their columns overlap). Calls onTouch(a, b) for every pair
// of touching runs of different classes (neighbours in a row, overlaps
// across rows), after the row's unions.
template <class OnTouch>
void Label(const ClassMap& map, Regions& regions, const std::function<void()>& checkStop, OnTouch&& onTouch) {
    const int32_t width = map.Width(), height = map.Height();
    std::vector<RowRun> prev, cur;
    for (int32_t y = 0; y < height; ++y) {
        if (checkStop && y % 256 == 0) checkStop();
        cur.clear();
        const bool edgeRow = y == 0 || y == height - 1;
        SplitRow(map.Row(y), width, [&](int32_t s, int32_t e, uint8_t v) {
            const bool edge = edgeRow || s == 0 || e == width;
            cur.push_back(RowRun{s, e, regions.Add(static_cast<uint32_t>(e - s), edge, v), v});
        });
        // Overlapping pairs of the two rows, in one sweep; the run that
        // ends first cannot overlap anything further on.
        auto sweep = [&](auto&& onOverlap) {
            size_t i = 0, j = 0;
            while (i < prev.size() && j < cur.size()) {
                const RowRun& a = prev[i];
                const RowRun& b = cur[j];
                if (a.start < b.end && b.start < a.end) onOverlap(a, b);
                if (a.end < b.end) {
                    ++i;
                } else if (b.end < a.end) {
                    ++j;
                } else {
                    ++i;
                    ++j;
                }
            }
        };
        sweep([&](const RowRun& a, const RowRun& b) {
            if (a.cls == b.cls) regions.Unite(a.id, b.id);
        });
        sweep([&](const RowRun& a, const RowRun& b) {
            if (a.cls != b.cls) onTouch(a, b);
        });
        for (size_t j = 1; j < cur.size(); ++j) onTouch(cur[j - 1], cur[j]);
        std::swap(prev, cur);
    }
}

// Regenerates the runs Label numbered, in the same order, and lets
// change(row, run) rewrite the run's bytes (only its own).
template <class Change>
void Rewrite(ClassMap& map, const std::function<void()>& checkStop, Change&& change) {
    uint32_t id = 0;
    for (int32_t y = 0; y < map.Height(); ++y) {
        if (checkStop && y % 256 == 0) checkStop();
        uint8_t* row = map.Row(y);
        SplitRow(row, map.Width(), [&](int32_t s, int32_t e, uint8_t v) { change(row, RowRun{s, e, id++, v}); });
    }
}

}  // namespace

void Despeckle(ClassMap& map, int32_t n, const std::function<void()>& checkStop) {
    if (n <= 1 || map.Width() == 0 || map.Height() == 0) return;
    const auto limit = static_cast<uint32_t>(n);

    // 1. Small regions of a class are dropped.
    {
        Regions regions;
        Label(map, regions, checkStop, [](const RowRun&, const RowRun&) {});
        Rewrite(map, checkStop, [&](uint8_t* row, const RowRun& run) {
            if (run.cls != kNoClass && regions.Area(regions.Find(run.id)) < limit) {
                std::memset(row + run.start, kNoClass, static_cast<size_t>(run.end - run.start));
            }
        });
    }

    // 2. Small holes enclosed by one region are filled. A region that is
    // small and off the edge when a touch is seen may be a hole: its
    // touches are kept and looked at once every region is whole. (A region
    // only grows and only comes to touch the edge, so a hole's touches are
    // all kept.)
    Regions regions;
    std::vector<std::pair<uint32_t, uint32_t>> touches;  // (unmatched run, class run)
    Label(map, regions, checkStop, [&](const RowRun& a, const RowRun& b) {
        const RowRun* hole = a.cls == kNoClass ? &a : b.cls == kNoClass ? &b : nullptr;
        if (hole == nullptr) return;
        const uint32_t root = regions.Find(hole->id);
        if (regions.Area(root) < limit && !regions.Edge(root)) touches.emplace_back(hole->id, (hole == &a ? b : a).id);
    });
    constexpr uint32_t kSeveral = std::numeric_limits<uint32_t>::max();
    std::unordered_map<uint32_t, uint32_t> around;  // hole root -> the one region around it, or kSeveral
    for (const auto& [holeRun, classRun] : touches) {
        const uint32_t hole = regions.Find(holeRun);
        if (regions.Area(hole) >= limit || regions.Edge(hole)) continue;
        const uint32_t region = regions.Find(classRun);
        const auto [it, added] = around.emplace(hole, region);
        if (!added && it->second != region) it->second = kSeveral;
    }
    touches = {};
    if (around.empty()) return;
    Rewrite(map, checkStop, [&](uint8_t* row, const RowRun& run) {
        if (run.cls != kNoClass) return;
        const auto it = around.find(regions.Find(run.id));
        if (it == around.end() || it->second == kSeveral) return;
        std::memset(row + run.start, regions.Class(it->second), static_cast<size_t>(run.end - run.start));
    });
}

}  // namespace rastrace
