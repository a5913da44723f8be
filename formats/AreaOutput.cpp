// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/AreaOutput.h"

#include "common/IntText.h"
#include "formats/AreaScale.h"
#include "formats/Gerber.h"
#include "formats/KiCad.h"
#include "raster/BandPipeline.h"
#include "trace/RowTracer.h"
#include "trace/Scanner.h"

#include <algorithm>
#include <memory>

namespace rastrace {

namespace {

constexpr size_t kFlushBytes = 1 << 20;

// The message when pixels at resolution span more than most nanometres.
std::optional<std::string> ExtentProblem(int32_t pixels, int32_t resolution, int64_t most, const char* extent,
                                         const char* format) {
    if (resolution == 0) return std::nullopt;
    const int64_t span = int64_t{pixels} * 2 * AreaScale::kHalfInchNm;  // the edge's half pixels, scaled
    const int64_t reach = AreaScale::RoundDiv(span, resolution);
    if ((reach < 0 ? -reach : reach) <= most) return std::nullopt;
    // The least resolution d at which round(span / d) <= most:
    // span / d + 1/2 < most + 1, that is d > 2 span / (2 most + 1).
    const int64_t least = 2 * span / (2 * most + 1) + 1;
    char buffer[48];
    const std::string size(buffer, AppendMillimetres(buffer, reach < 0 ? -reach : reach));
    const std::string limit(buffer, AppendMillimetres(buffer, most));
    return "The picture is " + size + " mm " + extent + " at " + IntToStr(resolution) + " dpi; " + format +
           " holds at most " + limit + " mm: use a resolution of " +
           (resolution > 0 ? IntToStr(least) + " dpi or more" : IntToStr(-least) + " dpi or less");
}

}  // namespace

std::optional<AreaSizeProblem> AreaSizeProblemOf(const AreaOptions& options) {
    const bool gerber = options.format == AreaFormat::Gerber;
    const int64_t most = gerber ? kGerberMostNm : kKiCadMostNm;
    const char* format = gerber ? "a Gerber file" : "a KiCad footprint";
    if (auto message = ExtentProblem(options.width, options.xres, most, "wide", format)) {
        return AreaSizeProblem{false, std::move(*message)};
    }
    if (auto message = ExtentProblem(options.height, options.yres, most, "tall", format)) {
        return AreaSizeProblem{true, std::move(*message)};
    }
    return std::nullopt;
}

void CheckAreaSize(const AreaOptions& options) {
    const AreaScale scale(options.xres, options.yres, options.height);  // refuses a resolution of 0
    if (const auto problem = AreaSizeProblemOf(options)) throw Error(problem->message);
}

AreaStats WriteArea(const AreaOptions& options, const RowRunsSource& rows,
                    const std::function<void(std::string_view)>& sink,
                    const std::function<void(int32_t row)>& onRow) {
    return WriteArea(
        options,
        SameRowRunsSource([&rows](int32_t row, std::vector<Span>& runs) {
            rows(row, runs);
            return int32_t{1};
        }),
        sink, onRow);
}

AreaStats WriteArea(const AreaOptions& options, const SameRowRunsSource& rows,
                    const std::function<void(std::string_view)>& sink,
                    const std::function<void(int32_t row)>& onRow) {
    CheckAreaSize(options);
    const AreaScale scale(options.xres, options.yres, options.height);
    const bool gerber = options.format == AreaFormat::Gerber;
    if (!gerber) KiCadLayerName(options.layer);  // refuses a bad layer before the header
    std::string text = gerber ? GerberHeader(options.layer, RASTRACE_VERSION) : KiCadHeader(options.name, RASTRACE_VERSION);
    AreaStats stats;
    auto flush = [&] {
        stats.bytes += text.size();
        sink(text);
        text.clear();
    };
    OutlineTracer tracer([&](const OutlineShape& shape) {
        ++stats.shapes;
        stats.holes += shape.holes;
        stats.vertices += static_cast<int64_t>(shape.points.size());
        stats.pixels += shape.pixels;
        if (gerber) {
            AppendGerberRegion(text, shape, scale);
        } else {
            AppendKiCadPolygon(text, shape, scale, options.layer);
        }
        if (text.size() >= kFlushBytes) flush();
    });
    std::vector<Span> runs;
    for (int32_t r = 0; r < options.height;) {
        if (onRow) onRow(r);
        runs.clear();
        const int32_t same = std::clamp(rows(r, runs), 1, options.height - r);
        tracer.AddRow(runs);
        tracer.RepeatRow(same - 1);
        stats.peakOpenVertices = std::max(stats.peakOpenVertices, tracer.OpenVertices());
        r += same;
    }
    tracer.Finish();
    text += gerber ? GerberTrailer() : KiCadTrailer();
    flush();
    return stats;
}

RowRunsSource CopperRows(const Raster& raster, std::vector<uint32_t> colors) {
    std::sort(colors.begin(), colors.end());
    colors.erase(std::unique(colors.begin(), colors.end()), colors.end());
    return [&raster, colors = std::move(colors)](int32_t row, std::vector<Span>& runs) {
        CopperRowRuns(raster, row, colors, runs);
    };
}

RowRunsSource MatchedCopperRows(const Raster& raster, std::vector<uint32_t> colors, const MatchOptions& options,
                                const std::function<void()>& checkStop) {
    if (!options.NeedsClassMap()) return CopperRows(raster, std::move(colors));
    CheckMatchOptions(options, colors.size());
    auto map = std::make_shared<const ClassMap>(BuildClassMap(raster, colors, options, 2, checkStop));
    const auto classes = static_cast<int>(colors.size());
    return [map, classes](int32_t row, std::vector<Span>& runs) {
        runs.clear();
        const int32_t width = map->Width();
        if (width == 0) return;
        const uint8_t* bytes = map->Row(row);
        const int32_t last = width - 1;
        // Each class's runs through the byte-row kernel, whose run that
        // reaches the last column ends at it: the half-open end is one further.
        for (int k = 1; k <= classes; ++k) {
            const auto value = static_cast<uint8_t>(k);
            detail::ScanByteRow(bytes, width, value, [&](int32_t s, int32_t e) {
                runs.push_back(Span{s, e == last && bytes[last] == value ? width : e});
            });
        }
        if (classes > 1) {
            std::sort(runs.begin(), runs.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
        }
    };
}

SameRowRunsSource MatchedCopperRows(PictureRows& rows, std::vector<uint32_t> colors, const MatchOptions& options,
                                    std::vector<uint64_t>* matchedPixels) {
    CheckMatchOptions(options, colors.size());
    if (matchedPixels != nullptr) matchedPixels->clear();
    if (!options.NeedsClassMap()) {
        // Exact: every pixel of any of the colours, repeats ignored, as CopperRows.
        std::sort(colors.begin(), colors.end());
        colors.erase(std::unique(colors.begin(), colors.end()), colors.end());
    }
    if (options.despeckle > 1) {
        // Each class's runs, neighbours of one class joined, as the byte-row
        // kernel finds them in a map.
        auto classes = std::make_shared<const ClassRuns>(ClassifyRows(rows, colors, options, 2, 0, {}, matchedPixels));
        return [classes](int32_t row, std::vector<Span>& runs) {
            runs.clear();
            uint8_t last = kNoClass;  // the class of the span last added
            for (const ClassRun& run : classes->Row(row)) {
                if (run.cls != kNoClass && run.cls == last && runs.back().end == run.start) {
                    runs.back().end = run.end;
                } else if (run.cls != kNoClass) {
                    runs.push_back(Span{run.start, run.end});
                }
                last = run.cls;
            }
            return int32_t{1};
        };
    }
    // One band of rows at a time, read as the rows are asked for.
    struct Reader {
        PictureRows& rows;
        RowTracer tracer;
        int32_t bandRows;
        ptrdiff_t stride;
        std::vector<uint8_t> band;
        int32_t first = 0, count = 0;
        uint8_t* base = nullptr;
    };
    const int32_t bandRows = BandRowsFor(rows, 0);
    auto reader = std::make_shared<Reader>(Reader{rows, RowTracer(rows.Width(), colors, options), bandRows,
                                                  rows.NaturalStride(), {}});
    reader->band.resize(static_cast<size_t>(bandRows) * static_cast<size_t>(std::abs(reader->stride)));
    return [reader](int32_t row, std::vector<Span>& runs) {
        Reader& r = *reader;
        if (const RowRange same = r.rows.SameRowsAs(row); same.end - row > 1) {
            // Rows alike: this one traced once, from the band held where it
            // lies there (a source read in order cannot give it again), else
            // read alone (the band held is let go of).
            if (row < r.first || row >= r.first + r.count) {
                r.first = row;
                r.count = 1;
                r.base = r.band.data();
                r.rows.ReadRows(row, 1, r.base, r.stride);
            }
            r.tracer.CopperSpans(r.base + (row - r.first) * r.stride, runs);
            return same.end - row;
        }
        if (row >= r.first + r.count) {
            r.first = row;
            r.count = std::min(r.bandRows, r.rows.Height() - row);
            r.base = r.stride < 0 ? r.band.data() + static_cast<size_t>(r.count - 1) * static_cast<size_t>(-r.stride)
                                  : r.band.data();
            r.rows.ReadRows(r.first, r.count, r.base, r.stride);
        }
        r.tracer.CopperSpans(r.base + (row - r.first) * r.stride, runs);
        return int32_t{1};
    };
}

AreaStats WriteCopperArea(const Raster& raster, std::span<const uint32_t> colors, AreaOptions options,
                          const std::function<void(std::string_view)>& sink,
                          const std::function<void(int32_t row)>& onRow) {
    options.width = raster.Width();
    options.height = raster.Height();
    return WriteArea(options, CopperRows(raster, std::vector<uint32_t>(colors.begin(), colors.end())), sink, onRow);
}

}  // namespace rastrace
