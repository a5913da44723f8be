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
#include <limits>
#include <system_error>
#include <thread>
#include <cstdint>
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
// the picture it touches (a CutSide mask).
class Regions {
public:
    explicit Regions(size_t count) : parent_(count), area_(count), edge_(count) {}

    // Room for count runs (existing entries kept).
    void Grow(size_t count) {
        if (count <= parent_.size()) return;
        parent_.resize(count);
        area_.resize(count);
        edge_.resize(count);
    }

    void Set(uint32_t id, uint32_t area, unsigned sides) {
        parent_[id] = id;
        area_[id] = area;
        edge_[id] = static_cast<uint8_t>(sides);
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
    unsigned Sides(uint32_t root) const { return edge_[root]; }

private:
    std::vector<uint32_t> parent_;
    std::vector<uint32_t> area_;
    std::vector<uint8_t> edge_;
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
// row to the row above it (within the rows given).
void LabelRows(const ClassRuns& runs, int32_t height, int32_t first, int32_t end, Regions& regions,
               const std::function<void()>& checkStop) {
    const std::vector<ClassRun>& s = runs.spans;
    const int32_t width = runs.width;
    for (int32_t y = first; y < end; ++y) {
        if (checkStop && y % 256 == 0) checkStop();
        const size_t begin = runs.rowStart[static_cast<size_t>(y)], last = runs.rowStart[static_cast<size_t>(y) + 1];
        const unsigned rowSides = (y == 0 ? kCutTop : 0u) | (y == height - 1 ? kCutBottom : 0u);
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
template <class OnNeighbour>
void ForNeighbours(const ClassRuns& runs, size_t i, int32_t y, OnNeighbour&& onNeighbour) {
    const ClassRun& span = runs.spans[i];
    if (i > runs.rowStart[static_cast<size_t>(y)]) onNeighbour(i - 1);
    if (i + 1 < runs.rowStart[static_cast<size_t>(y) + 1]) onNeighbour(i + 1);
    if (y > 0) ForOverlapping(runs, y - 1, span.start, span.end, onNeighbour);
    if (y + 1 < runs.Height()) ForOverlapping(runs, y + 1, span.start, span.end, onNeighbour);
}

// Speckle removal on runs; calls changed(i, y) for every run i (of row y)
// whose class it changes, in order (a run may change twice).
// Both steps of speckle removal on runs whose regions are labelled.
template <class Changed>
void RemoveSpeckles(ClassRuns& runs, Regions& regions, int32_t n, unsigned cutSides,
                    const std::function<void()>& checkStop, Changed&& changed) {
    const int32_t height = runs.Height();
    const auto limit = static_cast<uint32_t>(n);
    std::vector<ClassRun>& s = runs.spans;

    // 1. Small regions of a class are dropped. A run as long as the limit
    // is in a region at least as large, and needs no look-up.
    std::vector<std::pair<uint32_t, int32_t>> dropped;  // (run, row)
    for (int32_t y = 0; y < height; ++y) {
        if (checkStop && y % 256 == 0) checkStop();
        for (size_t i = runs.rowStart[static_cast<size_t>(y)]; i < runs.rowStart[static_cast<size_t>(y) + 1]; ++i) {
            if (s[i].cls == kNoClass || static_cast<uint32_t>(s[i].end - s[i].start) >= limit) continue;
            const uint32_t root = regions.Find(static_cast<uint32_t>(i));
            if (regions.Area(root) >= limit || (regions.Sides(root) & cutSides) != 0) continue;
            dropped.emplace_back(static_cast<uint32_t>(i), y);
        }
    }
    for (const auto& [i, y] : dropped) {
        s[i].cls = kNoClass;
        changed(i, y);
    }
    // What was dropped joins the unmatched runs it touches (and other
    // dropped regions): the unmatched regions are now those of the map
    // after step 1. The regions kept are whole and unchanged.
    for (const auto& [run, y] : dropped) {
        const uint32_t i = run;  // a lambda may not capture a structured binding (C++20)
        ForNeighbours(runs, i, y, [&](size_t j) {
            if (s[j].cls == kNoClass) regions.Unite(i, static_cast<uint32_t>(j));
        });
    }

    // 2. Small holes enclosed by one region are filled: each small
    // unmatched region off the edge looks at the runs around its runs.
    constexpr uint32_t kNobody = std::numeric_limits<uint32_t>::max(), kSeveral = kNobody - 1;
    std::vector<uint32_t> around;  // by hole root: the one region around it, kSeveral, or kNobody
    std::vector<std::pair<uint32_t, int32_t>> holeRuns;  // (run, row)
    for (int32_t y = 1; y + 1 < height; ++y) {
        if (checkStop && y % 256 == 0) checkStop();
        for (size_t i = runs.rowStart[static_cast<size_t>(y)]; i < runs.rowStart[static_cast<size_t>(y) + 1]; ++i) {
            if (s[i].cls != kNoClass || static_cast<uint32_t>(s[i].end - s[i].start) >= limit) continue;
            const uint32_t hole = regions.Find(static_cast<uint32_t>(i));
            if (regions.Area(hole) >= limit || regions.Edge(hole)) continue;
            if (around.empty()) around.assign(s.size(), kNobody);
            holeRuns.emplace_back(static_cast<uint32_t>(i), y);
            ForNeighbours(runs, i, y, [&](size_t j) {
                if (s[j].cls == kNoClass) return;  // the hole itself
                const uint32_t region = regions.Find(static_cast<uint32_t>(j));
                uint32_t& seen = around[hole];
                seen = seen == kNobody || seen == region ? region : kSeveral;
            });
        }
    }
    for (const auto& [i, y] : holeRuns) {
        const uint32_t region = around[regions.Find(i)];
        if (region < kSeveral) {
            s[i].cls = s[region].cls;
            changed(i, y);
        }
    }
}

template <class Changed>
void DespeckleRuns(ClassRuns& runs, int32_t n, unsigned cutSides, const std::function<void()>& checkStop, int threads,
                   Changed&& changed) {
    const int32_t width = runs.width, height = runs.Height();
    if (n <= 1 || width == 0 || height == 0) return;
    if (runs.spans.size() >= std::numeric_limits<uint32_t>::max()) ThrowOutOfMemory();
    Regions regions(runs.spans.size());
    Label(runs, height, Bands(height, threads), regions, checkStop);
    RemoveSpeckles(runs, regions, n, cutSides, checkStop, changed);
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

}  // namespace detail

class RowDespeckler::Labels : public Regions {
public:
    Labels() : Regions(0) {}
};

RowDespeckler::RowDespeckler(int32_t n, int32_t height) : n_(n), height_(height), labels_(std::make_unique<Labels>()) {}
RowDespeckler::~RowDespeckler() = default;

void RowDespeckler::AddRows(const ClassRuns& runs, int32_t end) {
    if (n_ <= 1 || end <= labelled_) return;
    if (runs.spans.size() >= std::numeric_limits<uint32_t>::max()) ThrowOutOfMemory();
    labels_->Grow(runs.spans.size());
    LabelRows(runs, height_, labelled_, end, *labels_, {});
    if (labelled_ > 0) JoinRows(runs, labelled_, *labels_);
    labelled_ = end;
}

void RowDespeckler::Finish(ClassRuns& runs) {
    if (n_ <= 1 || runs.width == 0 || runs.Height() == 0) return;
    AddRows(runs, runs.Height());
    RemoveSpeckles(runs, *labels_, n_, 0, {}, [](uint32_t, int32_t) {});
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
