// SPDX-License-Identifier: GPL-3.0-or-later
#include "trace/BoardRule.h"

#include "common/Error.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace rastrace {

namespace {

enum Kind : uint8_t { kCopper = 0, kNonCopper = 1, kHole = 2, kUnknown = 3 };

constexpr uint8_t kNotLooked = 0xFF;  // the colour's nearest pick is not known yet
constexpr uint8_t kNoPick = 0xFE;     // no pick within the tolerance
// A fill needs its stroke this much lighter (sum of red, green and blue)
// than the copper on both sides, and no pixel of it this much darker.
constexpr int32_t kLighter = 24;
// A blend lies strictly between its two colours: this far from either end.
constexpr float kBlendEnd = 0.05f;
// A colour farther than this from every explanation by the picks present
// around it is explained by all picks.
constexpr float kMostResidual = 24;
// Explanations this close (squared distance) count as equally good.
constexpr float kTie = 60;
// What a blend of two picks costs against one pick (squared distance).
constexpr float kBlendCost = 150;
// A stroke to fill has a channel this much brighter than the copper at
// both its ends: print is the board's brightest ink, bare board between
// exposed copper is not.
constexpr int32_t kBrighter = 24;
// And a colour this much lighter (sum of red, green and blue) than that
// copper: bare board beside tinned copper is about as light as the tin.
constexpr int32_t kPrintLighter = 72;

// to[x] |= from[x] for width pixels; the two never overlap (rows of one
// ring), which lets the compiler work on many at once.
void OrInto(uint32_t* __restrict to, const uint32_t* __restrict from, int32_t width) {
    for (int32_t x = 0; x < width; ++x) to[x] |= from[x];
}

// The loops below take separate rows likewise, so that they too work on
// many pixels at once.

// alike[x]: the picks of the rows above, at and below agree at x.
void AlikeDown(uint8_t* __restrict alike, const uint8_t* __restrict up, const uint8_t* __restrict mid,
               const uint8_t* __restrict down, int32_t width) {
    for (int32_t x = 0; x < width; ++x) alike[x] = static_cast<uint8_t>((up[x] == mid[x]) & (down[x] == mid[x]));
}

// marks[x]: bits[x] where x is the middle of a 3 x 3 square of one pick
// (alike three columns running, of the middle row's pick), else nothing;
// clipped to the row.
void MarkCores(uint32_t* __restrict marks, const uint8_t* __restrict alike, const uint8_t* __restrict mid,
               const uint32_t* __restrict bits, int32_t width) {
    auto at = [&](int32_t x) {
        const int32_t left = x > 0 ? x - 1 : 0, right = x + 1 < width ? x + 1 : x;
        const bool whole = (alike[left] & alike[x] & alike[right]) != 0 && mid[left] == mid[x] && mid[right] == mid[x];
        return whole ? bits[x] : 0u;
    };
    if (width <= 2) {
        for (int32_t x = 0; x < width; ++x) marks[x] = at(x);
        return;
    }
    marks[0] = at(0);
    for (int32_t x = 1; x + 1 < width; ++x) {
        const uint32_t whole = alike[x - 1] & alike[x] & alike[x + 1] & static_cast<uint8_t>(mid[x - 1] == mid[x]) &
                               static_cast<uint8_t>(mid[x + 1] == mid[x]);
        marks[x] = bits[x] & (0u - whole);
    }
    marks[width - 1] = at(width - 1);
}

// to[x]: the marks of from within one pixel of x across.
void SpreadAcross(uint32_t* __restrict to, const uint32_t* __restrict from, int32_t width) {
    if (width == 1) {
        to[0] = from[0];
        return;
    }
    to[0] = from[0] | from[1];
    for (int32_t x = 1; x + 1 < width; ++x) to[x] = from[x - 1] | from[x] | from[x + 1];
    to[width - 1] = from[width - 2] | from[width - 1];
}

// Whether some pixel of the span has other picks present than its own.
bool AnyOther(const uint32_t* __restrict present, const uint32_t* __restrict own, uint32_t many, int32_t count) {
    uint32_t differ = 0;
    for (int32_t x = 0; x < count; ++x) differ |= (present[x] | many) ^ own[x];
    return differ != 0;
}

// The first x from from on where row[x] differs from row[from] (width if
// none): eight bytes are compared at a time.
int32_t RunEnd(const uint8_t* row, int32_t from, int32_t width) {
    const uint8_t value = row[from];
    const uint64_t all = uint64_t{value} * 0x0101010101010101ull;
    int32_t x = from + 1;
    for (; x + 8 <= width; x += 8) {
        uint64_t word;
        std::memcpy(&word, row + x, 8);
        if (word != all) break;
    }
    while (x < width && row[x] == value) ++x;
    return x;
}

// The end of the run of pixels (blue, green, red) of pixel x's colour:
// while the colour goes on, every byte is the one three before it, which is
// compared eight bytes at a time.
int32_t ColourRunEnd(const uint8_t* pixels, int32_t x, int32_t width) {
    const size_t limit = 3 * static_cast<size_t>(width);
    size_t at = 3 * static_cast<size_t>(x) + 3;
    for (; at + 8 <= limit; at += 8) {
        uint64_t word, before;
        std::memcpy(&word, pixels + at, 8);
        std::memcpy(&before, pixels + at - 3, 8);
        if (word != before) break;
    }
    while (at < limit && pixels[at] == pixels[at - 3]) ++at;
    return static_cast<int32_t>(at / 3);
}

// to[x]: the OR of rows[0][x] .. rows[count - 1][x], worked a block at a
// time so the block stays in the cache.
void OrRows(uint32_t* __restrict to, const uint32_t* const* rows, int32_t count, int32_t width) {
    constexpr int32_t kBlock = 1024;
    for (int32_t x0 = 0; x0 < width; x0 += kBlock) {
        const int32_t n = std::min(kBlock, width - x0);
        std::copy_n(rows[0] + x0, n, to + x0);
        for (int32_t i = 1; i < count; ++i) OrInto(to + x0, rows[i] + x0, n);
    }
}

// The first x from from on where row[x] is value (width if none).
int32_t NextOf(const uint8_t* row, uint8_t value, int32_t from, int32_t width) {
    if (from >= width) return width;
    const void* at = std::memchr(row + from, value, static_cast<size_t>(width - from));
    return at == nullptr ? width : static_cast<int32_t>(static_cast<const uint8_t*>(at) - row);
}

// Whether some copper pixel of the span closes a gap of 1 .. stroke rows
// below its column's last copper row (last[x], -1 before one) on row y.
bool AnyGapClosed(const uint8_t* __restrict kinds, const int32_t* __restrict last, int32_t y, int32_t stroke,
                  int32_t count) {
    int32_t closed = 0;
    for (int32_t x = 0; x < count; ++x) {
        closed |= static_cast<int32_t>(kinds[x] == kCopper) & static_cast<int32_t>(last[x] >= 0) &
                  static_cast<int32_t>(last[x] >= y - 1 - stroke) & static_cast<int32_t>(last[x] <= y - 2);
    }
    return closed != 0;
}

// copper[x]: 1 where kinds[x] is copper.
void CopperOf(uint8_t* __restrict copper, const uint8_t* __restrict kinds, int32_t width) {
    for (int32_t x = 0; x < width; ++x) copper[x] = static_cast<uint8_t>(kinds[x] == kCopper);
}

struct Pick {
    int32_t r, g, b;
    Kind kind;
    int32_t lum;
    int32_t bright;  // its brightest channel
};

int32_t Lum(const uint8_t* p) { return int32_t{p[0]} + p[1] + p[2]; }

}  // namespace

bool ParseTraceRule(const std::string& text, TraceRule& rule) {
    if (text == "colour") {
        rule = TraceRule::Colour;
    } else if (text == "board") {
        rule = TraceRule::Board;
    } else {
        return false;
    }
    return true;
}

BoardColors BoardDefaultsFor(int32_t dpi) {
    BoardColors c;
    const int32_t d = std::clamp(dpi, 1, 9600);
    c.strokeWidth = std::max(2, static_cast<int32_t>(std::lround(0.4 * d / 25.4)));
    c.blendRadius = std::max(1, static_cast<int32_t>(std::lround(d / 400.0)));
    c.speck = std::max(2, static_cast<int32_t>(std::lround(2.0 * d / 600 * d / 600)));
    return c;
}

// The clean-up of a row looks this many rows below it.
constexpr int32_t kCleanRows = 3;

// The largest speck the clean-up drops, in pixels.
constexpr int32_t kMostSpeck = 64;

// No cell: past the picture or the rows held.
constexpr size_t kNoCell = std::numeric_limits<size_t>::max();

// The most the rule's window of rows may hold.
constexpr size_t kMostWindowBytes = size_t{1} << 30;

struct BoardClassifier::State {
    int32_t width, height;
    int32_t stroke, radius;
    int32_t reach;  // how far a pick counts as present: the radius, and at least 2
    int32_t speck;  // the most pixels a speck the clean-up drops may have
    std::vector<std::pair<int32_t, int32_t>> flood;  // IsSpeck's pixels
    int64_t tolerance2;  // negative: no limit
    std::vector<Pick> picks;
    std::vector<uint8_t> lut;  // nearest pick of every colour, found on first sight
    int32_t ring;              // rows held
    std::vector<uint8_t> pix, pick, kind, copper;
    std::vector<uint32_t> rowBits;   // a row's worth: each pixel's pick's bit
    std::vector<uint16_t> lum;
    std::vector<uint8_t> sameAbove;  // per slot: the row's pixels are the row above's
    int32_t pushed = 0, judged = 0, popped = 0;
    std::vector<uint32_t> hcore;      // CoreRow's marks, spread across
    std::vector<uint32_t> presentAt;  // picks present at each pixel judged
    std::vector<uint32_t> coreRow;    // a row's worth, for CoreRow
    std::vector<uint32_t> coreSpread; // another
    std::vector<uint8_t> coreAlike;   // and one of bytes
    int32_t cored = 0;                // rows CoreRow has marked
    std::vector<int32_t> lastCopper;  // down each column: the last copper row, -1 before one
    uint8_t kindOfPick[256] = {};    // Kind of each pick index, kUnknown for kNoPick
    uint32_t ownBit[256] = {};       // each pick's bit (none past the 32nd)
    uint32_t manyPicks = 0;          // every bit, when there are more than 32 picks
    std::vector<const uint8_t*> pickRows;  // JudgeRow's rows of picks around
    std::vector<const uint32_t*> coreRows; // and of marks
    uint32_t copperBits = 0;         // the bits of the copper colours
    uint32_t otherBits = 0;          // and of the colours of neither copper nor a hole
    uint32_t lightCopperBits = 0;    // those as light as a thin stroke's middle may be
    int32_t darkestOther = 0;        // the lightness of the darkest non-copper colour
    int32_t strokeRows = 0;          // rows below a row its marks look at
    std::vector<const uint16_t*> nearLum;  // UnmarkThinStrokes' rows of lightness around
    std::vector<const uint8_t*> nearPick;  // and of picks

    int32_t passed = 0;  // rows passed over (Skip): the slots are counted from there
    // Which of the ring's rows holds row y, and where its cells start.
    size_t RingRow(int32_t y) const {
        const int32_t at = (y - passed) % ring;
        return static_cast<size_t>(at < 0 ? at + ring : at);
    }
    size_t Slot(int32_t y) const { return RingRow(y) * static_cast<size_t>(width); }

    // The squared distance from colour p (blue, green, red) to pick a's.
    static int64_t Distance2(const uint8_t* p, const Pick& a) {
        const int64_t dr = p[2] - a.r, dg = p[1] - a.g, db = p[0] - a.b;
        return dr * dr + dg * dg + db * db;
    }

    // The pick among those of mask (with every pick past the 32nd) nearest
    // colour p, and its squared distance; picks.size() where mask holds none.
    size_t NearestIn(const uint8_t* p, uint32_t mask, int64_t& distance2) const {
        distance2 = std::numeric_limits<int64_t>::max();
        size_t found = picks.size();
        for (size_t i = 0; i < picks.size(); ++i) {
            if (i < 32 && (mask >> i & 1u) == 0) continue;
            const int64_t d = Distance2(p, picks[i]);
            if (d < distance2) {
                distance2 = d;
                found = i;
            }
        }
        return found;
    }

    uint8_t Nearest(const uint8_t* p) {
        uint8_t& cached = lut[PackColor(p)];
        if (cached != kNotLooked) return cached;
        int64_t best = 0;
        const size_t at = NearestIn(p, ~0u, best);
        cached = at == picks.size() || (tolerance2 >= 0 && best > tolerance2) ? kNoPick : static_cast<uint8_t>(at);
        return cached;
    }

    // The lightness a copper end of a fill counts with: its picked colour's
    // where the pixel is nearest a copper pick, else its own.
    int32_t EndLum(size_t at) const {
        const uint8_t p = pick[at];
        return p != kNoPick && picks[p].kind == kCopper ? picks[p].lum : lum[at];
    }

    // The rows around one being judged: picks at a radius and twice it
    // above and below (null past the picture), pixels a row above and below.
    struct Around {
        const uint8_t* const* pick;  // rows y - 2r .. y + 2r: pick[2r + i] is row y + i
        const uint8_t* pix[3];       // rows y - 1, y, y + 1
    };

    // Whether pixel x is a blend seen across an edge: it lies between two
    // different picks at a radius (or twice it) either side, across or
    // down, and its colour climbs from one to the other across it. Such a
    // blend goes to the nearer of the two (kind); of several such pairs the
    // one of the most different colours counts.
    bool BlendAcross(int32_t x, const Around& rows, Kind& kind) const {
        // Across and down only: a diagonal pair at a track's corner against
        // print reads as a blend of mask and print.
        static constexpr int32_t kDirs[2][2] = {{1, 0}, {0, 1}};
        const int32_t r2 = 2 * radius;
        const uint8_t own = rows.pick[r2][x];
        Kind result = kUnknown;
        const uint8_t* p = rows.pix[1] + 3 * static_cast<size_t>(x);
        float widest = 0;
        for (int step = 1; step <= 2; ++step) {
            const int32_t k = step * radius;
            for (const auto& dir : kDirs) {
                if (dir[0] != 0 && (x < k || x + k >= width)) continue;
                // a lies k back along the direction, b k ahead.
                const uint8_t* rowA = rows.pick[r2 - k * dir[1]];
                const uint8_t* rowB = rows.pick[r2 + k * dir[1]];
                if (rowA == nullptr || rowB == nullptr) continue;
                const uint8_t pa = rowA[x - k * dir[0]], pb = rowB[x + k * dir[0]];
                if (pa == pb || pa == kNoPick || pb == kNoPick) continue;
                const Pick& a = picks[pa];
                const Pick& b = picks[pb];
                const float dr = static_cast<float>(b.r - a.r), dg = static_cast<float>(b.g - a.g),
                            db = static_cast<float>(b.b - a.b);
                const float len2 = dr * dr + dg * dg + db * db;
                if (len2 <= widest) continue;
                auto along = [&](const uint8_t* q) {
                    return (static_cast<float>(q[2] - a.r) * dr + static_cast<float>(q[1] - a.g) * dg +
                            static_cast<float>(q[0] - a.b) * db) / len2;
                };
                const float t = along(p);
                if (t <= kBlendEnd || t >= 1 - kBlendEnd) continue;
                const float er = static_cast<float>(p[2] - a.r) - t * dr, eg = static_cast<float>(p[1] - a.g) - t * dg,
                            eb = static_cast<float>(p[0] - a.b) - t * db;
                const float limit = std::sqrt(len2) / 6 + 8;
                if (er * er + eg * eg + eb * eb > limit * limit) continue;
                // The neighbours either side along the direction: a blend
                // climbs; a plateau of one colour (a ring of tin between
                // mask and lid) is no blend, whatever its colour.
                const uint8_t* qa = rows.pix[1 - dir[1]];
                const uint8_t* qb = rows.pix[1 + dir[1]];
                if (qa == nullptr || qb == nullptr) continue;
                const float climb = along(qb + 3 * static_cast<size_t>(x + dir[0])) - along(qa + 3 * static_cast<size_t>(x - dir[0]));
                if (climb < 1.0f / static_cast<float>(4 * k)) continue;
                // A blend is thin across: no more than the radius of pixels
                // of its own pick in a row along the direction. A track of
                // the same colour is wider.
                int32_t run = 1;
                for (int sign = -1; sign <= 1; sign += 2) {
                    for (int32_t i = 1; i <= radius && run <= radius; ++i) {
                        const int32_t xi = x + sign * i * dir[0];
                        const uint8_t* rowI = rows.pick[r2 + sign * i * dir[1]];
                        if (xi < 0 || xi >= width || rowI == nullptr || rowI[xi] != own) break;
                        ++run;
                    }
                }
                if (run > radius) continue;
                widest = len2;
                result = t < 0.5f ? a.kind : b.kind;
            }
        }
        if (widest == 0) return false;
        kind = result;
        return true;
    }

    // Whether pick own is lighter than every copper pick of mask, and at
    // least as bright in its brightest channel: a crest of tin, not bare
    // board or mask between tracks.
    bool IsCrest(uint8_t own, uint32_t mask) const {
        if (mask == 0) return false;
        for (size_t i = 0; i < picks.size() && i < 32; ++i) {
            if ((mask >> i & 1u) == 0) continue;
            if (picks[own].lum < picks[i].lum + kLighter || picks[own].bright < picks[i].bright) return false;
        }
        return true;
    }

    // Whether the pixels the reach away from pixel x, across and down,
    // are all nearest a copper pick: a crest lies amid copper, a stroke
    // between two tracks does not.
    bool AmidCopper(int32_t x, const Around& rows) const {
        const int32_t r2 = 2 * radius;
        if (x < reach || x + reach >= width || rows.pick[r2 - reach] == nullptr || rows.pick[r2 + reach] == nullptr) return false;
        const uint8_t around[4] = {rows.pick[r2][x - reach], rows.pick[r2][x + reach], rows.pick[r2 - reach][x],
                                   rows.pick[r2 + reach][x]};
        for (const uint8_t p : around) {
            if (kindOfPick[p] != kCopper) return false;
        }
        return true;
    }

    // out[x] = table[picks[x]] across a row (a pick's bit or kind), a run
    // of one pick at a time.
    template <typename T>
    void ByPick(const uint8_t* picks, const T* table, T* out) const {
        for (int32_t x = 0; x < width;) {
            const int32_t end = RunEnd(picks, x, width);
            std::fill(out + x, out + end, table[picks[x]]);
            x = end;
        }
    }

    // Whether row y's pixels are those of the row above (false for row 0).
    bool SameAbove(int32_t y) const { return y > 0 && sameAbove[RingRow(y)] != 0; }

    // Whether rows first - 1 .. last are all alike (and in the picture).
    bool AllAlike(int32_t first, int32_t last) const {
        if (first < 1 || last >= height) return false;
        for (int32_t y = first; y <= last; ++y) {
            if (!SameAbove(y)) return false;
        }
        return true;
    }

    // Marks row c's pixels that are the middle of a 3 x 3 square of one
    // pick (clipped to the picture), as that pick's bit, and spreads the
    // marks across the row by the reach. A pick so marked within the
    // reach of a pixel, across and down, is present there: a blurred
    // edge between two other colours never is (it crosses the edge in a
    // pixel or two). Picks past the 32nd have no bit and count as present
    // everywhere.
    //
    // A light copper colour is not marked in the middle of a thin light
    // line (IsThinStrokeMiddle): there it is print, not tin or gold.
    void CoreRow(int32_t c) {
        // Rows alike give the marks of the row above.
        if (AllAlike(c - 1 - strokeRows, c + 1 + strokeRows)) {
            std::copy_n(&hcore[Slot(c - 1)], width, &hcore[Slot(c)]);
            return;
        }
        const uint8_t* rows[3];
        for (int i = 0; i < 3; ++i) rows[i] = &pick[Slot(std::clamp(c + i - 1, 0, height - 1))];
        uint32_t* marks = coreRow.data();
        // Down each column: the three picks alike; then across, three such
        // columns of the middle's pick.
        AlikeDown(coreAlike.data(), rows[0], rows[1], rows[2], width);
        ByPick(rows[1], ownBit, rowBits.data());
        MarkCores(marks, coreAlike.data(), rows[1], rowBits.data(), width);
        if (lightCopperBits != 0) UnmarkThinStrokes(c, marks);
        // Spread by one pixel reach times: the same as by reach at once.
        uint32_t* spread = &hcore[Slot(c)];
        uint32_t* from = marks;
        for (int32_t step = 0; step < reach; ++step) {
            uint32_t* to = step + 1 == reach ? spread : (step % 2 == 0 ? coreSpread.data() : marks);
            SpreadAcross(to, from, width);
            from = to;
        }
    }

    // Clears the marks of light copper colours in row c where the pixel is
    // the middle of a thin light line (IsThinStrokeMiddle). Only pixels
    // whose pick differs from it both ways at the line's most width, along
    // some direction, are looked at closely: a pad's inside never does.
    void UnmarkThinStrokes(int32_t c, uint32_t* marks) {
        const int32_t steps = strokeRows;
        for (int32_t i = -steps; i <= steps; ++i) {
            const int32_t at = c + i;
            const bool held = at >= 0 && at < height && at > pushed - ring && at < pushed;
            nearLum[static_cast<size_t>(i + steps)] = held ? &lum[Slot(at)] : nullptr;
            nearPick[static_cast<size_t>(i + steps)] = held ? &pick[Slot(at)] : nullptr;
        }
        const uint8_t* const* near = nearPick.data() + steps;  // near[i]: row c + i
        // A thin line's pixels above halfway reach no farther than these
        // either way, across or down and along a diagonal.
        const int32_t axis = ThinMost(), diagonal = 7 * ThinMost() / 10;
        uint8_t* apart = coreAlike.data();
        for (int32_t x = 0; x < width; ++x) apart[x] = 0;
        if (width > 2 * axis && near[-axis] != nullptr && near[axis] != nullptr && near[-diagonal] != nullptr &&
            near[diagonal] != nullptr) {
            ApartBothWays(apart, near[0], near[0], -axis, near[0], axis, axis, width - axis);
            ApartBothWays(apart, near[0], near[-axis], 0, near[axis], 0, axis, width - axis);
            ApartBothWays(apart, near[0], near[-diagonal], -diagonal, near[diagonal], diagonal, axis, width - axis);
            ApartBothWays(apart, near[0], near[-diagonal], diagonal, near[diagonal], -diagonal, axis, width - axis);
            for (int32_t x = 0; x < axis; ++x) apart[x] = apart[width - 1 - x] = 1;
        } else {
            for (int32_t x = 0; x < width; ++x) apart[x] = 1;
        }
        for (int32_t x = 0; x < width; ++x) {
            if (apart[x] != 0 && (marks[x] & lightCopperBits) != 0 && IsThinStrokeMiddle(x, picks[near[0][x]])) marks[x] = 0;
        }
    }

    // apart[x] |= the picks from[x + fromDx] and to[x + toDx] both differ
    // from mid[x], for x in [first, end).
    static void ApartBothWays(uint8_t* __restrict apart, const uint8_t* mid, const uint8_t* from, int32_t fromDx,
                              const uint8_t* to, int32_t toDx, int32_t first, int32_t end) {
        for (int32_t x = first; x < end; ++x) {
            apart[x] |= static_cast<uint8_t>((from[x + fromDx] != mid[x]) & (to[x + toDx] != mid[x]));
        }
    }

    // The most pixels across a thin line (a stroke whose middle the blur
    // keeps from the print's colour): twice the blend radius and one.
    int32_t ThinMost() const { return 2 * radius + 1; }

    // Whether pixel x of the row UnmarkThinStrokes looks at (nearLum's
    // middle), nearest the light copper pick own, is the middle of a light
    // line no wider than ThinMost(): a print stroke so thin
    // that the blur keeps its middle from the print's colour, which then
    // may be that of tin or gold. Across, down or along a diagonal, the
    // lightness falls both ways from it to a floor at least half as far
    // below it as own is above the darkest non-copper colour, and no more
    // than that many pixels lie above halfway down. A pad is wider; a ring
    // around a hole has the hole's colour on one side, which is no such
    // floor when the lid is light, and when it is dark the ring is wider.
    bool IsThinStrokeMiddle(int32_t x, const Pick& own) const {
        static constexpr int32_t kDirs[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
        const int32_t steps = strokeRows;
        const uint16_t* const* rows = nearLum.data() + steps;  // rows[i]: the lightness of row c + i
        const int32_t peak = rows[0][x];
        // The lightness k steps along dir from the pixel, or -1 past the rows held.
        auto at = [&](const int32_t* dir, int32_t k) -> int32_t {
            const int32_t px = x + k * dir[0];
            const uint16_t* row = rows[k * dir[1]];
            return px < 0 || px >= width || row == nullptr ? -1 : row[px];
        };
        for (const auto& dir : kDirs) {
            // The floor: the darkest pixel within the steps either way, the
            // higher of the two.
            int32_t floor[2] = {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()};
            for (int side = 0; side < 2; ++side) {
                const int32_t sign = side == 0 ? -1 : 1;
                for (int32_t k = 1; k <= steps; ++k) {
                    const int32_t v = at(dir, sign * k);
                    if (v < 0) break;
                    floor[side] = std::min(floor[side], v);
                }
            }
            const int32_t base = std::max(floor[0], floor[1]);
            if (base == std::numeric_limits<int32_t>::max() || 2 * (peak - base) < own.lum - darkestOther) continue;
            const int32_t half = (peak + base + 1) / 2;
            int32_t wide = 1;
            for (int side = 0; side < 2; ++side) {
                const int32_t sign = side == 0 ? -1 : 1;
                for (int32_t k = 1; k <= steps; ++k) {
                    const int32_t v = at(dir, sign * k);
                    if (v < half) break;
                    ++wide;
                }
            }
            // Along a diagonal the pixels lie 1.41 apart.
            const bool diagonal = dir[0] != 0 && dir[1] != 0;
            if (diagonal ? 10 * wide <= 7 * ThinMost() : wide <= ThinMost()) return true;
        }
        return false;
    }

    // An explanation of a colour: how far it lies from it, its copper
    // share, and the span of the blend (0 for one pick).
    struct Fit {
        float residual2 = std::numeric_limits<float>::max();
        float copper = 0;
        float span2 = 0;
    };
    // Explanations found, by colour, picks and way of choosing: a board's
    // edges show the same few blends again and again.
    struct Remembered {
        uint64_t key = ~uint64_t{0};
        Fit fit;
    };
    static constexpr int kRememberedBits = 14;
    mutable std::vector<Remembered> remembered = std::vector<Remembered>(size_t{1} << kRememberedBits);

    Fit Explain(const uint8_t* p, uint32_t mask, bool widest) const {
        const uint64_t key = uint64_t{PackColor(p)} | uint64_t{mask} << 24 | uint64_t{widest} << 56;
        Remembered& slot = remembered[(key * 0x9E3779B97F4A7C15ull) >> (64 - kRememberedBits)];
        if (slot.key != key) slot = Remembered{key, ExplainAfresh(p, mask, widest)};
        return slot.fit;
    }

    // The best explanation of colour p by the picks in mask: a pick alone,
    // or a blend of two on the line between them. widest: of explanations
    // about as close as the closest, the blend of the two most different
    // colours counts (a light stroke's edge is a blend of mask and print,
    // not a darker copper).
    Fit ExplainAfresh(const uint8_t* p, uint32_t mask, bool widest) const {
        Fit best;
        float bestScore = std::numeric_limits<float>::max();
        auto consider = [&](float residual2, float copper, float span2) {
            if (widest) {
                if (residual2 < best.residual2 - kTie || (residual2 <= best.residual2 + kTie && span2 > best.span2)) {
                    best = Fit{residual2, copper, span2};
                }
                return;
            }
            // A blend must explain the colour clearly better than one pick.
            const float score = residual2 + (span2 > 0 ? kBlendCost : 0);
            if (score < bestScore) {
                bestScore = score;
                best = Fit{residual2, copper, span2};
            }
        };
        const float v[3] = {static_cast<float>(p[2]), static_cast<float>(p[1]), static_cast<float>(p[0])};
        uint8_t at[32];
        int n = 0;
        for (size_t i = 0; i < picks.size() && n < 32; ++i) {
            if (i >= 32 || (mask >> i & 1u) != 0) at[n++] = static_cast<uint8_t>(i);
        }
        for (int i = 0; i < n; ++i) {
            const Pick& a = picks[at[i]];
            const float dr = v[0] - static_cast<float>(a.r), dg = v[1] - static_cast<float>(a.g), db = v[2] - static_cast<float>(a.b);
            consider(dr * dr + dg * dg + db * db, a.kind == kCopper ? 1.0f : 0.0f, 0);
        }
        for (int i = 0; i < n; ++i) {
            const Pick& a = picks[at[i]];
            for (int j = i + 1; j < n; ++j) {
                const Pick& b = picks[at[j]];
                const float er = static_cast<float>(b.r - a.r), eg = static_cast<float>(b.g - a.g), eb = static_cast<float>(b.b - a.b);
                const float len2 = er * er + eg * eg + eb * eb;
                if (len2 < 1) continue;
                const float wr = v[0] - static_cast<float>(a.r), wg = v[1] - static_cast<float>(a.g), wb = v[2] - static_cast<float>(a.b);
                const float t = (wr * er + wg * eg + wb * eb) / len2;
                if (t <= 0 || t >= 1) continue;
                const float rr = wr - t * er, rg = wg - t * eg, rb = wb - t * eb;
                const float copper = (a.kind == kCopper ? 1 - t : 0) + (b.kind == kCopper ? t : 0);
                consider(rr * rr + rg * rg + rb * rb, copper, len2);
            }
        }
        return best;
    }

    // The kind of pixel x of row y (its nearest pick own): the pick's own
    // where it is the only pick present; else the best explanation by the
    // picks present, or by all of them where none explains it well.
    // farther: where no pick is present, the copper colours present within
    // twice the reach.
    Kind Judge(int32_t x, int32_t y, uint8_t own, uint32_t present, const Around& rows, uint32_t farther = 0) const {
        if (own == kNoPick) return kUnknown;
        const Kind verdict = Explained(x, y, own, present, rows, farther);
        // A blend seen across an edge may still say it is none.
        Kind blend;
        if (verdict == kCopper && BlendAcross(x, rows, blend) && blend != kCopper) return blend;
        return verdict;
    }

    // The kind Judge finds before the blend across an edge is looked at.
    Kind Explained(int32_t x, int32_t y, uint8_t own, uint32_t present, const Around& rows, uint32_t farther) const {
        const uint8_t* p = &pix[(Slot(y) + static_cast<size_t>(x)) * 3];
        // No pick present, but copper colours twice as far off: a blend of
        // two of them is copper (where a track leaves a pad, through the
        // ring of bare board its mask opening leaves). Anything else there
        // is for all picks to explain (the blurred edge of a stroke
        // between two tracks).
        if (present == 0 && farther != 0) {
            const Fit near = Explain(p, farther, false);
            // And clearly better than the colour's own pick: at most half
            // as far (yellow print lies near the line from gold to green
            // copper).
            if (near.span2 > 0 && near.copper > 0.99f && near.residual2 <= kMostResidual * kMostResidual &&
                4 * near.residual2 <= static_cast<float>(Distance2(p, picks[own]))) {
                return kCopper;
            }
        }
        Fit fit = present != 0 ? Explain(p, present, false) : Fit{};
        if (fit.residual2 > kMostResidual * kMostResidual) {
            // A light colour of no copper that is not present itself, amid
            // copper that is and darker: a bright crest of a lumpy finish.
            if (picks[own].kind != kCopper && (present & ownBit[own]) == 0 && IsCrest(own, present & copperBits) &&
                AmidCopper(x, rows)) {
                return kCopper;
            }
            fit = Explain(p, ~0u, true);
        }
        if (fit.copper > 0.5f) return kCopper;
        return picks[own].kind == kCopper ? kNonCopper : picks[own].kind;
    }

    // The picks present within twice the reach of pixel x of row y: the
    // marks, spread by the reach, a reach either side and up to twice it
    // above and below.
    uint32_t PresentFarther(int32_t x, int32_t y) const {
        uint32_t present = 0;
        const int32_t top = std::max(y - 2 * reach, 0), bottom = std::min(y + 2 * reach, height - 1);
        const int32_t left = std::max(x - reach, 0), right = std::min(x + reach, width - 1);
        for (int32_t r = top; r <= bottom; ++r) {
            const uint32_t* marks = &hcore[Slot(r)];
            present |= marks[left] | marks[x] | marks[right];
        }
        return present;
    }

    // Judges row y, fills the print strokes it closes down the columns
    // above it, and those across the row a stroke's width above.
    void JudgeRow(int32_t y) {
        const size_t row = Slot(y);
        const uint8_t* mid = &pick[row];
        uint8_t* kinds = &kind[row];
        const int32_t r2 = 2 * radius;
        for (int32_t i = -r2; i <= r2; ++i) {
            const int32_t at = y + i;
            pickRows[static_cast<size_t>(i + r2)] = at >= 0 && at < height ? &pick[Slot(at)] : nullptr;
        }
        Around rows{pickRows.data(), {}};
        for (int i = 0; i < 3; ++i) {
            const int32_t at = y + i - 1;
            rows.pix[i] = at >= 0 && at < height ? &pix[Slot(at) * 3] : nullptr;
        }
        uint32_t* near = &presentAt[row];
        const int32_t window = std::max(r2, 2 * reach);
        if (AllAlike(y - window, y + window)) {
            // Everything the judging looks at is as it was for the row above.
            std::copy_n(&presentAt[Slot(y - 1)], width, near);
            std::copy_n(&kind[Slot(y - 1)], width, kinds);
        } else {
            // Most of a board lies where only its own pick is present:
            // there is nothing to explain. Only the rest is judged.
            const int32_t top = std::max(y - reach, 0), bottom = std::min(y + reach, height - 1);
            for (int32_t at = top; at <= bottom; ++at) coreRows[static_cast<size_t>(at - top)] = &hcore[Slot(at)];
            OrRows(near, coreRows.data(), bottom - top + 1, width);
            ByPick(mid, kindOfPick, kinds);
            ByPick(mid, ownBit, rowBits.data());
            const uint32_t* own = rowBits.data();
            constexpr int32_t kSpan = 32;
            for (int32_t x0 = 0; x0 < width; x0 += kSpan) {
                const int32_t end = std::min(width, x0 + kSpan);
                if (!AnyOther(near + x0, own + x0, manyPicks, end - x0)) continue;
                for (int32_t x = x0; x < end; ++x) {
                    const uint32_t present = near[x] | manyPicks;
                    if (present == own[x]) continue;
                    // Where no pick is present within the reach (a narrow
                    // meeting of several colours), the copper colours
                    // present twice as far may explain it.
                    const uint32_t farther = present == 0 ? PresentFarther(x, y) & copperBits : 0;
                    kinds[x] = static_cast<uint8_t>(Judge(x, y, mid[x], present, rows, farther));
                }
            }
        }
        CopperOf(&copper[row], kinds, width);
        if (stroke <= 0) return;
        const uint8_t* kindRow = kinds;
        // Down: each gap below a column's last copper pixel, the rows of
        // which are still held.
        int32_t* lastRow = lastCopper.data();
        constexpr int32_t kSpan = 32;
        for (int32_t x0 = 0; x0 < width; x0 += kSpan) {
            const int32_t end = std::min(width, x0 + kSpan);
            if (!AnyGapClosed(kindRow + x0, lastRow + x0, y, stroke, end - x0)) {
                for (int32_t x = x0; x < end; ++x) lastRow[x] = kindRow[x] == kCopper ? y : lastRow[x];
                continue;
            }
            for (int32_t x = x0; x < end; ++x) {
                if (kindRow[x] != kCopper) continue;
                const int32_t above = lastRow[x];
                lastRow[x] = y;
                const int32_t gap = y - above - 1;
                if (above < 0 || gap < 1 || gap > stroke) continue;
                const auto c = static_cast<size_t>(x);
                if (IsStroke(Slot(above) + c, row + c, gap, [this, above, c](int32_t i) { return Slot(above + 1 + i) + c; },
                             x, above + 1 + gap / 2, false)) {
                    for (int32_t r = above + 1; r < y; ++r) copper[Slot(r) + c] = 1;
                }
            }
        }
        // Across, a stroke's width of rows behind: the rows below a gap are
        // held then, to see whether the stroke runs on past it.
        if (y >= stroke) AcrossFill(y - stroke);
        if (y == height - 1) {
            for (int32_t r = std::max(0, height - stroke); r < height; ++r) AcrossFill(r);
        }
    }

    // Fills the print strokes of row y across: each gap between copper
    // pixels no wider than a stroke.
    void AcrossFill(int32_t y) {
        const size_t row = Slot(y);
        const uint8_t* kindRow = &kind[row];
        int32_t last = -1;
        // Only where a run of copper starts may a gap close.
        for (int32_t x = NextOf(kindRow, kCopper, 0, width); x < width;) {
            const int32_t gap = x - last - 1;
            if (last >= 0 && gap >= 1 && gap <= stroke &&
                IsStroke(row + static_cast<size_t>(last), row + static_cast<size_t>(x), gap,
                         [row, last](int32_t i) { return row + static_cast<size_t>(last + 1 + i); }, last + 1 + gap / 2, y,
                         true)) {
                std::fill(copper.begin() + static_cast<ptrdiff_t>(row) + last + 1,
                          copper.begin() + static_cast<ptrdiff_t>(row) + x, uint8_t{1});
            }
            const int32_t end = RunEnd(kindRow, x, width);
            const int32_t next = NextOf(kindRow, kCopper, end, width);
            // Where the row itself has copper a stroke's width or less
            // away, the gap is the straight fill's.
            if (last < 0 || gap > stroke) SlantFill(x, y, -1);
            if (next >= width || next - end > stroke) SlantFill(end - 1, y, 1);
            last = end - 1;
            x = next;
        }
    }

    // Along the edge of a track that crosses a stroke at a slant, the
    // copper on the stroke's far side lies rows lower than in this row, so
    // no row finds copper at both ends of the gap there. From copper pixel
    // (x0, y) at the end of a run with no copper a stroke's width away in
    // its own row, the gap is looked for along lines going down and away
    // (dir -1 left, 1 right), a quarter step at a time to the diagonal, no
    // lower than the rows judged. The line must run along the track:
    // copper goes on back along it for twice a stroke's width (a line
    // across a track leaves it; one that leaves the rows held does not
    // count) and on past the far end.
    void SlantFill(int32_t x0, int32_t y, int32_t dir) {
        const int32_t backMost = 2 * stroke, onMost = stroke / 2;
        for (int32_t slant = 1; slant <= 4; ++slant) {
            const auto down = [slant](int32_t k) { return (k * slant + 2) / 4; };
            // Cell k along the line; kNoCell below the rows judged.
            const auto cellAt = [&](int32_t k) { return down(k) > stroke ? kNoCell : HeldCell(x0 + dir * k, y + down(k)); };
            const auto copperAt = [&](size_t at) { return at != kNoCell && kind[at] == kCopper; };
            // The far end: the first copper along the line.
            int32_t k = 1;
            size_t far = cellAt(1);
            while (k <= stroke + 1 && far != kNoCell && kind[far] != kCopper) far = cellAt(++k);
            if (k == 1 || k > stroke + 1 || !copperAt(far)) continue;
            const int32_t gap = k - 1;
            int32_t on = 0;
            while (on < onMost && copperAt(cellAt(k + 1 + on))) ++on;
            if (on < onMost) continue;
            int32_t back = 1;
            while (back <= backMost && copperAt(HeldCell(x0 - dir * back, y - down(back)))) ++back;
            if (back <= backMost) continue;
            const auto cell = [&](int32_t i) { return cellAt(i + 1); };
            const int32_t m = gap / 2 + 1;
            if (IsStroke(Slot(y) + static_cast<size_t>(x0), far, gap, cell, x0 + dir * m, y + down(m), true)) {
                for (int32_t i = 0; i < gap; ++i) copper[cell(i)] = 1;
                return;
            }
        }
    }

    // Whether the gap of count pixels (cell(0) .. cell(count - 1)) between
    // copper pixels a and b is print to fill: no pixel of it much darker
    // than the copper either side, one much lighter, and one nearest a
    // colour not of copper whose brightest channel is brighter than that of
    // the copper colour at either end (print is the board's brightest ink;
    // bare board between exposed copper is not).
    //
    // And the stroke crosses the gap: its light pixels run on from the
    // gap's middle (mx, my), both ways along one straight line between the
    // two diagonals across the gap, well past the gap's own width, in the
    // rows held. A stroke
    // along the gap (print between two tracks) or a round spot (a drilled
    // hole, whose colour is much the print's, or a lump) does not, nor does
    // a row along a stroke's blurred edge between two tracks it crosses:
    // the stroke lies on one side of it only.
    template <typename Cell>
    bool IsStroke(size_t a, size_t b, int32_t count, const Cell& cell, int32_t mx, int32_t my, bool across) const {
        int32_t lo = std::numeric_limits<int32_t>::max(), hi = 0, brightest = 0, lightest = 0;
        for (int32_t i = 0; i < count; ++i) {
            const size_t at = cell(i);
            lo = std::min<int32_t>(lo, lum[at]);
            hi = std::max<int32_t>(hi, lum[at]);
            const Pick& other = picks[NearestOf(at, ~copperBits)];
            brightest = std::max(brightest, other.bright);
            lightest = std::max(lightest, other.lum);
            // The light lid is as bright as a hole, and the blurred middle of
            // a thin stroke may lie nearer the hole's colour than the print's:
            // the surface it is nearest counts too.
            if (other.kind == kHole && otherBits != 0) {
                const Pick& surface = picks[NearestOf(at, otherBits)];
                brightest = std::max(brightest, surface.bright);
                lightest = std::max(lightest, surface.lum);
            }
        }
        const int32_t ea = EndLum(a), eb = EndLum(b);
        // Light: halfway from the lighter end to the stroke's lightest.
        const int32_t light = (std::max(ea, eb) + hi + 1) / 2;
        const int32_t wanted = count + 2 * radius + 1;
        // Straight lines through the gap's middle: at right angles to the
        // gap and slanting from there a quarter step at a time (about 14
        // degrees) to either diagonal, so that a stroke at any angle to
        // the track it crosses is seen.
        bool crosses = false;
        for (int32_t slant = -4; slant <= 4 && !crosses; ++slant) {
            int32_t run = 1;
            bool bothWays = true;
            for (int sign = -1; sign <= 1; sign += 2) {
                int32_t k = 1;
                for (; run < wanted || k == 1; ++k) {
                    // k along the line, and aside by k * slant / 4, rounded.
                    const int32_t along = sign * k, aside = sign * ((k * slant + (slant >= 0 ? 2 : -2)) / 4);
                    const size_t at = across ? HeldCell(mx + aside, my + along) : HeldCell(mx + along, my + aside);
                    if (at == kNoCell || lum[at] < light) break;
                    ++run;
                }
                bothWays = bothWays && k > 1;
            }
            crosses = run >= wanted && bothWays;
        }
        if (!crosses) return false;
        const uint32_t copperA = presentAt[a] & copperBits, copperB = presentAt[b] & copperBits;
        const Pick& pa = picks[NearestOf(a, copperA != 0 ? copperA : copperBits)];
        const Pick& pb = picks[NearestOf(b, copperB != 0 ? copperB : copperBits)];
        return lo >= std::min(ea, eb) - kLighter && hi >= std::max(ea, eb) + kLighter &&
               brightest >= std::max(pa.bright, pb.bright) + kBrighter && lightest >= std::max(pa.lum, pb.lum) + kPrintLighter;
    }

    // The cell of pixel (x, y), or kNoCell past the picture or the rows the
    // ring still holds.
    size_t HeldCell(int32_t x, int32_t y) const {
        if (x < 0 || x >= width || y < 0 || y <= pushed - ring || y >= pushed) return kNoCell;
        return Slot(y) + static_cast<size_t>(x);
    }

    // The pick among those of mask nearest the pixel in cell at; mask holds
    // at least one pick.
    size_t NearestOf(size_t at, uint32_t mask) const {
        int64_t ignored = 0;
        return NearestIn(&pix[at * 3], mask, ignored);
    }

    // Row y's final verdict: its copper less the smallest specks (copper
    // of at most speck pixels, joined by edges, with no other copper beside
    // them: sensor noise and dust at an edge) and with the specks of no
    // copper amid copper filled. A speck lies within the rows kCleanRows
    // above and below; those rows are held.
    void CleanRow(int32_t y, uint8_t* out) {
        const uint8_t* own = &copper[Slot(y)];
        std::copy(own, own + width, out);
        if (speck <= 0) return;
        // A run across longer than a speck is no part of one.
        for (int32_t start = 0; start < width;) {
            const int32_t end = RunEnd(own, start, width);
            if (end - start <= speck && IsSpeck(y, start)) std::fill(out + start, out + end, static_cast<uint8_t>(own[start] ^ 1));
            start = end;
        }
    }

    // Whether the pixels joined by edges to (x, y) that share its verdict
    // are at most speck, all in the rows held around y.
    bool IsSpeck(int32_t y, int32_t x) {
        const uint8_t value = copper[Slot(y) + static_cast<size_t>(x)];
        flood.clear();
        flood.push_back({x, y});
        for (size_t i = 0; i < flood.size(); ++i) {
            const auto [fx, fy] = flood[i];
            const std::pair<int32_t, int32_t> steps[4] = {{fx - 1, fy}, {fx + 1, fy}, {fx, fy - 1}, {fx, fy + 1}};
            for (const auto& [nx, ny] : steps) {
                if (nx < 0 || nx >= width || ny < 0 || ny >= height) continue;
                if (copper[Slot(ny) + static_cast<size_t>(nx)] != value) continue;
                if (ny < y - kCleanRows || ny > y + kCleanRows) return false;
                if (std::find(flood.begin(), flood.end(), std::pair<int32_t, int32_t>{nx, ny}) != flood.end()) continue;
                flood.push_back({nx, ny});
                if (static_cast<int32_t>(flood.size()) > speck) return false;
            }
        }
        return true;
    }

    void JudgeWhatCan() {
        // Row c is marked once the row below it is held (and the rows a
        // thin line's floor is looked for in); row y is judged
        // once the marks of every row within twice the reach below it are
        // made.
        while (cored + 1 + strokeRows < pushed || (cored < pushed && pushed == height)) CoreRow(cored++);
        while (judged < pushed && ((judged + 2 * reach < cored && judged + 2 * radius < pushed) || pushed == height)) JudgeRow(judged++);
    }
};

BoardClassifier::BoardClassifier(int32_t width, int32_t height, const BoardColors& colors)
    : s_(std::make_unique<State>()) {
    if (colors.copper.empty()) throw Error("The board rule needs a copper colour");
    State& s = *s_;
    s.width = std::max(width, 0);
    s.height = std::max(height, 0);
    s.stroke = std::max(colors.strokeWidth, 0);
    s.radius = std::max(colors.blendRadius, 1);
    s.reach = std::max(s.radius, 2);
    s.speck = std::clamp(colors.speck, 0, kMostSpeck);
    s.tolerance2 = colors.tolerance > 0 ? int64_t{colors.tolerance} * colors.tolerance : -1;
    auto add = [&](const std::vector<uint32_t>& list, Kind kind) {
        for (const uint32_t c : list) {
            if (c > 0x00FFFFFFu || s.picks.size() >= kNoPick) continue;
            const uint8_t p[3] = {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
            s.picks.push_back(Pick{p[2], p[1], p[0], kind, Lum(p), std::max({int32_t{p[0]}, int32_t{p[1]}, int32_t{p[2]}})});
        }
    };
    add(colors.copper, kCopper);
    add(colors.noncopper, kNonCopper);
    add(colors.holes, kHole);
    s.lut.assign(size_t{1} << 24, kNotLooked);
    // Copper colours at least halfway in lightness from the darkest
    // non-copper colour to the lightest may be a thin stroke's middle.
    int32_t darkest = std::numeric_limits<int32_t>::max(), lightest = -1;
    for (const Pick& p : s.picks) {
        if (p.kind != kNonCopper) continue;
        darkest = std::min(darkest, p.lum);
        lightest = std::max(lightest, p.lum);
    }
    if (lightest > darkest) {
        s.darkestOther = darkest;
        for (size_t i = 0; i < s.picks.size() && i < 32; ++i) {
            if (s.picks[i].kind == kCopper && 2 * (s.picks[i].lum - darkest) >= lightest - darkest) s.lightCopperBits |= 1u << i;
        }
    }
    // How far the marks of a row look for a thin line's floor.
    if (s.lightCopperBits != 0) s.strokeRows = 2 * s.radius + 3;
    s.nearLum.assign(static_cast<size_t>(2 * s.strokeRows + 1), nullptr);
    s.nearPick.assign(static_cast<size_t>(2 * s.strokeRows + 1), nullptr);
    s.ring = s.stroke + 2 * std::max(2 * s.reach + 1 + s.strokeRows, 2 * s.radius) + 2 * kCleanRows + 6;
    const size_t cells = static_cast<size_t>(s.ring) * static_cast<size_t>(s.width);
    // The window holds sixteen bytes a pixel: a picture as wide as a header
    // may claim, at a high resolution, is refused rather than let take the
    // machine's memory.
    if (cells > kMostWindowBytes / 16) throw Error("Out of memory");
    s.pix.resize(cells * 3);
    s.pick.resize(cells);
    s.kind.resize(cells);
    s.copper.resize(cells);
    s.lum.resize(cells);
    s.sameAbove.assign(static_cast<size_t>(s.ring), 0);
    s.hcore.resize(cells);
    s.presentAt.resize(cells);
    const auto w = static_cast<size_t>(s.width);
    s.coreRow.assign(w, 0);
    s.coreSpread.assign(w, 0);
    s.coreAlike.assign(w, 0);
    s.rowBits.assign(w, 0);
    s.pickRows.assign(static_cast<size_t>(4 * s.radius + 1), nullptr);
    s.coreRows.assign(static_cast<size_t>(2 * s.reach + 1), nullptr);
    s.lastCopper.assign(w, -1);
    std::fill(std::begin(s.kindOfPick), std::end(s.kindOfPick), kUnknown);
    for (size_t i = 0; i < s.picks.size(); ++i) {
        s.kindOfPick[i] = s.picks[i].kind;
        if (i < 32) s.ownBit[i] = 1u << i;
        if (i < 32 && s.picks[i].kind == kCopper) s.copperBits |= 1u << i;
        if (i < 32 && s.picks[i].kind == kNonCopper) s.otherBits |= 1u << i;
    }
    if (s.picks.size() > 32) s.manyPicks = ~0u;
}

BoardClassifier::~BoardClassifier() = default;

int32_t BoardClassifier::Lag() const {
    return s_->stroke + kCleanRows + std::max(s_->reach + 2 + s_->strokeRows, 2 * s_->radius + 1);
}

void BoardClassifier::Push(const uint8_t* pixels) {
    State& s = *s_;
    if (s.pushed >= s.height || s.pushed - s.popped >= s.ring - kCleanRows - 1) throw std::logic_error("board rows pushed ahead");
    const size_t row = s.Slot(s.pushed);
    const auto rowBytes = static_cast<size_t>(s.width) * 3;
    std::copy(pixels, pixels + rowBytes, s.pix.begin() + static_cast<ptrdiff_t>(row * 3));
    uint8_t* picks = &s.pick[row];
    uint16_t* lums = &s.lum[row];

    const size_t above = s.pushed > 0 ? s.Slot(s.pushed - 1) : row;
    const bool same = s.pushed > 0 && std::memcmp(&s.pix[above * 3], pixels, rowBytes) == 0;
    s.sameAbove[s.RingRow(s.pushed)] = same ? 1 : 0;
    if (same) {
        // A row like the one above has its picks.
        std::copy_n(&s.pick[above], s.width, picks);
        std::copy_n(&s.lum[above], s.width, lums);
    } else {
        // A run of one colour (most of a flat picture) is looked up once.
        for (int32_t x = 0; x < s.width;) {
            const uint8_t* p = pixels + 3 * static_cast<size_t>(x);
            const int32_t end = ColourRunEnd(pixels, x, s.width);
            const uint8_t pick = s.Nearest(p);
            std::fill(picks + x, picks + end, pick);
            std::fill(lums + x, lums + end, static_cast<uint16_t>(Lum(p)));
            x = end;
        }
    }
    ++s.pushed;
    s.JudgeWhatCan();
}

void BoardClassifier::PopPulling(const std::function<const uint8_t*(int32_t y)>& row, uint8_t* copper) {
    while (!Ready()) Push(row(s_->pushed));
    Pop(copper);
}

int32_t BoardClassifier::Ring() const { return s_->ring; }

int32_t BoardClassifier::Skip(int32_t rows) {
    State& s = *s_;
    // Slots are counted from the rows passed over, so moving every count on
    // leaves each slot holding what it held: rows all alike.
    const int32_t shift = std::max(0, std::min(rows, s.height - s.pushed));
    if (shift == 0) return 0;
    s.passed = static_cast<int32_t>((int64_t{s.passed} + shift) % s.ring);
    // A column whose copper goes on down the run moves on with it; one
    // without copper in the run keeps its last copper above the run, whose
    // gap is too wide to fill either way.
    for (int32_t& last : s.lastCopper) {
        if (last == s.judged - 1) last += shift;
    }
    s.pushed += shift;
    s.cored += shift;
    s.judged += shift;
    s.popped += shift;
    return shift;
}

bool BoardClassifier::Ready() const {
    const State& s = *s_;
    if (s.popped >= s.height) return false;
    // Final once no fill can reach it, nor the two rows below it that the
    // last clean-up looks at.
    return s.judged == s.height || s.judged > s.popped + s.stroke + kCleanRows;
}

void BoardClassifier::Pop(uint8_t* copper) {
    State& s = *s_;
    if (!Ready()) throw std::logic_error("board row popped before it is final");
    s.CleanRow(s.popped, copper);
    ++s.popped;
}

namespace {

// Rows of verdicts as pixels (blue, green, red): copper where the rule
// found copper, other elsewhere (packed colours). A run of one verdict is
// copied from a row of its colour.
class VerdictPainter {
public:
    VerdictPainter(int32_t width, uint32_t copper, uint32_t other) : width_(width) {
        for (int i = 0; i < 2; ++i) {
            const uint32_t c = i == 1 ? copper : other;
            const uint8_t shade[3] = {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
            shades_[i].resize(static_cast<size_t>(width) * 3);
            for (size_t x = 0; x < shades_[i].size(); ++x) shades_[i][x] = shade[x % 3];
        }
    }

    void Paint(const uint8_t* verdict, uint8_t* pixels) const {
        for (int32_t start = 0; start < width_;) {
            const int32_t end = RunEnd(verdict, start, width_);
            std::memcpy(pixels + 3 * static_cast<size_t>(start), shades_[verdict[start] != 0 ? 1 : 0].data(),
                        3 * static_cast<size_t>(end - start));
            start = end;
        }
    }

private:
    int32_t width_;
    std::vector<uint8_t> shades_[2];
};

class BoardRowSource final : public PictureRows {
public:
    BoardRowSource(std::unique_ptr<PictureRows> source, const BoardColors& colors)
        : PictureRows(source->Width(), source->Height(), source->Facts()),
          source_(std::move(source)),
          rule_(Width(), Height(), colors),
          painter_(Width(), colors.copper.front(), BoardOtherColor(colors.copper.front())),
          chunk_(std::max(1, source_->BandRows())),
          verdict_(static_cast<size_t>(Width())) {}

    bool AnyOrder() const override { return false; }
    int32_t BandRows() const override { return source_->BandRows(); }
    void CheckUnchanged() override { source_->CheckUnchanged(); }
    bool FilledIn() const override { return source_->FilledIn(); }

    // Deep inside a run of equal source rows (a file cut short), the rule's
    // verdicts are equal too: such rows are passed over, not worked on.
    RowRange SameRowsAs(int32_t row) const override {
        const RowRange same = source_->SameRowsAs(row);
        const int32_t margin = 2 * rule_.Ring() + rule_.Lag();
        if (row >= same.first + margin && row + rule_.Ring() < same.end - margin) return {row, same.end - margin};
        return {row, row + 1};
    }

    void ReadRows(int32_t first, int32_t count, uint8_t* dst, ptrdiff_t stride) override {
        if (first > next_ && count >= 1 && SameRowsAs(next_ - 1).end >= first) PassOver(first - next_);
        if (first != next_ || count < 1 || count > Height() - first) throw std::logic_error("rows read out of order");
        for (int32_t i = 0; i < count; ++i) {
            rule_.PopPulling([this](int32_t) { return Feed(); }, verdict_.data());
            painter_.Paint(verdict_.data(), dst + i * stride);
        }
        next_ += count;
    }

private:
    // Passes over the next rows rows, all the same as the last one read.
    void PassOver(int32_t rows) {
        const int32_t pushed = read_ - held_ + used_;
        const int32_t skipped = rule_.Skip(rows);
        // The rows read ahead lie in the run too: read on from past it.
        read_ = pushed + skipped;
        held_ = used_ = 0;
        std::vector<uint8_t> discard(static_cast<size_t>(Width()));
        for (int32_t i = skipped; i < rows; ++i) rule_.PopPulling([this](int32_t) { return Feed(); }, discard.data());
        next_ += rows;
    }

    // The next source row, reading a band of them when none is left.
    const uint8_t* Feed() {
        const auto rowBytes = static_cast<ptrdiff_t>(Width()) * 3;
        if (held_ == used_) {
            const int32_t count = std::min(chunk_, Height() - read_);
            if (count <= 0) throw std::logic_error("board rows read past the end");
            band_.resize(static_cast<size_t>(count) * static_cast<size_t>(rowBytes) + 1);
            source_->ReadRows(read_, count, band_.data(), rowBytes);
            read_ += count;
            held_ = count;
            used_ = 0;
        }
        return band_.data() + used_++ * rowBytes;
    }

    std::unique_ptr<PictureRows> source_;
    BoardClassifier rule_;
    VerdictPainter painter_;
    int32_t chunk_;
    std::vector<uint8_t> verdict_;
    std::vector<uint8_t> band_;
    int32_t read_ = 0, held_ = 0, used_ = 0;
    int32_t next_ = 0;
};

}  // namespace

std::unique_ptr<PictureRows> BoardRows(std::unique_ptr<PictureRows> source, const BoardColors& colors) {
    return std::make_unique<BoardRowSource>(std::move(source), colors);
}

Raster BoardRaster(const Raster& source, const BoardColors& colors, uint64_t memoryLimit) {
    Raster out(source.Width(), source.Height(), Raster::RowOrder::TopDown, memoryLimit);
    BoardClassifier rule(source.Width(), source.Height(), colors);
    const VerdictPainter painter(source.Width(), colors.copper.front(), BoardOtherColor(colors.copper.front()));
    std::vector<uint8_t> verdict(static_cast<size_t>(source.Width()));
    for (int32_t y = 0; y < source.Height(); ++y) {
        rule.PopPulling([&source](int32_t row) { return source.RowBytes(row).data(); }, verdict.data());
        painter.Paint(verdict.data(), out.RowBytes(y).data());
    }
    return out;
}

namespace {

// A histogram of colours at five bits a channel, each bin with its first
// pixel (top row first); clusters gather the bins within kJoin of the most
// common bin not yet taken.
class MainColorHistogram {
public:
    MainColorHistogram() : bins_(size_t{1} << 15) {}

    void AddRow(const uint8_t* p, int32_t width, int32_t y) {
        for (int32_t x = 0; x < width; ++x, p += 3) {
            Bin& b = bins_[static_cast<size_t>(p[2] >> 3) << 10 | static_cast<size_t>(p[1] >> 3) << 5 | (p[0] >> 3)];
            if (b.pixels++ == 0) {
                b.color = PackColor(p);
                b.x = x;
                b.y = y;
            }
        }
    }

    std::vector<MainColor> Clusters(size_t count) const;

private:
    static constexpr int32_t kJoin = 48;
    static constexpr size_t kMostClusters = 256;
    struct Bin {
        uint64_t pixels = 0;
        uint32_t color = 0;
        int32_t x = 0, y = 0;
    };
    std::vector<Bin> bins_;
};

std::vector<MainColor> MainColorHistogram::Clusters(size_t count) const {
    const std::vector<Bin>& bins = bins_;
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < bins.size(); ++i) {
        if (bins[i].pixels != 0) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return bins[a].pixels > bins[b].pixels; });
    std::vector<uint8_t> taken(bins.size(), 0);
    std::vector<MainColor> found;
    auto centre = [](uint32_t bin, int shift) { return static_cast<int32_t>((bin >> shift) & 31) * 8 + 4; };
    // A few more clusters than asked for, as a later seed may gather more
    // pixels than an earlier one; never more than kMostClusters.
    const size_t wanted = std::min(count, kMostClusters) + 8;
    for (size_t i = 0; i < order.size() && found.size() < wanted; ++i) {
        const uint32_t seed = order[i];
        if (taken[seed] != 0) continue;
        MainColor m{bins[seed].color, 0, bins[seed].x, bins[seed].y};
        for (size_t j = i; j < order.size(); ++j) {
            const uint32_t o = order[j];
            if (taken[o] != 0) continue;
            const int32_t dr = centre(o, 10) - centre(seed, 10), dg = centre(o, 5) - centre(seed, 5),
                          db = centre(o, 0) - centre(seed, 0);
            if (dr * dr + dg * dg + db * db > kJoin * kJoin) continue;
            taken[o] = 1;
            m.pixels += bins[o].pixels;
        }
        found.push_back(m);
    }
    std::stable_sort(found.begin(), found.end(), [](const MainColor& a, const MainColor& b) { return a.pixels > b.pixels; });
    if (found.size() > count) found.resize(count);
    return found;
}

}  // namespace

std::vector<MainColor> SuggestColors(PictureRows& rows, size_t count) {
    MainColorHistogram histogram;
    const int32_t width = rows.Width();
    const int32_t band = std::max(1, rows.BandRows());
    std::vector<uint8_t> buffer(static_cast<size_t>(band) * static_cast<size_t>(width) * 3 + 1);
    for (int32_t first = 0; first < rows.Height(); first += band) {
        const int32_t n = std::min(band, rows.Height() - first);
        rows.ReadRows(first, n, buffer.data(), static_cast<ptrdiff_t>(width) * 3);
        for (int32_t i = 0; i < n; ++i) {
            histogram.AddRow(buffer.data() + static_cast<size_t>(i) * static_cast<size_t>(width) * 3, width, first + i);
        }
    }
    rows.CheckUnchanged();
    return histogram.Clusters(count);
}

std::vector<MainColor> SuggestColors(const Raster& raster, size_t count) {
    MainColorHistogram histogram;
    for (int32_t y = 0; y < raster.Height(); ++y) histogram.AddRow(raster.RowBytes(y).data(), raster.Width(), y);
    return histogram.Clusters(count);
}

}  // namespace rastrace
