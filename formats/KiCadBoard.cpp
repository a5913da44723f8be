// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/KiCadBoard.h"

#include "common/Error.h"
#include "formats/AreaOutput.h"
#include "formats/KiCad.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>

namespace rastrace {

namespace {

// Twice the signed area of a closed polygon, taken about its first point so
// that the products stay far inside long double's precision.
long double TwiceArea(const std::vector<BoardPoint>& loop) {
    long double sum = 0;
    const BoardPoint o = loop.front();
    for (size_t i = 1; i + 1 < loop.size(); ++i) {
        const long double ax = loop[i].x - o.x, ay = loop[i].y - o.y;
        const long double bx = loop[i + 1].x - o.x, by = loop[i + 1].y - o.y;
        sum += ax * by - bx * ay;
    }
    return sum;
}

}  // namespace

std::vector<std::vector<BoardPoint>> RegionLoops(std::span<const BoardPoint> contour) {
    std::vector<BoardPoint> points;
    points.reserve(contour.size());
    for (const BoardPoint& p : contour) {
        if (points.empty() || !(points.back() == p)) points.push_back(p);
    }
    while (points.size() > 1 && points.front() == points.back()) points.pop_back();
    const size_t n = points.size();
    std::vector<std::vector<BoardPoint>> whole{std::vector<BoardPoint>(contour.begin(), contour.end())};
    if (n < 3) return whole;

    // Each edge keyed by its ends; an edge whose reverse is also an edge is
    // one side of a cut.
    using Key = std::tuple<int64_t, int64_t, int64_t, int64_t, size_t>;
    std::vector<Key> edges(n);
    for (size_t i = 0; i < n; ++i) {
        const BoardPoint& a = points[i];
        const BoardPoint& b = points[(i + 1) % n];
        edges[i] = {a.x, a.y, b.x, b.y, i};
    }
    std::sort(edges.begin(), edges.end());
    constexpr size_t kNone = SIZE_MAX;
    std::vector<size_t> partner(n, kNone);
    for (size_t i = 0; i < n; ++i) {
        const BoardPoint& a = points[i];
        const BoardPoint& b = points[(i + 1) % n];
        const Key reverse{b.x, b.y, a.x, a.y, 0};
        auto it = std::lower_bound(edges.begin(), edges.end(), reverse);
        if (it == edges.end() || std::get<0>(*it) != b.x || std::get<1>(*it) != b.y || std::get<2>(*it) != a.x ||
            std::get<3>(*it) != a.y) {
            continue;
        }
        partner[i] = std::get<4>(*it);
    }
    for (size_t i = 0; i < n; ++i) {
        // Only edges that pair with each other, one to one, are cuts.
        if (partner[i] != kNone && partner[partner[i]] != i) return whole;
    }

    // Walk the contour leaving out the cuts: arriving at a cut, go on from
    // where its other side arrives at the same point.
    std::vector<std::vector<BoardPoint>> loops;
    std::vector<bool> visited(n, false);
    for (size_t start = 0; start < n; ++start) {
        if (visited[start] || partner[start] != kNone) continue;
        std::vector<BoardPoint> loop;
        size_t at = start;
        do {
            if (visited[at]) return whole;
            visited[at] = true;
            loop.push_back(points[at]);
            size_t next = (at + 1) % n;
            for (size_t guard = 0; partner[next] != kNone; ++guard) {
                if (guard > n) return whole;
                next = (partner[next] + 1) % n;
            }
            at = next;
        } while (at != start);
        if (loop.size() >= 3) loops.push_back(std::move(loop));
    }
    if (loops.empty()) return whole;

    // The outline encloses the most; every other loop must run the other way.
    size_t outer = 0;
    std::vector<long double> areas;
    for (const auto& loop : loops) areas.push_back(TwiceArea(loop));
    auto magnitude = [](long double v) { return v < 0 ? -v : v; };
    for (size_t i = 1; i < loops.size(); ++i) {
        if (magnitude(areas[i]) > magnitude(areas[outer])) outer = i;
    }
    for (size_t i = 0; i < loops.size(); ++i) {
        if (i != outer && (areas[i] < 0) == (areas[outer] < 0)) return whole;
    }
    std::rotate(loops.begin(), loops.begin() + static_cast<ptrdiff_t>(outer), loops.begin() + static_cast<ptrdiff_t>(outer) + 1);
    return loops;
}

namespace {

std::string Mm(int64_t nm) {
    char text[32];
    char* end = AppendMillimetres(text, nm);
    return std::string(text, end);
}

std::string At(BoardPoint p) { return Mm(p.x) + " " + Mm(p.y); }

// " (xy X Y)" for each point of loop, last to first where reversed.
std::string PointsText(std::span<const BoardPoint> loop, bool reversed) {
    std::string pts;
    for (size_t i = 0; i < loop.size(); ++i) pts += " (xy " + At(loop[reversed ? loop.size() - 1 - i : i]) + ")";
    return pts;
}

// Time stamps KiCad wants on every item: made from a counter, so the same
// board gives the same file.
class Stamps {
public:
    std::string Next() {
        char text[48];
        std::snprintf(text, sizeof text, "(tstamp 00000000-0000-4000-8000-%012llx)",
                      static_cast<unsigned long long>(++count_));
        return text;
    }

private:
    uint64_t count_ = 0;
};

void CheckRange(const BoardModel& model) {
    auto check = [](int64_t v) {
        if (v > kKiCadMostNm || v < -kKiCadMostNm) {
            throw Error("The board reaches " + Mm(v < 0 ? -v : v) +
                        " mm from its origin; a KiCad board holds at most 1518.485686 mm");
        }
    };
    check(model.widthNm);
    check(model.heightNm);
    for (const BoardRegion& r : model.regions) {
        for (const BoardPoint& p : r.contour) {
            check(p.x);
            check(p.y);
        }
    }
    for (const BoardHole& h : model.holes) {
        check(h.centre.x);
        check(h.centre.y);
    }
    for (const BoardPoint& p : model.edge) {
        check(p.x);
        check(p.y);
    }
}

const char* kLayers =
    "  (layers\n"
    "    (0 \"F.Cu\" signal)\n"
    "    (31 \"B.Cu\" signal)\n"
    "    (32 \"B.Adhes\" user \"B.Adhesive\")\n"
    "    (33 \"F.Adhes\" user \"F.Adhesive\")\n"
    "    (34 \"B.Paste\" user)\n"
    "    (35 \"F.Paste\" user)\n"
    "    (36 \"B.SilkS\" user \"B.Silkscreen\")\n"
    "    (37 \"F.SilkS\" user \"F.Silkscreen\")\n"
    "    (38 \"B.Mask\" user)\n"
    "    (39 \"F.Mask\" user)\n"
    "    (40 \"Dwgs.User\" user \"User.Drawings\")\n"
    "    (41 \"Cmts.User\" user \"User.Comments\")\n"
    "    (42 \"Eco1.User\" user \"User.Eco1\")\n"
    "    (43 \"Eco2.User\" user \"User.Eco2\")\n"
    "    (44 \"Edge.Cuts\" user)\n"
    "    (45 \"Margin\" user)\n"
    "    (46 \"B.CrtYd\" user \"B.Courtyard\")\n"
    "    (47 \"F.CrtYd\" user \"F.Courtyard\")\n"
    "    (48 \"B.Fab\" user)\n"
    "    (49 \"F.Fab\" user)\n"
    "  )\n\n";

}  // namespace

void WriteKiCadBoard(const BoardModel& model, std::string_view generatorVersion,
                     const std::function<void(std::string_view)>& sink) {
    CheckRange(model);
    Stamps stamps;
    std::string out = "(kicad_pcb (version 20211014) (generator rastrace)\n\n  (general\n    (thickness 1.6)\n  )\n\n"
                      "  (paper \"A4\")\n  (title_block\n    (comment 1 \"Rastrace ";
    out += generatorVersion;
    out += "\")\n  )\n\n";
    out += kLayers;
    out += "  (setup\n    (pad_to_mask_clearance 0)\n  )\n\n  (net 0 \"\")\n";
    for (size_t i = 0; i < model.nets.size(); ++i) {
        out += "  (net " + std::to_string(i + 1) + " \"" + model.nets[i] + "\")\n";
    }
    out += "\n";
    auto netText = [&model](int32_t net) {
        return std::string("(net ") + std::to_string(net) + " \"" + model.nets[static_cast<size_t>(net - 1)] + "\")";
    };
    auto flush = [&out, &sink](bool always) {
        if (always || out.size() >= (size_t{1} << 20)) {
            sink(out);
            out.clear();
        }
    };

    int hole = 0;
    for (const BoardHole& h : model.holes) {
        const bool hasNet = h.net >= 1 && static_cast<size_t>(h.net) <= model.nets.size();
        if (h.plated && h.drillNm < 800'000) {
            out += "  (via (at " + At(h.centre) + ") (size " + Mm(h.padNm) + ") (drill " + Mm(h.drillNm) +
                   ") (layers \"F.Cu\" \"B.Cu\") (net " + std::to_string(hasNet ? h.net : 0) + ") " + stamps.Next() +
                   ")\n";
            continue;
        }
        ++hole;
        // A hole ringed by copper on one side only is a pad of that side's
        // net there: an unplated pad holds no net in KiCad, and the refill
        // would clear the copper around it as another net's.
        const bool pad = h.plated || hasNet;
        const std::string ref = "H" + std::to_string(hole);
        out += "  (footprint \"Rastrace:" + std::string(pad ? "Hole" : "MountingHole") + "\" (layer \"F.Cu\") " +
               stamps.Next() + "\n    (at " + At(h.centre) + ")\n    (attr " +
               (pad ? "through_hole" : "exclude_from_pos_files exclude_from_bom") + ")\n";
        out += "    (fp_text reference \"" + ref + "\" (at 0 0) (layer \"F.SilkS\") hide\n"
               "      (effects (font (size 1 1) (thickness 0.15))) " + stamps.Next() + ")\n";
        out += "    (fp_text value \"" + std::string(pad ? "Hole" : "MountingHole") +
               "\" (at 0 0) (layer \"F.Fab\") hide\n      (effects (font (size 1 1) (thickness 0.15))) " +
               stamps.Next() + ")\n";
        if (pad) {
            const char* layers = h.plated                          ? "\"*.Cu\" \"*.Mask\""
                                 : h.ringed == BoardLayer::Front ? "\"F.Cu\" \"F.Mask\""
                                                                 : "\"B.Cu\" \"B.Mask\"";
            out += "    (pad \"1\" thru_hole circle (at 0 0) (size " + Mm(h.padNm) + " " + Mm(h.padNm) + ") (drill " +
                   Mm(h.drillNm) + ") (layers " + layers + ")" + (hasNet ? " " + netText(h.net) : "") + " " +
                   stamps.Next() + ")\n";
        } else {
            out += "    (pad \"\" np_thru_hole circle (at 0 0) (size " + Mm(h.drillNm) + " " + Mm(h.drillNm) +
                   ") (drill " + Mm(h.drillNm) + ") (layers \"*.Cu\" \"*.Mask\") " + stamps.Next() + ")\n";
        }
        out += "  )\n";
        flush(false);
    }

    std::vector<BoardPoint> edge = model.edge;
    if (edge.empty()) edge = {{0, 0}, {model.widthNm, 0}, {model.widthNm, model.heightNm}, {0, model.heightNm}};
    for (size_t i = 0; i < edge.size(); ++i) {
        out += "  (gr_line (start " + At(edge[i]) + ") (end " + At(edge[(i + 1) % edge.size()]) +
               ") (layer \"Edge.Cuts\") (width 0.1) " + stamps.Next() + ")\n";
    }

    for (const BoardRegion& region : model.regions) {
        if (region.contour.empty() || region.net < 1 || static_cast<size_t>(region.net) > model.nets.size()) continue;
        const char* layer = region.layer == BoardLayer::Front ? "\"F.Cu\"" : "\"B.Cu\"";
        out += "  (zone (net " + std::to_string(region.net) + ") (net_name \"" +
               model.nets[static_cast<size_t>(region.net - 1)] + "\") (layer " + layer + ") " + stamps.Next() +
               " (hatch edge 0.508)\n    (connect_pads yes (clearance 0))\n    (min_thickness 0.0254)"
               " (filled_areas_thickness no)\n    (fill yes (thermal_gap 0.508) (thermal_bridge_width 0.508)"
               " (island_removal_mode 1))\n";
        // The outline and each hole a polygon of its own, as KiCad saves a
        // zone with cutouts (the first is the outline, the others its
        // holes): a refill fills the outline less its holes, where one
        // contour with cuts would be filled across them. The filled polygon
        // is the contour with its cuts, the form KiCad keeps a fill in.
        const std::vector<std::vector<BoardPoint>> loops = RegionLoops(region.contour);
        // KiCad's orientation: the outline's signed area positive (with Y
        // down), the holes' negative. KiCad tells what a fill holds by it,
        // and takes the points inside the holes of a fill turned the other
        // way for copper.
        const bool reversed = TwiceArea(loops[0]) < 0;
        for (const std::vector<BoardPoint>& loop : loops) {
            out += "    (polygon\n      (pts" + PointsText(loop, reversed) + ")\n    )\n";
        }
        out += "    (filled_polygon\n      (layer " + std::string(layer) + ")\n      (pts" +
               PointsText(region.contour, reversed) + ")\n    )\n  )\n";
        flush(false);
    }
    out += ")\n";
    flush(true);
}

}  // namespace rastrace
