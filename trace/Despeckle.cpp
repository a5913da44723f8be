// Speckle removal on a class map by connected-component labelling: the
// map's rows are cut into runs of equal bytes once, and runs of one class
// that touch across neighbouring rows are united (union-find over runs).
// The runs are kept (12 bytes each) so the later steps work on them, not
// on the map's bytes; the map is written only where a run changes.
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

struct Span {
    int32_t start, end;  // columns start..end-1
    uint8_t cls;
};

// A map's runs, row by row: row y's runs are spans[rowStart[y] .. rowStart[y + 1]).
struct Runs {
    std::vector<Span> spans;
    std::vector<size_t> rowStart;
};

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

Runs SplitRows(const ClassMap& map, Band band, const std::function<void()>& checkStop) {
    Runs runs;
    runs.rowStart.reserve(static_cast<size_t>(band.end - band.first) + 1);
    runs.rowStart.push_back(0);
    const int32_t width = map.Width();
    runs.spans.reserve(static_cast<size_t>(band.end - band.first) * 64);
    for (int32_t y = band.first; y < band.end; ++y) {
        if (checkStop && y % 256 == 0) checkStop();
        const uint8_t* row = map.Row(y);
        int32_t i = 0;
        while (i < width) {
            const uint8_t value = row[i];
            const int32_t end = detail::FindByte<false>(row, i + 1, width, value);
            runs.spans.push_back(Span{i, end, value});
            i = end;
        }
        runs.rowStart.push_back(runs.spans.size());
    }
    return runs;
}

Runs SplitMap(const ClassMap& map, const std::vector<Band>& bands, const std::function<void()>& checkStop) {
    std::vector<Runs> parts(bands.size());
    ForBands(bands.size(), [&](size_t k) { parts[k] = SplitRows(map, bands[k], k == 0 ? checkStop : nullptr); });
    Runs runs = std::move(parts[0]);
    for (size_t k = 1; k < parts.size(); ++k) {
        const size_t offset = runs.spans.size();
        runs.spans.insert(runs.spans.end(), parts[k].spans.begin(), parts[k].spans.end());
        for (size_t r = 1; r < parts[k].rowStart.size(); ++r) runs.rowStart.push_back(offset + parts[k].rowStart[r]);
        parts[k] = Runs();
    }
    if (runs.spans.size() >= std::numeric_limits<uint32_t>::max()) ThrowOutOfMemory();
    return runs;
}

// Joins neighbouring runs of equal class within each row, in place.
void Merge(Runs& runs, int32_t height) {
    std::vector<Span>& s = runs.spans;
    size_t out = 0;
    for (int32_t y = 0; y < height; ++y) {
        const size_t first = runs.rowStart[static_cast<size_t>(y)], last = runs.rowStart[static_cast<size_t>(y) + 1];
        const size_t rowOut = out;
        for (size_t i = first; i < last; ++i) {
            if (out > rowOut && s[out - 1].cls == s[i].cls) {
                s[out - 1].end = s[i].end;
            } else {
                s[out++] = s[i];
            }
        }
        runs.rowStart[static_cast<size_t>(y)] = rowOut;
    }
    runs.rowStart[static_cast<size_t>(height)] = out;
    s.resize(out);
}

// Union-find over runs, numbered as in Runs::spans. A region's root is its
// lowest run number and holds its area (saturating) and whether it touches
// the picture's edge.
class Regions {
public:
    explicit Regions(size_t count) : parent_(count), area_(count), edge_(count) {}

    void Set(uint32_t id, uint32_t area, bool edge) {
        parent_[id] = id;
        area_[id] = area;
        edge_[id] = edge;
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

private:
    std::vector<uint32_t> parent_;
    std::vector<uint32_t> area_;
    std::vector<uint8_t> edge_;
};

// The overlapping pairs of rows y - 1 and y, in one sweep: both rows are
// tiled by their runs, so advancing the run that ends first visits
// exactly the pairs that share a column.
template <class OnOverlap>
void Sweep(const Runs& runs, int32_t y, OnOverlap&& onOverlap) {
    const std::vector<Span>& s = runs.spans;
    const size_t first = runs.rowStart[static_cast<size_t>(y)], last = runs.rowStart[static_cast<size_t>(y) + 1];
    size_t i = runs.rowStart[static_cast<size_t>(y) - 1], j = first;
    while (i < first && j < last) {
        onOverlap(i, j);
        if (s[i].end < s[j].end) {
            ++i;
        } else if (s[j].end < s[i].end) {
            ++j;
        } else {
            ++i;
            ++j;
        }
    }
}

// Joins row y to row y - 1: unites overlapping runs of one class.
void JoinRows(const Runs& runs, int32_t y, Regions& regions) {
    const std::vector<Span>& s = runs.spans;
    Sweep(runs, y, [&](size_t a, size_t b) {
        if (s[a].cls == s[b].cls) regions.Unite(static_cast<uint32_t>(a), static_cast<uint32_t>(b));
    });
}

// Labels the runs into regions (4-connected: runs in neighbouring rows
// join when their columns overlap), a band of rows per thread, then joins
// the bands.
void Label(const Runs& runs, int32_t width, int32_t height, const std::vector<Band>& bands, Regions& regions,
           const std::function<void()>& checkStop) {
    const std::vector<Span>& s = runs.spans;
    ForBands(bands.size(), [&](size_t k) {
        for (int32_t y = bands[k].first; y < bands[k].end; ++y) {
            if (k == 0 && checkStop && y % 256 == 0) checkStop();
            const size_t first = runs.rowStart[static_cast<size_t>(y)], last = runs.rowStart[static_cast<size_t>(y) + 1];
            const bool edgeRow = y == 0 || y == height - 1;
            for (size_t i = first; i < last; ++i) {
                regions.Set(static_cast<uint32_t>(i), static_cast<uint32_t>(s[i].end - s[i].start),
                            edgeRow || s[i].start == 0 || s[i].end == width);
            }
            if (y > bands[k].first) JoinRows(runs, y, regions);
        }
    });
    for (size_t k = 1; k < bands.size(); ++k) JoinRows(runs, bands[k].first, regions);
}

// Calls onRun(j) for the runs of row y that share a column with
// columns start..end-1.
template <class OnRun>
void ForOverlapping(const Runs& runs, int32_t y, int32_t start, int32_t end, OnRun&& onRun) {
    const auto first = runs.spans.begin() + static_cast<std::ptrdiff_t>(runs.rowStart[static_cast<size_t>(y)]);
    const auto last = runs.spans.begin() + static_cast<std::ptrdiff_t>(runs.rowStart[static_cast<size_t>(y) + 1]);
    auto it = std::upper_bound(first, last, start, [](int32_t column, const Span& span) { return column < span.end; });
    for (; it != last && it->start < end; ++it) onRun(static_cast<size_t>(it - runs.spans.begin()));
}

void Fill(ClassMap& map, const Runs& runs, size_t i, int32_t y, uint8_t cls) {
    const Span& s = runs.spans[i];
    (void)y;
    std::memset(map.Row(y) + s.start, cls, static_cast<size_t>(s.end - s.start));
}

}  // namespace

void Despeckle(ClassMap& map, int32_t n, const std::function<void()>& checkStop, int threads) {
    const int32_t width = map.Width(), height = map.Height();
    if (n <= 1 || width == 0 || height == 0) return;
    const auto limit = static_cast<uint32_t>(n);
    const std::vector<Band> bands = Bands(height, threads);

    // 1. Small regions of a class are dropped.
    Runs runs = SplitMap(map, bands, checkStop);
    {
        Regions regions(runs.spans.size());
        Label(runs, width, height, bands, regions, checkStop);
        for (int32_t y = 0; y < height; ++y) {
            for (size_t i = runs.rowStart[static_cast<size_t>(y)]; i < runs.rowStart[static_cast<size_t>(y) + 1]; ++i) {
                const Span& span = runs.spans[i];
                // A run as long as the limit is in a region at least as large.
                if (span.cls == kNoClass || static_cast<uint32_t>(span.end - span.start) >= limit ||
                    regions.Area(regions.Find(static_cast<uint32_t>(i))) >= limit) {
                    continue;
                }
                runs.spans[i].cls = kNoClass;
                Fill(map, runs, i, y, kNoClass);
            }
        }
    }
    Merge(runs, height);

    // 2. Small holes enclosed by one region are filled. Once every region
    // is whole, each small unmatched region off the edge looks at the runs
    // around its runs: beside them in the row, and overlapping them in the
    // rows above and below (which exist: the region is off the edge).
    Regions regions(runs.spans.size());
    Label(runs, width, height, bands, regions, checkStop);
    constexpr uint32_t kNobody = std::numeric_limits<uint32_t>::max(), kSeveral = kNobody - 1;
    std::vector<uint32_t> around;  // by hole root: the one region around it, kSeveral, or kNobody
    std::vector<std::pair<uint32_t, int32_t>> holeRuns;  // (run, row)
    for (int32_t y = 0; y < height; ++y) {
        if (checkStop && y % 256 == 0) checkStop();
        for (size_t i = runs.rowStart[static_cast<size_t>(y)]; i < runs.rowStart[static_cast<size_t>(y) + 1]; ++i) {
            if (runs.spans[i].cls != kNoClass || static_cast<uint32_t>(runs.spans[i].end - runs.spans[i].start) >= limit) {
                continue;
            }
            const uint32_t hole = regions.Find(static_cast<uint32_t>(i));
            if (regions.Area(hole) >= limit || regions.Edge(hole)) continue;
            if (around.empty()) around.assign(runs.spans.size(), kNobody);
            holeRuns.emplace_back(static_cast<uint32_t>(i), y);
            auto note = [&](size_t j) {
                if (runs.spans[j].cls == kNoClass) return;  // the hole itself
                const uint32_t region = regions.Find(static_cast<uint32_t>(j));
                uint32_t& seen = around[hole];
                seen = seen == kNobody || seen == region ? region : kSeveral;
            };
            note(i - 1);
            note(i + 1);
            ForOverlapping(runs, y - 1, runs.spans[i].start, runs.spans[i].end, note);
            ForOverlapping(runs, y + 1, runs.spans[i].start, runs.spans[i].end, note);
        }
    }
    for (const auto& [i, y] : holeRuns) {
        const uint32_t region = around[regions.Find(i)];
        if (region < kSeveral) Fill(map, runs, i, y, runs.spans[region].cls);
    }
}

}  // namespace rastrace
