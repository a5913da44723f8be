// SPDX-License-Identifier: GPL-3.0-or-later
// Speckle removal by connected-component labelling over runs: a map's rows
// are cut into runs of equal bytes once (or come as runs, ClassRuns), and
// runs of one class that touch across neighbouring rows are united
// (union-find over runs). Both steps work on the one labelling: the
// regions step 1 drops become unmatched and are joined to the unmatched
// runs around them, so the holes of step 2 are found without labelling
// the map again. A map is written only where a run changes.
#include "common/Error.h"
#include "trace/ColorMatch.h"
#include "trace/Scanner.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <limits>
#include <system_error>
#include <thread>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace rastrace {

namespace {

// Rows are worked on in bands, one per thread: band 0 on the calling
// thread (the only one that calls checkStop), the others on helpers.
struct Band {
    int32_t first, end;  // rows first..end-1
};

std::vector<Band> Bands(int32_t height, int threads) {
    const int count = height >= 512 ? std::max(1, threads) : 1;
    std::vector<Band> bands;
    for (int k = 0; k < count; ++k) {
        bands.push_back(Band{static_cast<int32_t>(static_cast<int64_t>(height) * k / count),
                             static_cast<int32_t>(static_cast<int64_t>(height) * (k + 1) / count)});
    }
    return bands;
}

// Runs work(k) for every band k, band 0 here and the others on helper
// threads (here too when no thread can be made); rethrows the first
// band's exception once all have ended.
template <class Work>
void ForBands(size_t count, Work&& work) {
    std::vector<std::exception_ptr> errors(count);
    auto run = [&](size_t k) {
        try {
            work(k);
        } catch (...) {
            errors[k] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    size_t k = 1;
    try {
        for (; k < count; ++k) helpers.emplace_back(run, k);
    } catch (const std::system_error&) {
    }
    run(0);
    for (std::thread& t : helpers) t.join();
    for (; k < count; ++k) run(k);
    for (const std::exception_ptr& e : errors) {
        if (e) std::rethrow_exception(e);
    }
}

ClassRuns SplitRows(const ClassMap& map, Band band, const std::function<void()>& checkStop) {
    ClassRuns runs;
    runs.width = map.Width();
    runs.rowStart.reserve(static_cast<size_t>(band.end - band.first) + 1);
    runs.spans.reserve(static_cast<size_t>(band.end - band.first) * 64);
    for (int32_t y = band.first; y < band.end; ++y) {
        if (checkStop && y % 256 == 0) checkStop();
        detail::AppendRowRuns(map.Row(y), map.Width(), runs);
    }
    return runs;
}

ClassRuns SplitMap(const ClassMap& map, const std::vector<Band>& bands, const std::function<void()>& checkStop) {
    std::vector<ClassRuns> parts(bands.size());
    ForBands(bands.size(), [&](size_t k) { parts[k] = SplitRows(map, bands[k], k == 0 ? checkStop : nullptr); });
    ClassRuns runs = std::move(parts[0]);
    for (size_t k = 1; k < parts.size(); ++k) {
        detail::AppendRuns(runs, parts[k]);
        parts[k] = ClassRuns();
    }
    return runs;
}

// Union-find over runs, numbered as in ClassRuns::spans. A region's root is
// its lowest run number and holds its area (saturating) and the sides of
// the picture it touches (a CutSide mask). A run's parent is never above
// it, so one pass from the first run makes every parent a root (Flatten),
// and Root then reads without writing: threads may share it.
class Regions {
public:
    explicit Regions(detail::RegionTable& table) : t_(table) {}

    // Room for count runs (existing entries kept).
    void Grow(size_t count) {
        if (count <= t_.parent.size()) return;
        t_.parent.resize(count);
        t_.area.resize(count);
        t_.edge.resize(count);
    }

    void Set(uint32_t id, uint32_t area, unsigned sides) {
        t_.parent[id] = id;
        t_.area[id] = area;
        t_.edge[id] = static_cast<uint8_t>(sides);
    }

    // Puts band's regions after the runs before offset, its run i becoming
    // run offset + i.
    void Append(const detail::RegionTable& band, uint32_t offset) {
        Grow(offset + band.parent.size());
        for (size_t i = 0; i < band.parent.size(); ++i) t_.parent[offset + i] = band.parent[i] + offset;
        std::copy(band.area.begin(), band.area.end(), t_.area.begin() + offset);
        std::copy(band.edge.begin(), band.edge.end(), t_.edge.begin() + offset);
    }

    uint32_t Find(uint32_t a) {
        std::vector<uint32_t>& parent = t_.parent;
        while (parent[a] != a) {
            parent[a] = parent[parent[a]];  // path halving
            a = parent[a];
        }
        return a;
    }

    // Makes every run's parent its root.
    void Flatten() {
        std::vector<uint32_t>& parent = t_.parent;
        for (size_t i = 0; i < parent.size(); ++i) parent[i] = parent[parent[i]];
    }
    // The root of a, after Flatten.
    uint32_t Root(uint32_t a) const { return t_.parent[a]; }

    void Unite(uint32_t a, uint32_t b) {
        a = Find(a);
        b = Find(b);
        if (a == b) return;
        if (b < a) std::swap(a, b);
        t_.parent[b] = a;
        const uint64_t sum = static_cast<uint64_t>(t_.area[a]) + t_.area[b];
        t_.area[a] = static_cast<uint32_t>(std::min<uint64_t>(sum, std::numeric_limits<uint32_t>::max()));
        t_.edge[a] = t_.edge[a] | t_.edge[b];
    }

    uint32_t Area(uint32_t root) const { return t_.area[root]; }
    bool Edge(uint32_t root) const { return t_.edge[root] != 0; }
    unsigned Sides(uint32_t root) const { return t_.edge[root]; }

private:
    detail::RegionTable& t_;
};

// A Regions with its own table.
class OwnRegions : public Regions {
public:
    explicit OwnRegions(size_t count) : Regions(table_) { Grow(count); }

private:
    detail::RegionTable table_;
};

// Joins row y to row y - 1: unites the overlapping runs of one class, in
// one sweep (both rows are tiled by their runs, so advancing the run that
// ends first visits exactly the pairs that share a column).
void JoinRows(const ClassRuns& runs, int32_t y, Regions& regions) {
    const ClassRun* s = runs.spans.data();
    const size_t first = runs.rowStart[static_cast<size_t>(y)], last = runs.rowStart[static_cast<size_t>(y) + 1];
    size_t i = runs.rowStart[static_cast<size_t>(y) - 1], j = first;
    while (i < first && j < last) {
        if (s[i].cls == s[j].cls) regions.Unite(static_cast<uint32_t>(i), static_cast<uint32_t>(j));
        const int32_t ei = s[i].end, ej = s[j].end;
        i += ei <= ej;
        j += ej <= ei;
    }
}

// Makes each run of rows first..end-1 a region of its own and joins each
// row to the row above it (within the rows given). Row y of runs is row
// y + rowOffset of a picture of height rows.
void LabelRows(const ClassRuns& runs, int32_t height, int32_t first, int32_t end, Regions& regions,
               const std::function<void()>& checkStop, int32_t rowOffset = 0) {
    const std::vector<ClassRun>& s = runs.spans;
    const int32_t width = runs.width;
    for (int32_t y = first; y < end; ++y) {
        if (checkStop && y % 256 == 0) checkStop();
        const size_t begin = runs.rowStart[static_cast<size_t>(y)], last = runs.rowStart[static_cast<size_t>(y) + 1];
        const int32_t row = y + rowOffset;
        const unsigned rowSides = (row == 0 ? kCutTop : 0u) | (row == height - 1 ? kCutBottom : 0u);
        for (size_t i = begin; i < last; ++i) {
            regions.Set(static_cast<uint32_t>(i), static_cast<uint32_t>(s[i].end - s[i].start),
                        rowSides | (s[i].start == 0 ? kCutLeft : 0u) | (s[i].end == width ? kCutRight : 0u));
        }
        if (y > first) JoinRows(runs, y, regions);
    }
}

// Labels the runs into regions (4-connected: runs in neighbouring rows
// join when their columns overlap), a band of rows per thread, then joins
// the bands.
void Label(const ClassRuns& runs, int32_t height, const std::vector<Band>& bands, Regions& regions,
           const std::function<void()>& checkStop) {
    ForBands(bands.size(), [&](size_t k) {
        LabelRows(runs, height, bands[k].first, bands[k].end, regions, k == 0 ? checkStop : nullptr);
    });
    for (size_t k = 1; k < bands.size(); ++k) JoinRows(runs, bands[k].first, regions);
}

// Calls onRun(j) for the runs of row y that share a column with
// columns start..end-1.
template <class OnRun>
void ForOverlapping(const ClassRuns& runs, int32_t y, int32_t start, int32_t end, OnRun&& onRun) {
    const auto first = runs.spans.begin() + static_cast<std::ptrdiff_t>(runs.rowStart[static_cast<size_t>(y)]);
    const auto last = runs.spans.begin() + static_cast<std::ptrdiff_t>(runs.rowStart[static_cast<size_t>(y) + 1]);
    auto it = std::upper_bound(first, last, start, [](int32_t column, const ClassRun& span) { return column < span.end; });
    for (; it != last && it->start < end; ++it) onRun(static_cast<size_t>(it - runs.spans.begin()));
}

// Calls onNeighbour(j) for every run j sharing an edge with run i of row y:
// beside it in the row and overlapping it in the rows above and below.
// Here and in the labelling, rows and runs count from the first held.
template <class OnNeighbour>
void ForNeighbours(const ClassRuns& runs, size_t i, int32_t y, OnNeighbour&& onNeighbour) {
    const ClassRun& span = runs.spans[i];
    if (i > runs.rowStart[static_cast<size_t>(y)]) onNeighbour(i - 1);
    if (i + 1 < runs.rowStart[static_cast<size_t>(y) + 1]) onNeighbour(i + 1);
    if (y > 0) ForOverlapping(runs, y - 1, span.start, span.end, onNeighbour);
    if (static_cast<size_t>(y) + 2 < runs.rowStart.size()) ForOverlapping(runs, y + 1, span.start, span.end, onNeighbour);
}

// ForNeighbours for runs of one row taken left to right: the runs above
// and below are found by moving on from the last run's, not by searching.
class RowNeighbours {
public:
    RowNeighbours(const ClassRuns& runs, int32_t y) : s_(runs.spans.data()) {
        const auto row = static_cast<size_t>(y);
        begin_ = runs.rowStart[row];
        end_ = runs.rowStart[row + 1];
        if (y > 0) {
            up_ = runs.rowStart[row - 1];
            upEnd_ = begin_;
        }
        if (row + 2 < runs.rowStart.size()) {
            down_ = end_;
            downEnd_ = runs.rowStart[row + 2];
        }
    }

    // Run i of the row, after those taken before it.
    template <class OnNeighbour>
    void ForEach(size_t i, OnNeighbour&& onNeighbour) {
        const ClassRun& span = s_[i];
        if (i > begin_) onNeighbour(i - 1);
        if (i + 1 < end_) onNeighbour(i + 1);
        Overlapping(up_, upEnd_, span, onNeighbour);
        Overlapping(down_, downEnd_, span, onNeighbour);
    }

private:
    template <class OnNeighbour>
    void Overlapping(size_t& from, size_t end, const ClassRun& span, OnNeighbour&& onNeighbour) {
        while (from < end && s_[from].end <= span.start) ++from;
        for (size_t j = from; j < end && s_[j].start < span.end; ++j) onNeighbour(j);
    }

    const ClassRun* s_;
    size_t begin_ = 0, end_ = 0, up_ = 0, upEnd_ = 0, down_ = 0, downEnd_ = 0;
};

// Both steps of speckle removal on runs whose regions are labelled; calls
// changed(i, y) for every run i (of row y) whose class it changes, in
// order (a run may change twice). The runs are looked at in bands of rows
// on up to threads threads; what is changed, is changed here.
template <class Changed>
void RemoveSpeckles(ClassRuns& runs, Regions& regions, int32_t n, unsigned cutSides,
                    const std::function<void()>& checkStop, int threads, Changed&& changed) {
    const int32_t height = runs.Height();
    const auto limit = static_cast<uint32_t>(n);
    std::vector<ClassRun>& s = runs.spans;
    const std::vector<Band> bands = Bands(height, threads);
    auto rowsOf = [&](size_t k, auto&& onRow) {
        for (int32_t y = bands[k].first; y < bands[k].end; ++y) {
            if (k == 0 && checkStop && y % 256 == 0) checkStop();
            onRow(y, runs.rowStart[static_cast<size_t>(y)], runs.rowStart[static_cast<size_t>(y) + 1]);
        }
    };

    // 1. Small regions of a class are dropped. A run as long as the limit
    // is in a region at least as large, and needs no look-up.
    regions.Flatten();
    std::vector<std::vector<std::pair<uint32_t, int32_t>>> droppedIn(bands.size());  // (run, row)
    ForBands(bands.size(), [&](size_t k) {
        rowsOf(k, [&](int32_t y, size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i) {
                if (s[i].cls == kNoClass || static_cast<uint32_t>(s[i].end - s[i].start) >= limit) continue;
                const uint32_t root = regions.Root(static_cast<uint32_t>(i));
                if (regions.Area(root) >= limit || (regions.Sides(root) & cutSides) != 0) continue;
                droppedIn[k].emplace_back(static_cast<uint32_t>(i), y);
            }
        });
    });
    for (const auto& dropped : droppedIn) {
        for (const auto& [i, y] : dropped) {
            s[i].cls = kNoClass;
            changed(i, y);
        }
    }
    // What was dropped joins the unmatched runs it touches (and other
    // dropped regions): the unmatched regions are now those of the map
    // after step 1. The regions kept are whole and unchanged.
    for (const auto& dropped : droppedIn) {
        for (const auto& [run, y] : dropped) {
            const uint32_t i = run;  // a lambda may not capture a structured binding (C++20)
            ForNeighbours(runs, i, y, [&](size_t j) {
                if (s[j].cls == kNoClass) regions.Unite(i, static_cast<uint32_t>(j));
            });
        }
    }
    droppedIn = {};

    // 2. Small holes enclosed by one region are filled: each run of a small
    // unmatched region off the edge notes the one region around it
    // (kNobody, or kSeveral), and the notes of a hole's runs are combined.
    constexpr uint32_t kNobody = std::numeric_limits<uint32_t>::max(), kSeveral = kNobody - 1;
    auto combine = [](uint32_t seen, uint32_t region) {
        return seen == kNobody || seen == region ? region : region == kNobody ? seen : kSeveral;
    };
    struct HoleRun {
        uint32_t run, hole, around;
        int32_t row;
    };
    regions.Flatten();
    std::vector<std::vector<HoleRun>> holeRunsIn(bands.size());
    ForBands(bands.size(), [&](size_t k) {
        rowsOf(k, [&](int32_t y, size_t begin, size_t end) {
            if (y == 0 || y + 1 == height) return;
            for (size_t i = begin; i < end; ++i) {
                if (s[i].cls != kNoClass || static_cast<uint32_t>(s[i].end - s[i].start) >= limit) continue;
                const uint32_t hole = regions.Root(static_cast<uint32_t>(i));
                if (regions.Area(hole) >= limit || regions.Edge(hole)) continue;
                uint32_t seen = kNobody;
                ForNeighbours(runs, i, y, [&](size_t j) {
                    if (s[j].cls != kNoClass) seen = combine(seen, regions.Root(static_cast<uint32_t>(j)));
                });
                holeRunsIn[k].push_back(HoleRun{static_cast<uint32_t>(i), hole, seen, y});
            }
        });
    });
    std::vector<uint32_t> around;  // by hole root: the one region around it, kSeveral, or kNobody
    for (const auto& holeRuns : holeRunsIn) {
        for (const HoleRun& h : holeRuns) {
            if (around.empty()) around.assign(s.size(), kNobody);
            around[h.hole] = combine(around[h.hole], h.around);
        }
    }
    for (const auto& holeRuns : holeRunsIn) {
        for (const HoleRun& h : holeRuns) {
            const uint32_t region = around[h.hole];
            if (region < kSeveral) {
                s[h.run].cls = s[region].cls;
                changed(h.run, h.row);
            }
        }
    }
}

template <class Changed>
void DespeckleRuns(ClassRuns& runs, int32_t n, unsigned cutSides, const std::function<void()>& checkStop, int threads,
                   Changed&& changed) {
    const int32_t width = runs.width, height = runs.Height();
    if (n <= 1 || width == 0 || height == 0) return;
    if (runs.spans.size() >= std::numeric_limits<uint32_t>::max()) ThrowOutOfMemory();
    OwnRegions regions(runs.spans.size());
    Label(runs, height, Bands(height, threads), regions, checkStop);
    RemoveSpeckles(runs, regions, n, cutSides, checkStop, threads, changed);
}

}  // namespace

namespace detail {

void AppendRowRuns(const uint8_t* row, int32_t width, ClassRuns& runs) {
    int32_t i = 0;
    while (i < width) {
        const uint8_t value = row[i];
        const int32_t end = detail::FindByte<false>(row, i + 1, width, value);
        runs.spans.push_back(ClassRun{i, end, value});
        i = end;
    }
    runs.rowStart.push_back(runs.spans.size());
}

void AppendRuns(ClassRuns& runs, const ClassRuns& more) {
    const size_t offset = runs.spans.size();
    runs.spans.insert(runs.spans.end(), more.spans.begin(), more.spans.end());
    for (size_t r = 1; r < more.rowStart.size(); ++r) runs.rowStart.push_back(offset + more.rowStart[r]);
}

void LabelBand(const ClassRuns& part, int32_t first, int32_t height, RegionTable& labels) {
    labels.parent.resize(part.spans.size());
    labels.area.resize(part.spans.size());
    labels.edge.resize(part.spans.size());
    Regions regions(labels);
    LabelRows(part, height, 0, part.Height(), regions, {}, first);
}

}  // namespace detail

// Speckle removal as rows come, decided a bounded number of rows behind
// the last row labelled, by what the areas already tell:
// - A region smaller than n spans fewer than n rows. So once n rows past
//   a row are labelled, each copper region in it is either n pixels or
//   more (kept, since areas only grow) or has ended: step 1 drops it then.
//   Once each region met by a row is decided (n rows further on), the
//   row's dropped runs join the unmatched runs around them, as Despeckle
//   joins them after all its drops.
// - Likewise a small unmatched region (after step 1) that meets a row is
//   whole once the joins are done n rows further on. Its runs note the
//   regions around them as the holes' front passes, and the hole is
//   decided once the front is n rows past its first row.
// - One region around a hole is one region for good. Several regions of
//   one class may still meet further down (two arms of a U); such a hole
//   waits until at most one of them goes on past the last row labelled.
// Rows above every undecided hole are final. The runs' classes change in
// place; no run is split.
struct RowDespeckler::Holes {
    static constexpr uint32_t kNobody = std::numeric_limits<uint32_t>::max(), kSeveral = kNobody - 1;
    struct Hole {
        int32_t firstRow = 0;
        uint32_t key = 0;                // its root when first met
        uint32_t around = kNobody;       // the one region met so far (as a run of it), kNobody or kSeveral
        std::vector<uint32_t> runs;      // the hole's runs
        std::vector<uint32_t> regions;   // with kSeveral: a run of each region met
    };
    static constexpr uint32_t kNoHole = std::numeric_limits<uint32_t>::max();
    std::vector<uint32_t> byRoot;  // holes being gathered (their numbers), at their roots; kNoHole elsewhere
    std::deque<Hole> open;                         // in order of their first row
    std::vector<Hole> waiting;                     // several regions of one class that may still meet
    std::deque<std::pair<uint32_t, int32_t>> dropped;  // (run, row) dropped, not yet joined
};

RowDespeckler::RowDespeckler(int32_t n, int32_t height)
    : n_(n), height_(height), labels_(std::make_unique<detail::RegionTable>()),
      holes_(std::make_unique<Holes>()) {}
RowDespeckler::~RowDespeckler() = default;

void RowDespeckler::AddRows(ClassRuns& runs, int32_t end) {
    end -= base_;
    if (end <= labelled_) return;
    if (n_ > 1) {
        if (runs.spans.size() >= std::numeric_limits<uint32_t>::max()) ThrowOutOfMemory();
        Regions regions(*labels_);
        regions.Grow(runs.spans.size());
        LabelRows(runs, height_, labelled_, end, regions, {}, base_);
        if (labelled_ > 0) JoinRows(runs, labelled_, regions);
    }
    labelled_ = end;
    Advance(runs, false);
}

void RowDespeckler::AddBand(ClassRuns& runs, int32_t end, const detail::RegionTable& band) {
    end -= base_;
    if (end <= labelled_) return;
    if (n_ > 1) {
        if (runs.spans.size() >= std::numeric_limits<uint32_t>::max()) ThrowOutOfMemory();
        const size_t offset = runs.rowStart[static_cast<size_t>(labelled_)];
        if (offset + band.parent.size() != runs.rowStart[static_cast<size_t>(end)]) {
            throw std::logic_error("RowDespeckler::AddBand: the band's labels do not fit its rows");
        }
        Regions regions(*labels_);
        regions.Append(band, static_cast<uint32_t>(offset));
        if (labelled_ > 0) JoinRows(runs, labelled_, regions);
    }
    labelled_ = end;
    Advance(runs, false);
}

void RowDespeckler::Finish(ClassRuns& runs) {
    AddRows(runs, runs.Height());
    if (runs.width > 0) Advance(runs, true);
    final_ = labelled_;
}

void RowDespeckler::Discard(ClassRuns& runs, int32_t row) {
    if (row > base_ + final_) throw std::logic_error("RowDespeckler::Discard: the rows are not final");
    // The last final row stays: the holes below may have met regions in it.
    const int32_t rows = std::min(row - base_, final_ - 1);
    if (rows <= 0) return;
    const size_t cut = runs.rowStart[static_cast<size_t>(rows)];
    if (n_ > 1 && runs.width > 0) {
        // Each region with runs left gets its first run left as its root,
        // so no run left leads to one let go.
        Regions regions(*labels_);
        std::vector<uint32_t>& parent = labels_->parent;
        std::vector<uint32_t>& area = labels_->area;
        std::vector<uint8_t>& edge = labels_->edge;
        for (size_t i = cut; i < parent.size(); ++i) {
            const uint32_t root = regions.Find(static_cast<uint32_t>(i));
            if (root < cut) {
                parent[root] = static_cast<uint32_t>(i);
                parent[i] = static_cast<uint32_t>(i);
                area[i] = area[root];
                edge[i] = edge[root];
            }
        }
        // What refers to runs refers to roots left.
        Holes& h = *holes_;
        auto rootOf = [&](uint32_t i) { return regions.Find(i) - static_cast<uint32_t>(cut); };
        auto moveHole = [&](Holes::Hole& hole) {
            hole.firstRow -= rows;
            if (hole.around < Holes::kSeveral) hole.around = rootOf(hole.around);
            for (uint32_t& r : hole.regions) r = rootOf(r);
            for (uint32_t& r : hole.runs) r -= static_cast<uint32_t>(cut);
        };
        for (Holes::Hole& hole : h.open) moveHole(hole);
        for (Holes::Hole& hole : h.waiting) moveHole(hole);
        for (auto& [i, y] : h.dropped) {
            i -= static_cast<uint32_t>(cut);
            y -= rows;
        }
        h.byRoot.assign(parent.size() - cut, Holes::kNoHole);
        for (size_t k = 0; k < h.open.size(); ++k) {
            Holes::Hole& hole = h.open[k];
            hole.key = regions.Find(hole.runs[0] + static_cast<uint32_t>(cut)) - static_cast<uint32_t>(cut);
            if (h.byRoot[hole.key] == Holes::kNoHole) h.byRoot[hole.key] = static_cast<uint32_t>(holesDecided_ + k);
        }
        for (size_t i = cut; i < parent.size(); ++i) parent[i] = regions.Find(static_cast<uint32_t>(i));
        for (size_t i = cut; i < parent.size(); ++i) parent[i - cut] = parent[i] - static_cast<uint32_t>(cut);
        parent.resize(parent.size() - cut);
        area.erase(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(cut));
        edge.erase(edge.begin(), edge.begin() + static_cast<std::ptrdiff_t>(cut));
    }
    runs.spans.erase(runs.spans.begin(), runs.spans.begin() + static_cast<std::ptrdiff_t>(cut));
    runs.rowStart.erase(runs.rowStart.begin(), runs.rowStart.begin() + rows);
    for (size_t& start : runs.rowStart) start -= cut;
    runs.firstRow += rows;
    base_ += rows;
    labelled_ -= rows;
    dropFront_ -= rows;
    joinFront_ -= rows;
    holeFront_ -= rows;
    final_ -= rows;
}

void RowDespeckler::Advance(ClassRuns& runs, bool last) {
    if (n_ <= 1 || runs.width == 0) {
        final_ = labelled_;
        return;
    }
    using Hole = Holes::Hole;
    constexpr uint32_t kNobody = Holes::kNobody, kSeveral = Holes::kSeveral;
    Regions regions(*labels_);
    std::vector<ClassRun>& s = runs.spans;
    const auto limit = static_cast<uint32_t>(n_);
    const auto rowRuns = [&](int32_t y) {
        return std::pair{runs.rowStart[static_cast<size_t>(y)], runs.rowStart[static_cast<size_t>(y) + 1]};
    };

    // Step 1 for the rows n rows above the last one labelled, and the
    // joins of what it dropped n rows above that.
    const int32_t dropEnd = last ? labelled_ : std::max(dropFront_, labelled_ - n_);
    for (int32_t y = dropFront_; y < dropEnd; ++y) {
        const auto [begin, end] = rowRuns(y);
        for (size_t i = begin; i < end; ++i) {
            if (s[i].cls == kNoClass || static_cast<uint32_t>(s[i].end - s[i].start) >= limit) continue;
            if (regions.Area(regions.Find(static_cast<uint32_t>(i))) >= limit) continue;
            s[i].cls = kNoClass;
            holes_->dropped.emplace_back(static_cast<uint32_t>(i), y);
        }
    }
    dropFront_ = dropEnd;
    const int32_t joinEnd = last ? labelled_ : std::max(joinFront_, dropFront_ - n_);
    auto& dropped = holes_->dropped;
    std::optional<RowNeighbours> around;
    int32_t aroundRow = -1;
    while (!dropped.empty() && dropped.front().second < joinEnd) {
        const auto [i, y] = dropped.front();
        dropped.pop_front();
        if (y != aroundRow) around.emplace(runs, aroundRow = y);
        around->ForEach(i, [&](size_t j) {
            if (s[j].cls == kNoClass) regions.Unite(i, static_cast<uint32_t>(j));
        });
    }
    joinFront_ = joinEnd;

    // Step 2: the holes' runs n rows above that note the regions around them.
    auto note = [&](Hole& hole, uint32_t region) {
        if (hole.around == kNobody) {
            hole.around = region;
        } else if (hole.around == kSeveral) {
            for (const uint32_t r : hole.regions) {
                if (regions.Find(r) == region) return;
            }
            hole.regions.push_back(region);
        } else if (regions.Find(hole.around) != region) {
            hole.regions = {hole.around, region};
            hole.around = kSeveral;
        }
    };
    const int32_t holeEnd = last ? labelled_ : std::max(holeFront_, joinFront_ - n_);
    std::vector<uint32_t>& byRoot = holes_->byRoot;
    if (byRoot.size() < s.size()) byRoot.resize(s.size(), Holes::kNoHole);
    for (int32_t y = std::max(holeFront_, 1 - base_); y < std::min(holeEnd, height_ - 1 - base_); ++y) {
        const auto [begin, end] = rowRuns(y);
        RowNeighbours neighbours(runs, y);
        for (size_t i = begin; i < end; ++i) {
            if (s[i].cls != kNoClass || static_cast<uint32_t>(s[i].end - s[i].start) >= limit) continue;
            const uint32_t root = regions.Find(static_cast<uint32_t>(i));
            if (regions.Area(root) >= limit || regions.Edge(root)) continue;
            if (byRoot[root] == Holes::kNoHole) {
                byRoot[root] = static_cast<uint32_t>(holes_->open.size() + holesDecided_);
                holes_->open.push_back(Hole{y, root, kNobody, {}, {}});
            }
            Hole& hole = holes_->open[byRoot[root] - holesDecided_];
            hole.runs.push_back(static_cast<uint32_t>(i));
            neighbours.ForEach(i, [&](size_t j) {
                if (s[j].cls != kNoClass) note(hole, regions.Find(static_cast<uint32_t>(j)));
            });
        }
    }
    holeFront_ = holeEnd;

    // The roots of the regions that reach the last row labelled (and may
    // still meet others), made only when a hole needs them.
    std::vector<uint32_t> going;
    bool goingKnown = false;
    auto goesOn = [&](uint32_t root) {
        if (!goingKnown && labelled_ > 0) {
            const auto [begin, end] = rowRuns(labelled_ - 1);
            for (size_t i = begin; i < end; ++i) {
                if (s[i].cls != kNoClass) going.push_back(regions.Find(static_cast<uint32_t>(i)));
            }
            std::sort(going.begin(), going.end());
        }
        goingKnown = true;
        return std::binary_search(going.begin(), going.end(), root);
    };
    // Fills the hole when one region is around it; false when it must wait.
    // The region the hole's runs make is whole by now: if it turned out to
    // be large (its parts met below the first of them), it is no hole.
    auto decide = [&](Hole& hole) {
        uint32_t region = hole.around;
        const uint32_t root = regions.Find(hole.runs[0]);
        if (region == kNobody || regions.Area(root) >= limit || regions.Edge(root)) return true;
        if (region == kSeveral) {
            std::vector<uint32_t> roots;
            for (const uint32_t r : hole.regions) roots.push_back(regions.Find(r));
            std::sort(roots.begin(), roots.end());
            roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
            if (roots.size() > 1) {
                if (last) return true;
                // Regions of two colours never meet, nor does a region
                // that ended meet any other.
                for (const uint32_t r : roots) {
                    if (s[r].cls != s[roots[0]].cls || !goesOn(r)) return true;
                }
                return false;
            }
            region = roots[0];
        }
        const uint8_t cls = s[regions.Find(region)].cls;
        for (const uint32_t i : hole.runs) s[i].cls = cls;
        return true;
    };
    std::vector<Hole>& waiting = holes_->waiting;
    waiting.erase(std::remove_if(waiting.begin(), waiting.end(), [&](Hole& hole) { return decide(hole); }), waiting.end());
    while (!holes_->open.empty() && (last || holes_->open.front().firstRow + n_ <= holeFront_)) {
        Hole& hole = holes_->open.front();
        if (byRoot[hole.key] == holesDecided_) byRoot[hole.key] = Holes::kNoHole;
        if (!decide(hole)) waiting.push_back(std::move(hole));
        holes_->open.pop_front();
        ++holesDecided_;
    }

    // Rows above every hole still open or waiting are final.
    int32_t final = last ? labelled_ : std::max(0, holeFront_ - n_ + 1);
    for (const Hole& hole : waiting) final = std::min(final, hole.firstRow);
    final_ = std::max(final_, final);
}

void Despeckle(ClassRuns& runs, int32_t n, const std::function<void()>& checkStop, int threads) {
    DespeckleRuns(runs, n, 0, checkStop, threads, [](uint32_t, int32_t) {});
}

void DespeckleWindow(ClassRuns& runs, int32_t n, unsigned cutSides) {
    DespeckleRuns(runs, n, cutSides, {}, 1, [](uint32_t, int32_t) {});
}

void Despeckle(ClassMap& map, int32_t n, const std::function<void()>& checkStop, int threads) {
    if (n <= 1 || map.Width() == 0 || map.Height() == 0) return;
    ClassRuns runs = SplitMap(map, Bands(map.Height(), threads), checkStop);
    DespeckleRuns(runs, n, 0, checkStop, threads, [&](uint32_t i, int32_t y) {
        const ClassRun& span = runs.spans[i];
        std::memset(map.Row(y) + span.start, span.cls, static_cast<size_t>(span.end - span.start));
    });
}

}  // namespace rastrace
