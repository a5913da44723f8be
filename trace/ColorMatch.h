// SPDX-License-Identifier: GPL-3.0-or-later
// Tolerant colour matching: which copper colour, if any, each pixel of a
// scan is traced as.
//
// The rule: a pixel goes to the nearest colour among the copper colours
// and the background colours (Euclidean distance in RGB) when that
// distance is at most the tolerance; on a tie the earlier copper colour
// wins, and copper wins over background. Pixels that went to a copper
// colour are traced as it; everything else is not traced. Background
// colours only take pixels away from the copper colours. With tolerance 0
// this is exact equality, the raster scan's own rule.
//
// A colour with its top byte set is no pixel's colour: it matches nothing.
#pragma once

#include "raster/Raster.h"
#include "trace/ClassMap.h"
#include "trace/Scanner.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <exception>
#include <span>
#include <optional>
#include <vector>

namespace rastrace {

inline constexpr int32_t kMaxTolerance = 442;  // ceil(sqrt(3) * 255): every colour is within it

// How a conversion matches colours. The defaults are exact matching.
struct MatchOptions {
    // The largest distance sqrt(dR² + dG² + dB²) at which a pixel still
    // counts as a listed colour: 0..kMaxTolerance.
    int32_t tolerance = 0;
    // Packed 0x00BBGGRR colours that are never traced.
    std::vector<uint32_t> backgroundColors;
    // Speckle removal: regions of one copper colour smaller than this many
    // pixels are dropped, and holes smaller than it are filled (see
    // Despeckle). 0 is off.
    int32_t despeckle = 0;
    // The most memory the class map may claim; unset: the memory available
    // when it is made.
    std::optional<uint64_t> memoryLimit;

    // Whether the scan needs a class map. With tolerance 0 background
    // colours change nothing (copper wins every tie), so exact matching
    // without speckle removal scans the raster itself, as it always did.
    bool NeedsClassMap() const { return tolerance != 0 || despeckle != 0; }
};

// Throws Error when options cannot be used with copperCount copper colours:
// "Tolerance must be between 0 and 442", "Speckle size must not be
// negative", or "At most 255 colours can be traced with a tolerance or
// speckle removal".
void CheckMatchOptions(const MatchOptions& options, size_t copperCount);

// The matching rule, precomputed for one list of colours.
class ColorMatcher {
public:
    ColorMatcher(std::span<const uint32_t> copper, const MatchOptions& options);
    // The same, but a pixel a background colour takes gets backgroundClass
    // (not kNoClass), for a caller that shows those apart; copper colour k
    // then gets class min(k + 1, backgroundClass - 1).
    ColorMatcher(std::span<const uint32_t> copper, const MatchOptions& options, uint8_t backgroundClass);

    // Whether classifying rows at tolerance 0 is faster on this machine than
    // the pixel kernel's scan for one colour (where AVX-512 compares
    // sixteen pixels a step).
    static bool ExactRowsBeatTheScan();

    // The class of one colour: k + 1 for copper colour k, else kNoClass.
    uint8_t Classify(uint32_t color) const;
    // The classes of width pixels (blue, green, red bytes) into out.
    void ClassifyRow(const uint8_t* pixels, int32_t width, uint8_t* out) const;
    // Whether MatchBits has a kernel of its own here; without one,
    // ClassifyRow and the byte-row kernel are as fast.
    bool HasBitKernel() const;
    // Bit x of bits ((width + 63) / 64 words, bit x % 64 of word x / 64) is
    // set where pixel x's class is value, as ClassifyRow would give it.
    void MatchBits(const uint8_t* pixels, int32_t width, uint8_t value, uint64_t* bits) const;

private:
    struct Reference {
        int32_t b, g, r;
        uint8_t cls;  // kNoClass for a background colour
    };
    std::vector<Reference> refs_;  // copper colours in list order, then background colours
    std::vector<uint64_t> packedRefs_;  // per reference: its colour as 16-bit lanes, its class
    int32_t limit_ = 1;            // tolerance² + 1: a distance² below it is within the tolerance
    // The copper colours as the words a pixel's bytes make, and their
    // classes, for exact matching.
    std::vector<uint32_t> exactColors_;
    std::vector<uint8_t> exactClasses_;
};

// The runs of copper colour index (class index + 1) as the class map would
// hold them without speckle removal, made row by row: each row is matched
// into a row buffer and scanned with the byte-row kernel, with the same
// row steps and runs as ScanClassRuns over the map. No map is kept.
template <class OnRow, class OnRun>
void ScanMatchedRuns(const Raster& raster, const ColorMatcher& matcher, uint8_t value, OnRow&& onRow, OnRun&& onRun);

// Whether a conversion with copperCount colours under options scans rows
// matched one at a time (ScanMatchedRuns, no map) rather than a class map:
// with no speckle removal and at most two colours, where matching every
// row once per colour costs no more than writing and reading a map.
inline bool MatchesRowByRow(const MatchOptions& options, size_t copperCount) {
    return options.despeckle <= 1 && copperCount <= 2;
}

// The class map of raster under options. Rows go in bands over threads
// threads (1 or more); checkStop is called on the calling thread between
// bands and may throw to end the build (the exception comes out of here
// once every helper thread has ended). Then applies Despeckle when
// options.despeckle is set. Throws Error("Out of memory") when the map
// cannot be had, or CheckMatchOptions' errors.
ClassMap BuildClassMap(const Raster& raster, std::span<const uint32_t> copper, const MatchOptions& options,
                       int threads = 1, const std::function<void()>& checkStop = {});

// A class map held as the runs of its rows: the runs of row y are
// spans[rowStart[y] .. rowStart[y + 1]), left to right, tiling the row's
// width columns. Neighbouring runs may have the same class. For a scan
// with speckle removal it takes a small part of a map's memory (12 bytes a
// run, and runs are long) and is made without writing a byte per pixel.
struct ClassRun {
    int32_t start, end;  // columns start..end-1
    uint8_t cls;
};
//
// A picture read by rows may let its top rows go once they are used:
// spans and rowStart then begin at row firstRow.
struct ClassRuns {
    int32_t width = 0;
    std::vector<ClassRun> spans;
    std::vector<size_t> rowStart{0};
    int32_t firstRow = 0;

    // The rows there were so far, those let go included.
    int32_t Height() const { return firstRow + static_cast<int32_t>(rowStart.size()) - 1; }
    // Row y of the picture (firstRow or below).
    std::span<const ClassRun> Row(int32_t y) const {
        const auto held = static_cast<size_t>(y - firstRow);
        return {spans.data() + rowStart[held], spans.data() + rowStart[held + 1]};
    }
};

namespace detail {
// Which row kernels ClassifyRow may use, for tests to reach each: 1 the
// plain one, 2 also AVX2, 3 also AVX-512, 4 (the default) also AVX-512
// VBMI for tolerant matching. The machine's own support still decides.
// Set only while no matching runs.
inline constexpr int kAllMatchKernels = 4;
extern int matchKernels;
// Appends the runs of the width bytes of row as the next row of runs.
void AppendRowRuns(const uint8_t* row, int32_t width, ClassRuns& runs);
// How many class runs a memory limit holds while speckle removal works on
// them: each run, its union-find entries and extra bytes more a run.
inline uint64_t ClassRunsWithin(uint64_t memoryLimit, uint64_t extra = 0) {
    return memoryLimit / (sizeof(ClassRun) + 9 + extra);
}
// Appends the rows of more after those of runs.
void AppendRuns(ClassRuns& runs, const ClassRuns& more);
// Speckle removal's labels of runs: each run's parent in the union-find,
// and at a root its region's area and the picture's sides it touches.
struct RegionTable {
    std::vector<uint32_t> parent;
    std::vector<uint32_t> area;
    std::vector<uint8_t> edge;
};
// Labels the regions of part on their own: part holds rows first.. of a
// picture of height rows (a band a worker matched), for
// RowDespeckler::AddBand.
void LabelBand(const ClassRuns& part, int32_t first, int32_t height, RegionTable& labels);
}  // namespace detail

// The runs of raster's classes under options, speckle removal included:
// what BuildClassMap's map holds, with the same threads, checkStop and
// errors; the runs' memory is held to options.memoryLimit (unset: the
// memory available now) and is "Out of memory" beyond it.
ClassRuns BuildClassRuns(const Raster& raster, std::span<const uint32_t> copper, const MatchOptions& options,
                         int threads = 1, const std::function<void()>& checkStop = {});

// The class map of runs (ClassMap's errors for memoryLimit).
ClassMap MapOfRuns(const ClassRuns& runs, uint64_t memoryLimit);

// ScanClassRuns over a map held as runs: the same row steps and runs;
// ScanClassRunRows over its rows first..end-1 only.
template <class OnRow, class OnRun>
void ScanClassRuns(const ClassRuns& runs, uint8_t value, OnRow&& onRow, OnRun&& onRun);
template <class OnRow, class OnRun>
void ScanClassRunRows(const ClassRuns& runs, uint8_t value, int32_t first, int32_t end, OnRow&& onRow, OnRun&& onRun);

// Speckle removal with size n on a class map, in two steps:
// 1. every region of one class (pixels of that class joined by an edge)
//    smaller than n pixels becomes kNoClass;
// 2. then every hole smaller than n pixels is filled with the class around
//    it. A hole is a region of kNoClass pixels (joined by an edge) that
//    touches no edge of the picture and whose every neighbour belongs to
//    one and the same region of one class.
// n <= 1 changes nothing. Bands of rows are labelled on up to threads
// threads; checkStop is called on the calling thread between rows and may
// throw (once every helper has ended).
void Despeckle(ClassMap& map, int32_t n, const std::function<void()>& checkStop = {}, int threads = 1);
// The same on a map held as runs (runs change class; none is split).
void Despeckle(ClassRuns& runs, int32_t n, const std::function<void()>& checkStop = {}, int threads = 1);

// The same speckle removal on runs that come a band of rows at a time, top
// to bottom (a picture read by rows): the regions are labelled and the
// speckles decided as the rows come, a few times n rows behind the last,
// so rows at the top are final long before the last row is in.
class RowDespeckler {
public:
    // Speckle size n (at most 1: nothing changes), a picture of height rows.
    RowDespeckler(int32_t n, int32_t height);
    ~RowDespeckler();
    RowDespeckler(const RowDespeckler&) = delete;
    RowDespeckler& operator=(const RowDespeckler&) = delete;

    // Labels rows up to end - 1 of runs, which holds every row before end
    // (from the first it lets go of), and decides what it can; classes of
    // rows above change in place.
    void AddRows(ClassRuns& runs, int32_t end);
    // The same for rows labelled on their own (detail::LabelBand of the
    // band's part): runs now holds every row before end, and band labels
    // the rows from the last end on.
    void AddBand(ClassRuns& runs, int32_t end, const detail::RegionTable& band);
    // Once runs holds every row: decides the rest, so that runs is what
    // Despeckle(runs, n) makes of it.
    void Finish(ClassRuns& runs);
    // Rows 0..FinalRows()-1 hold their classes after speckle removal:
    // nothing changes them any more.
    int32_t FinalRows() const { return base_ + final_; }
    // Lets go of the rows of runs above row (at most FinalRows()) but the
    // last final one, so that a picture read by rows is held only as far
    // as speckle removal needs.
    void Discard(ClassRuns& runs, int32_t row);

private:
    struct Holes;
    void Advance(ClassRuns& runs, bool last);

    // Rows below count from the first row held, base_.
    int32_t n_;
    int32_t height_;
    int32_t base_ = 0;
    int32_t labelled_ = 0;
    int32_t dropFront_ = 0;  // rows above it went through step 1
    int32_t joinFront_ = 0;  // rows above it joined their dropped runs to the unmatched
    int32_t holeFront_ = 0;  // rows above it noted their holes' runs
    int32_t final_ = 0;
    size_t holesDecided_ = 0;
    std::unique_ptr<detail::RegionTable> labels_;
    std::unique_ptr<Holes> holes_;
};

// The sides of a map that is a window cut out of a larger one.
enum CutSide : unsigned { kCutLeft = 1, kCutTop = 2, kCutRight = 4, kCutBottom = 8 };
// Speckle removal on a window of a larger map: a region touching one of
// the cutSides (a CutSide mask) may go on beyond it and is kept; a hole
// touching any side is, as ever, not enclosed. Without cut sides it is
// Despeckle's rule.
void DespeckleWindow(ClassRuns& runs, int32_t n, unsigned cutSides);

// A class map made once, on first demand, for every scan worker of a
// conversion: the first caller of Get builds it (with one helper thread),
// the others wait for it. Every caller gets the same map, or the exception
// the build ended with.
class SharedClassMap {
public:
    SharedClassMap(std::shared_ptr<const Raster> raster, std::vector<uint32_t> copper, MatchOptions options);

    // checkStop is called by the building caller as BuildClassMap does.
    const ClassMap& Get(const std::function<void()>& checkStop);

    // ScanClassRuns of value over the map, however it is held: with speckle
    // removal as runs (BuildClassRuns), which no byte map is made for.
    template <class OnRow, class OnRun>
    void Scan(uint8_t value, const std::function<void()>& checkStop, OnRow&& onRow, OnRun&& onRun);

private:
    // Builds what the scans read, once: runs_ with speckle removal, else map_.
    void Build(const std::function<void()>& checkStop);

    enum class State { NotBuilt, Building, Built, Failed };

    const std::shared_ptr<const Raster> raster_;
    const std::vector<uint32_t> copper_;
    const MatchOptions options_;
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::NotBuilt;
    ClassMap map_;
    ClassRuns runs_;
    bool mapFromRuns_ = false;  // map_ made from runs_ for Get
    std::exception_ptr error_;
};

template <class OnRow, class OnRun>
void SharedClassMap::Scan(uint8_t value, const std::function<void()>& checkStop, OnRow&& onRow, OnRun&& onRun) {
    Build(checkStop);
    if (options_.despeckle > 1) {
        ScanClassRuns(runs_, value, onRow, onRun);
    } else {
        ScanClassRuns(map_, value, onRow, onRun);
    }
}

template <class OnRow, class OnRun>
void ScanClassRunRows(const ClassRuns& runs, uint8_t value, int32_t first, int32_t end, OnRow&& onRow, OnRun&& onRun) {
    const int32_t width = runs.width;
    for (int32_t r = first; r < end; ++r) {
        onRow(r);
        if (width == 0) continue;
        const std::span<const ClassRun> row = runs.Row(r);
        for (size_t i = 0; i < row.size(); ++i) {
            if (row[i].cls != value) continue;
            // Neighbouring runs of the value make one run; one that reaches
            // the last column ends at it, as in the byte-row kernel.
            const int32_t start = row[i].start;
            while (i + 1 < row.size() && row[i + 1].cls == value) ++i;
            const int32_t stop = row[i].end;
            onRun(Run{start, stop == width ? width - 1 : stop, r});
        }
    }
}

template <class OnRow, class OnRun>
void ScanClassRuns(const ClassRuns& runs, uint8_t value, OnRow&& onRow, OnRun&& onRun) {
    ScanClassRunRows(runs, value, runs.firstRow, runs.Height(), onRow, onRun);
}

template <class OnRow, class OnRun>
void ScanMatchedRuns(const Raster& raster, const ColorMatcher& matcher, uint8_t value, OnRow&& onRow, OnRun&& onRun) {
    const int32_t width = raster.Width();
    if (matcher.HasBitKernel()) {
        // The matches as bits: no class byte per pixel to write and read.
        std::vector<uint64_t> bits(static_cast<size_t>(width + 63) / 64);
        for (int32_t r = 0; r < raster.Height(); ++r) {
            onRow(r);
            if (width == 0) continue;
            matcher.MatchBits(raster.RowBytes(r).data(), width, value, bits.data());
            detail::ScanBitRow(bits.data(), width, [&](int32_t s, int32_t e) { onRun(Run{s, e, r}); });
        }
        return;
    }
    std::vector<uint8_t> classes(static_cast<size_t>(width));
    for (int32_t r = 0; r < raster.Height(); ++r) {
        onRow(r);
        if (width == 0) continue;
        matcher.ClassifyRow(raster.RowBytes(r).data(), width, classes.data());
        detail::ScanByteRow(classes.data(), width, value, [&](int32_t s, int32_t e) { onRun(Run{s, e, r}); });
    }
}

}  // namespace rastrace
