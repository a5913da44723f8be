// SPDX-License-Identifier: GPL-3.0-or-later
#include "trace/Outline.h"

#include "trace/Scanner.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <stdexcept>
#include <utility>

namespace rastrace {

namespace {

// Node flags.
constexpr uint8_t kSeed = 1;     // a ring's local top-left corner: its edges leave right and down
constexpr uint8_t kOuter = 2;    // ... with the copper pixel below-right of it (else a hole's corner)
constexpr uint8_t kVisited = 4;  // seen while collecting a finished region's rings

}  // namespace

OutlineTracer::OutlineTracer(ShapeSink sink) : sink_(std::move(sink)) {}

OutlineTracer::~OutlineTracer() = default;

int32_t OutlineTracer::NewNode(int32_t x, int32_t y) {
    int32_t id;
    if (!freeNodes_.empty()) {
        id = freeNodes_.back();
        freeNodes_.pop_back();
    } else {
        id = static_cast<int32_t>(nodes_.size());
        nodes_.emplace_back();
    }
    nodes_[id] = Node{x, y, -1, 0};
    return id;
}

int32_t OutlineTracer::NewLabel() {
    int32_t id;
    if (!freeLabels_.empty()) {
        id = freeLabels_.back();
        freeLabels_.pop_back();
    } else {
        id = static_cast<int32_t>(labels_.size());
        labels_.emplace_back();
        seeds_.emplace_back();
    }
    labels_[id] = Label{id, 1, -1, id, -1};
    seeds_[id].clear();
    return id;
}

int32_t OutlineTracer::Find(int32_t label) {
    while (labels_[label].parent != label) {
        labels_[label].parent = labels_[labels_[label].parent].parent;
        label = labels_[label].parent;
    }
    return label;
}

int32_t OutlineTracer::Unite(int32_t a, int32_t b) {
    a = Find(a);
    b = Find(b);
    if (a == b) return a;
    if (labels_[a].size < labels_[b].size) std::swap(a, b);
    labels_[b].parent = a;
    labels_[a].size += labels_[b].size;
    labels_[labels_[a].memberTail].memberNext = b;
    labels_[a].memberTail = labels_[b].memberTail;
    if (seeds_[a].size() < seeds_[b].size()) std::swap(seeds_[a], seeds_[b]);
    seeds_[a].insert(seeds_[a].end(), seeds_[b].begin(), seeds_[b].end());
    seeds_[b].clear();
    return a;
}

void OutlineTracer::AddRow(std::span<const Span> runs) {
    if (finished_) throw std::logic_error("OutlineTracer: row after Finish");
    if (rows_ >= kMaxOutlineColumn) throw std::invalid_argument("OutlineTracer: too many rows");
    curEnds_.clear();
    for (const Span& s : runs) {
        if (s.start >= s.end) continue;
        if (s.start < 0 || s.end > kMaxOutlineColumn) throw std::invalid_argument("OutlineTracer: column out of range");
        if (!curEnds_.empty()) {
            if (s.start < curEnds_.back()) throw std::invalid_argument("OutlineTracer: runs unsorted or overlapping");
            if (s.start == curEnds_.back()) {
                curEnds_.back() = s.end;
                continue;
            }
        }
        curEnds_.push_back(s.start);
        curEnds_.push_back(s.end);
    }
    Boundary();
    ++rows_;
}

void OutlineTracer::RepeatRow(int32_t times) {
    if (finished_) throw std::logic_error("OutlineTracer: row after Finish");
    if (rows_ == 0) throw std::logic_error("OutlineTracer: no row to repeat");
    if (times <= 0) return;
    if (times > kMaxOutlineColumn - rows_) throw std::invalid_argument("OutlineTracer: too many rows");
    // A row the same as the one above joins each run to the one run above
    // it with the same ends: every edge passes straight through, no region
    // begins or ends, and the next boundary's row is all that moves.
    rows_ += times;
}

void OutlineTracer::Finish() {
    if (finished_) return;
    curEnds_.clear();
    Boundary();
    finished_ = true;
}

// Joins the previous row (above boundary rows_) and the current row (below
// it): labels the current runs, makes the corners on the boundary and links
// them to the open edges, then hands out every region that ends here.
void OutlineTracer::Boundary() {
    const int32_t y = rows_;
    const size_t nP = prevEnds_.size() / 2, nC = curEnds_.size() / 2;

    // Regions: a current run joins every previous run it shares a column with.
    curLabels_.assign(nC, -1);
    size_t i = 0;
    for (size_t j = 0; j < nC; ++j) {
        const int32_t cs = curEnds_[2 * j], ce = curEnds_[2 * j + 1];
        while (i < nP && prevEnds_[2 * i + 1] <= cs) ++i;
        int32_t label = -1;
        for (size_t k = i; k < nP && prevEnds_[2 * k] < ce; ++k) {
            label = label < 0 ? Find(prevLabels_[k]) : Unite(label, prevLabels_[k]);
        }
        curLabels_[j] = label < 0 ? NewLabel() : label;
    }
    for (size_t j = 0; j < nC; ++j) labels_[Find(curLabels_[j])].activeRow = y;

    // Corners: the four pixels around each run end on this boundary decide
    // which edges meet there; each edge's direction keeps copper on its left
    // (Y-up), so every link below is a plain "next" pointer.
    curNodes_.assign(2 * nC, -1);
    const size_t eP = 2 * nP, eC = 2 * nC;
    size_t a = 0, b = 0;
    int32_t pending = -1;  // the vertex where the open horizontal edge started
    const int32_t y2 = 2 * y;
    while (a < eP || b < eC) {
        int32_t x;
        if (a < eP && (b >= eC || prevEnds_[a] <= curEnds_[b])) {
            x = prevEnds_[a];
        } else {
            x = curEnds_[b];
        }
        const bool above = a < eP && prevEnds_[a] == x;
        const bool below = b < eC && curEnds_[b] == x;
        const bool ul = (a & 1) != 0, dl = (b & 1) != 0;
        const bool ur = ul != above, dr = dl != below;
        const bool left = ul != dl, right = ur != dr;
        const int32_t nodeAbove = above ? prevNodes_[a] : -1;
        const int32_t x2 = 2 * x;

        if (above && below && !left && !right) {
            curNodes_[b] = nodeAbove;  // a vertical edge passes straight through
        } else if (above && below) {
            // Two pixels meet only at this corner: two vertices, each with its own pixel.
            if (ul) {  // top-left and bottom-right
                const int32_t v1 = NewNode(x2, y2);
                nodes_[v1].next = nodeAbove;
                nodes_[pending].next = v1;
                const int32_t v2 = NewNode(x2, y2);
                nodes_[v2].flags = kSeed | kOuter;
                seeds_[Find(curLabels_[b / 2])].push_back(v2);
                pending = v2;
                curNodes_[b] = v2;
            } else {  // top-right and bottom-left
                const int32_t v1 = NewNode(x2, y2);
                nodes_[nodeAbove].next = v1;
                const int32_t v2 = NewNode(x2, y2);
                nodes_[v2].next = pending;
                curNodes_[b] = v2;
                pending = v1;
            }
        } else {
            const int32_t v = NewNode(x2, y2);
            if (above) {
                if (ur) {
                    nodes_[nodeAbove].next = v;
                } else {
                    nodes_[v].next = nodeAbove;
                }
            }
            if (left) {
                if (ul) {
                    nodes_[pending].next = v;
                } else {
                    nodes_[v].next = pending;
                }
            }
            if (right) pending = v;
            if (below) curNodes_[b] = v;
            if (right && below) {
                nodes_[v].flags = static_cast<uint8_t>(kSeed | (dr ? kOuter : 0));
                seeds_[Find(curLabels_[b / 2])].push_back(v);
            }
        }
        if (above) ++a;
        if (below) ++b;
    }

    // Regions of the previous row that reach no run of this one are complete.
    finishing_.clear();
    for (size_t k = 0; k < nP; ++k) {
        const int32_t root = Find(prevLabels_[k]);
        if (labels_[root].activeRow != y) {
            labels_[root].activeRow = y;
            finishing_.push_back(root);
        }
    }
    for (int32_t root : finishing_) FinishRegion(root);

    std::swap(prevEnds_, curEnds_);
    std::swap(prevNodes_, curNodes_);
    std::swap(prevLabels_, curLabels_);
}

// Collects the rings of a finished region, joins each hole to the edge
// straight above its top-left corner, hands out the one contour and frees
// the region's vertices and labels.
void OutlineTracer::FinishRegion(int32_t root) {
    struct Hole {
        int32_t top;  // the hole's top-left vertex
    };
    struct Ceiling {
        int32_t y2, left2, right2, node;  // a leftward edge with copper below it
    };
    std::vector<int32_t>& seeds = seeds_[root];
    int32_t outer = -1;
    size_t outerFirst = 0;  // where the outer ring's top-left corner is in shape_.points
    std::vector<Hole> holes;
    std::vector<Ceiling> ceilings;
    // One walk collects every ring's points and vertices; a region without
    // holes (most of them) is handed out from these straight away.
    shape_.points.clear();
    ringNodes_.clear();
    for (int32_t s : seeds) {
        if (nodes_[s].flags & kVisited) continue;
        int32_t best = s, n = s;
        size_t bestIndex = shape_.points.size();
        do {
            Node& node = nodes_[n];
            node.flags |= kVisited;
            if (node.next < 0) throw std::logic_error("OutlineTracer: open ring");
            const Node& next = nodes_[node.next];
            if (next.y2 == node.y2 && next.x2 < node.x2) ceilings.push_back(Ceiling{node.y2, next.x2, node.x2, n});
            if (node.y2 < nodes_[best].y2 || (node.y2 == nodes_[best].y2 && node.x2 < nodes_[best].x2)) {
                best = n;
                bestIndex = shape_.points.size();
            }
            shape_.points.push_back(OutlinePoint{node.x2, node.y2});
            ringNodes_.push_back(n);
            n = node.next;
        } while (n != s);
        if (nodes_[best].flags & kOuter) {
            outer = best;
            outerFirst = bestIndex;
        } else {
            holes.push_back(Hole{best});
        }
    }
    if (outer < 0) throw std::logic_error("OutlineTracer: region without outline");

    if (!holes.empty()) {
        // Sweep down: for each hole, the latest leftward edge above its top
        // left pixel column is where the copper column above it ends.
        std::sort(ceilings.begin(), ceilings.end(), [](const Ceiling& p, const Ceiling& q) { return p.y2 < q.y2; });
        std::sort(holes.begin(), holes.end(),
                  [&](const Hole& p, const Hole& q) { return nodes_[p.top].y2 < nodes_[q.top].y2; });
        struct Cut {
            int32_t node, x2, hole;  // the edge cut into, the cut's x, the hole's top-left vertex
        };
        std::vector<Cut> cuts;
        cuts.reserve(holes.size());
        std::map<int32_t, std::pair<int32_t, int32_t>> cover;  // left2 -> (right2, node)
        size_t c = 0;
        for (const Hole& h : holes) {
            const int32_t hy2 = nodes_[h.top].y2;
            for (; c < ceilings.size() && ceilings[c].y2 < hy2; ++c) {
                const Ceiling& e = ceilings[c];
                // Overwrite [left2, right2) in the cover.
                auto first = cover.lower_bound(e.left2);
                if (first != cover.begin()) {
                    auto prev = std::prev(first);
                    if (prev->second.first > e.left2) {
                        if (prev->second.first > e.right2) cover[e.right2] = prev->second;
                        prev->second.first = e.left2;
                    }
                }
                auto last = cover.lower_bound(e.right2);
                for (auto it = cover.lower_bound(e.left2); it != last;) {
                    if (it->second.first > e.right2) {
                        auto tail = it->second;
                        it = cover.erase(it);
                        cover.emplace(e.right2, tail);
                        break;
                    }
                    it = cover.erase(it);
                }
                cover[e.left2] = {e.right2, e.node};
            }
            const int32_t q = nodes_[h.top].x2 + 1;
            auto it = cover.upper_bound(q);
            if (it == cover.begin() || std::prev(it)->second.first <= q) {
                throw std::logic_error("OutlineTracer: hole without an edge above");
            }
            cuts.push_back(Cut{std::prev(it)->second.second, q, h.top});
        }
        // Cuts on one edge go in from its far end first, so that the edge,
        // which runs leftwards, meets them from right to left.
        std::sort(cuts.begin(), cuts.end(),
                  [](const Cut& p, const Cut& q) { return p.node != q.node ? p.node < q.node : p.x2 < q.x2; });
        for (const Cut& cut : cuts) {
            const int32_t ty2 = nodes_[cut.node].y2, hy2 = nodes_[cut.hole].y2;
            const int32_t s1 = NewNode(cut.x2, hy2), s2 = NewNode(cut.x2, hy2);
            const int32_t t1 = NewNode(cut.x2, ty2), t2 = NewNode(cut.x2, ty2);
            nodes_[s1].next = nodes_[cut.hole].next;
            nodes_[cut.hole].next = s2;
            nodes_[s2].next = t2;
            nodes_[t2].next = nodes_[cut.node].next;
            nodes_[t1].next = s1;
            nodes_[cut.node].next = t1;
        }
    }

    shape_.holes = static_cast<int32_t>(holes.size());
    if (holes.empty()) {
        // The one ring, from its top-left corner.
        std::rotate(shape_.points.begin(), shape_.points.begin() + static_cast<std::ptrdiff_t>(outerFirst),
                    shape_.points.end());
        freeNodes_.insert(freeNodes_.end(), ringNodes_.begin(), ringNodes_.end());
    } else {
        const size_t vertices = shape_.points.size();
        shape_.points.clear();
        shape_.points.reserve(vertices + 4 * holes.size());
        int32_t n = outer;
        do {
            const Node& node = nodes_[n];
            shape_.points.push_back(OutlinePoint{node.x2, node.y2});
            freeNodes_.push_back(n);
            n = node.next;
        } while (n != outer);
    }
    int64_t area2 = 0;  // twice the area in half-pixel units, Y down
    const auto& p = shape_.points;
    for (size_t i = 0, k = p.size() - 1; i < p.size(); k = i++) {
        area2 += static_cast<int64_t>(p[k].x2) * p[i].y2 - static_cast<int64_t>(p[i].x2) * p[k].y2;
    }
    shape_.pixels = -area2 / 8;

    for (int32_t m = root; m >= 0; m = labels_[m].memberNext) {
        seeds_[m].clear();
        freeLabels_.push_back(m);
    }
    sink_(shape_);
}

void CopperRowRuns(const Raster& raster, int32_t row, std::span<const uint32_t> colors, std::vector<Span>& runs) {
    runs.clear();
    const int32_t width = raster.Width();
    if (width == 0) return;
    const uint8_t* p = raster.RowBytes(row).data();
    const int32_t last = width - 1;
    size_t colours = 0;
    for (uint32_t color : colors) {
        if (color > 0x00FFFFFFu) continue;
        ++colours;
        // The kernel ends a run that reaches the last column at the last
        // column itself; the half-open end is one further then.
        const bool lastIsColor = PackColor(p + 3 * static_cast<size_t>(last)) == color;
        detail::ScanRow(p, width, color, [&](int32_t s, int32_t e) {
            runs.push_back(Span{s, e == last && lastIsColor ? width : e});
        });
    }
    if (colours > 1) {
        std::sort(runs.begin(), runs.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    }
}

}  // namespace rastrace
