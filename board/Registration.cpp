// SPDX-License-Identifier: GPL-3.0-or-later
#include "board/Registration.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <string>

#include "common/Error.h"

namespace rastrace {

namespace {

constexpr double kMmPerInch = 25.4;
// Match radii of the refinement, in top millimetres: wide enough for the
// first guess (a similarity, blind to a difference of scale between the axes),
// then tight enough that a neighbouring hole is not taken for the right one.
constexpr double kScoreRadiusMm = 0.6;
constexpr double kRefineRadiiMm[] = {0.6, 0.4, 0.25, 0.15};
constexpr double kFinalRadiusMinMm = 0.06, kFinalRadiusMaxMm = 0.15;
constexpr double kMaxRmsMm = 0.1;
constexpr double kMaxScaleChange = 0.03;
constexpr int kTriangles = 24;
constexpr int kCandidatesKept = 8;
constexpr int kSampleSize = 16;
constexpr int64_t kFullScoreBudget = 4000;

std::string Fmt(const char* format, double a, double b = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

[[noreturn]] void Fail(const std::string& why) { throw Error("The two sides could not be aligned: " + why); }

// A hole in millimetres (the bottom's mirrored), with its index on its side.
struct Pt {
    double x = 0, y = 0, d = 0;  // d: diameter in mm, 0 when unknown
    int32_t index = 0;
};

bool DiametersFit(double a, double b) {
    if (a <= 0 || b <= 0) return true;
    return std::abs(a - b) <= 0.15 + 0.2 * std::max(a, b);
}

// Points in square cells for lookups by distance. At most 1024 cells an axis,
// whatever the spread of the coordinates.
class Grid {
public:
    Grid(const std::vector<Pt>& pts, double cell) : pts_(pts) {
        double x1 = 0, y1 = 0;
        if (!pts.empty()) {
            x0_ = x1 = pts[0].x;
            y0_ = y1 = pts[0].y;
        }
        for (const Pt& p : pts) {
            x0_ = std::min(x0_, p.x), x1 = std::max(x1, p.x);
            y0_ = std::min(y0_, p.y), y1 = std::max(y1, p.y);
        }
        cell_ = std::max({cell, (x1 - x0_) / 1024, (y1 - y0_) / 1024, 1e-9});
        nx_ = std::min<int64_t>(1024, static_cast<int64_t>((x1 - x0_) / cell_) + 1);
        ny_ = std::min<int64_t>(1024, static_cast<int64_t>((y1 - y0_) / cell_) + 1);
        start_.assign(static_cast<size_t>(nx_ * ny_ + 1), 0);
        std::vector<int64_t> cellOf(pts.size());
        for (size_t i = 0; i < pts.size(); ++i) {
            cellOf[i] = CellY(pts[i].y) * nx_ + CellX(pts[i].x);
            ++start_[static_cast<size_t>(cellOf[i] + 1)];
        }
        for (size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
        items_.resize(pts.size());
        std::vector<int32_t> fill(start_.begin(), start_.end() - 1);
        for (size_t i = 0; i < pts.size(); ++i) items_[static_cast<size_t>(fill[static_cast<size_t>(cellOf[i])]++)] =
            static_cast<int32_t>(i);
    }

    // Calls f(i, squared distance) for every point within r of (x, y).
    template <class F>
    void ForEachNear(double x, double y, double r, F&& f) const {
        if (pts_.empty() || !(r >= 0)) return;
        const int64_t cx0 = CellX(x - r), cx1 = CellX(x + r), cy0 = CellY(y - r), cy1 = CellY(y + r);
        const double r2 = r * r;
        for (int64_t cy = cy0; cy <= cy1; ++cy)
            for (int64_t cx = cx0; cx <= cx1; ++cx) {
                const size_t c = static_cast<size_t>(cy * nx_ + cx);
                for (int32_t k = start_[c]; k < start_[c + 1]; ++k) {
                    const Pt& p = pts_[static_cast<size_t>(items_[static_cast<size_t>(k)])];
                    const double d2 = (p.x - x) * (p.x - x) + (p.y - y) * (p.y - y);
                    if (d2 <= r2) f(items_[static_cast<size_t>(k)], d2);
                }
            }
    }

    // The nearest point within r of (x, y) whose diameter fits d, or -1.
    int32_t Nearest(double x, double y, double r, double d, double* dist2 = nullptr) const {
        int32_t best = -1;
        double bestD2 = std::numeric_limits<double>::infinity();
        ForEachNear(x, y, r, [&](int32_t i, double d2) {
            if (d2 < bestD2 && DiametersFit(d, pts_[static_cast<size_t>(i)].d)) best = i, bestD2 = d2;
        });
        if (dist2) *dist2 = bestD2;
        return best;
    }

private:
    int64_t CellX(double x) const { return Clamp((x - x0_) / cell_, nx_); }
    int64_t CellY(double y) const { return Clamp((y - y0_) / cell_, ny_); }
    static int64_t Clamp(double v, int64_t n) {
        if (!(v > 0)) return 0;
        if (v >= static_cast<double>(n - 1)) return n - 1;
        return static_cast<int64_t>(v);
    }

    const std::vector<Pt>& pts_;
    double x0_ = 0, y0_ = 0, cell_ = 1;
    int64_t nx_ = 1, ny_ = 1;
    std::vector<int32_t> start_, items_;
};

// A deterministic generator (splitmix64): the same holes give the same map
// on every machine.
class Random {
public:
    explicit Random(uint64_t seed) : s_(seed) {}
    uint64_t Next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }

private:
    uint64_t s_;
};

// A side's usable holes in millimetres; the bottom's mirrored (x -> -x).
std::vector<Pt> ToMm(const SideHoles& side, bool mirror, const char* name) {
    if (!(side.xres > 0) || !(side.yres > 0) || !std::isfinite(side.xres) || !std::isfinite(side.yres))
        Fail(std::string("the resolution of the ") + name + " scan is not a positive number.");
    if (side.holes.size() > static_cast<size_t>(kMaxAlignHoles))
        Fail(std::string("the ") + name + " scan has " + std::to_string(side.holes.size()) + " holes, more than the " +
             std::to_string(kMaxAlignHoles) + " that can be aligned.");
    const double sx = kMmPerInch / side.xres, sy = kMmPerInch / side.yres;
    std::vector<Pt> pts;
    pts.reserve(side.holes.size());
    for (size_t i = 0; i < side.holes.size(); ++i) {
        const Hole& h = side.holes[i];
        if (!std::isfinite(h.centre.x) || !std::isfinite(h.centre.y)) continue;
        const double d = std::isfinite(h.diameterPx) && h.diameterPx > 0 ? h.diameterPx * std::sqrt(sx * sy) : 0;
        pts.push_back({(mirror ? -1 : 1) * h.centre.x * sx, h.centre.y * sy, d, static_cast<int32_t>(i)});
    }
    if (pts.size() < static_cast<size_t>(kMinAlignHoles))
        Fail(std::string("the ") + name + " scan has only " + std::to_string(pts.size()) + " hole" +
             (pts.size() == 1 ? "" : "s") + " (at least " + std::to_string(kMinAlignHoles) + " are needed).");
    return pts;
}

// top = q * bottom + t, both in millimetres (the bottom mirrored).
struct Similarity {
    std::complex<double> q{1, 0}, t{0, 0};
    std::complex<double> Back(std::complex<double> top) const { return (top - t) / q; }
};

struct Match {
    int32_t top = 0, bottom = 0;  // positions in the Pt vectors
    double d2 = 0;                // squared distance in top millimetres
};

struct Fit {
    Affine2 map;  // bottom mirrored mm -> top mm
    std::vector<Match> matches;
    double rmsMm = 0, worstMm = 0;
};

class Aligner {
public:
    Aligner(const SideHoles& top, const SideHoles& bottom)
        : topSide_(top),
          bottomSide_(bottom),
          top_(ToMm(top, false, "top")),
          bottom_(ToMm(bottom, true, "bottom")),
          topGrid_(top_, 2.0),
          bottomGrid_(bottom_, 2.0) {}

    Alignment Run() {
        std::vector<Candidate> candidates = Propose();
        if (candidates.empty()) Fail("no arrangement of the bottom's holes matches the top's.");
        bool have = false;
        Fit best;
        for (const Candidate& c : candidates) {
            Fit f = Refine(ToAffine(c.s));
            if (!have || Better(f, best)) best = std::move(f), have = true;
        }
        return Finish(best);
    }

private:
    struct Candidate {
        Similarity s;
        int32_t score = 0;
        double sumD2 = 0;
    };

    static Affine2 ToAffine(const Similarity& s) {
        Affine2 a;
        a.m00 = s.q.real(), a.m01 = -s.q.imag(), a.tx = s.t.real();
        a.m10 = s.q.imag(), a.m11 = s.q.real(), a.ty = s.t.imag();
        return a;
    }

    static bool Better(const Fit& a, const Fit& b) {
        const size_t na = a.matches.size(), nb = b.matches.size();
        const size_t tie = std::max(na, nb) / 200;  // counts this close are a tie, settled by the residual
        if (na > nb + tie) return true;
        if (nb > na + tie) return false;
        return a.rmsMm < b.rmsMm;
    }

    // Similarities proposed by triangles of top holes matched to bottom holes.
    std::vector<Candidate> Propose() {
        double x0 = top_[0].x, x1 = x0, y0 = top_[0].y, y1 = y0;
        for (const Pt& p : top_) x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
        const double extent = std::hypot(x1 - x0, y1 - y0);
        const double dMin = std::min(10.0, 0.3 * extent), dMax = std::max(dMin, std::min(30.0, 0.8 * extent));

        Random rnd(0x5EED0A11u);
        sample_.clear();
        if (top_.size() <= static_cast<size_t>(kSampleSize)) {
            for (size_t i = 0; i < top_.size(); ++i) sample_.push_back(static_cast<int32_t>(i));
        } else {
            while (sample_.size() < static_cast<size_t>(kSampleSize)) {
                const auto i = static_cast<int32_t>(rnd.Below(top_.size()));
                if (std::find(sample_.begin(), sample_.end(), i) == sample_.end()) sample_.push_back(i);
            }
        }
        const int32_t sampleNeeded = std::max<int32_t>(3, static_cast<int32_t>(std::ceil(0.35 * sample_.size())));

        std::vector<Candidate> kept;
        int64_t fullScores = 0;
        for (int tri = 0; tri < kTriangles && fullScores < kFullScoreBudget; ++tri) {
            // a and b far apart, c off their line where the holes allow.
            int32_t a = -1, b = -1, c = -1;
            for (int tries = 0; tries < 200 && b < 0; ++tries) {
                const auto i = static_cast<int32_t>(rnd.Below(top_.size()));
                const auto j = static_cast<int32_t>(rnd.Below(top_.size()));
                const double d = Dist(top_[i], top_[j]);
                if (i != j && d >= dMin && d <= dMax) a = i, b = j;
            }
            if (b < 0) continue;
            const double dab = Dist(top_[a], top_[b]);
            for (int tries = 0; tries < 200 && c < 0; ++tries) {
                const auto k = static_cast<int32_t>(rnd.Below(top_.size()));
                if (k == a || k == b) continue;
                const double cross = (top_[b].x - top_[a].x) * (top_[k].y - top_[a].y) -
                                     (top_[b].y - top_[a].y) * (top_[k].x - top_[a].x);
                if (std::abs(cross) / dab >= 0.3 * dab && Dist(top_[a], top_[k]) <= dMax * 1.5) c = k;
            }
            const std::complex<double> za(top_[a].x, top_[a].y), zb(top_[b].x, top_[b].y);
            const double tol = 0.006 * dab + 0.1;
            for (size_t ia = 0; ia < bottom_.size() && fullScores < kFullScoreBudget; ++ia) {
                const Pt& pa = bottom_[ia];
                if (!DiametersFit(top_[a].d, pa.d)) continue;
                bottomGrid_.ForEachNear(pa.x, pa.y, dab + tol, [&](int32_t ib, double d2) {
                    if (fullScores >= kFullScoreBudget) return;
                    const Pt& pb = bottom_[static_cast<size_t>(ib)];
                    if (d2 < (dab - tol) * (dab - tol) || !DiametersFit(top_[b].d, pb.d)) return;
                    const std::complex<double> wa(pa.x, pa.y), wb(pb.x, pb.y);
                    Similarity s;
                    s.q = (zb - za) / (wb - wa);
                    if (std::abs(std::abs(s.q) - 1) > kMaxScaleChange) return;
                    s.t = za - s.q * wa;
                    if (c >= 0) {
                        const std::complex<double> wc = s.Back({top_[c].x, top_[c].y});
                        if (bottomGrid_.Nearest(wc.real(), wc.imag(), 0.3 + 0.006 * dab, top_[c].d) < 0) return;
                    }
                    int32_t hits = 0;
                    for (int32_t k : sample_) hits += Hit(s, k) ? 1 : 0;
                    if (hits < sampleNeeded) return;
                    ++fullScores;
                    Keep(kept, Score(s));
                });
            }
        }
        return kept;
    }

    static double Dist(const Pt& p, const Pt& q) { return std::hypot(p.x - q.x, p.y - q.y); }

    bool Hit(const Similarity& s, int32_t k, double* d2 = nullptr) const {
        const Pt& p = top_[static_cast<size_t>(k)];
        const std::complex<double> w = s.Back({p.x, p.y});
        return bottomGrid_.Nearest(w.real(), w.imag(), kScoreRadiusMm, p.d, d2) >= 0;
    }

    Candidate Score(const Similarity& s) const {
        Candidate c;
        c.s = s;
        for (size_t k = 0; k < top_.size(); ++k) {
            double d2 = 0;
            if (Hit(s, static_cast<int32_t>(k), &d2)) ++c.score, c.sumD2 += d2;
        }
        return c;
    }

    // Keeps the best candidates, one of each map (two that agree within a
    // millimetre over the board are the same).
    void Keep(std::vector<Candidate>& kept, const Candidate& c) const {
        auto better = [](const Candidate& x, const Candidate& y) {
            return x.score != y.score ? x.score > y.score : x.sumD2 < y.sumD2;
        };
        const std::complex<double> p0(top_.front().x, top_.front().y), p1(top_.back().x, top_.back().y);
        for (Candidate& k : kept) {
            if (std::abs(k.s.Back(p0) - c.s.Back(p0)) < 1 && std::abs(k.s.Back(p1) - c.s.Back(p1)) < 1) {
                if (better(c, k)) k = c;
                std::sort(kept.begin(), kept.end(), better);
                return;
            }
        }
        kept.push_back(c);
        std::sort(kept.begin(), kept.end(), better);
        if (kept.size() > static_cast<size_t>(kCandidatesKept)) kept.pop_back();
    }

    // Holes matched one to one under map (bottom mm -> top mm) within r.
    std::vector<Match> MatchAll(const Affine2& map, double r) const {
        std::vector<Match> all;
        for (size_t ib = 0; ib < bottom_.size(); ++ib) {
            const Vec2 p = map.Apply({bottom_[ib].x, bottom_[ib].y});
            topGrid_.ForEachNear(p.x, p.y, r, [&](int32_t it, double d2) {
                if (DiametersFit(top_[static_cast<size_t>(it)].d, bottom_[ib].d))
                    all.push_back({it, static_cast<int32_t>(ib), d2});
            });
        }
        std::sort(all.begin(), all.end(), [](const Match& x, const Match& y) {
            return x.d2 != y.d2 ? x.d2 < y.d2 : (x.top != y.top ? x.top < y.top : x.bottom < y.bottom);
        });
        std::vector<char> topUsed(top_.size(), 0), bottomUsed(bottom_.size(), 0);
        std::vector<Match> out;
        for (const Match& m : all) {
            if (topUsed[static_cast<size_t>(m.top)] || bottomUsed[static_cast<size_t>(m.bottom)]) continue;
            topUsed[static_cast<size_t>(m.top)] = bottomUsed[static_cast<size_t>(m.bottom)] = 1;
            out.push_back(m);
        }
        return out;
    }

    // Least-squares affine map from the matched bottom holes to the top ones.
    // Returns false where they do not span the plane.
    bool FitAffine(const std::vector<Match>& ms, Affine2& map) const {
        if (ms.size() < 3) return false;
        const auto n = static_cast<Eigen::Index>(ms.size());
        Eigen::MatrixXd from(n, 2), to(n, 2);
        for (Eigen::Index i = 0; i < n; ++i) {
            const Pt& b = bottom_[static_cast<size_t>(ms[static_cast<size_t>(i)].bottom)];
            const Pt& t = top_[static_cast<size_t>(ms[static_cast<size_t>(i)].top)];
            from(i, 0) = b.x, from(i, 1) = b.y, to(i, 0) = t.x, to(i, 1) = t.y;
        }
        return SolveAffine(from, to, 0.5 * 25.4 / 600, map);  // spread of at least half a 600 dpi pixel
    }

public:
    // Fits to = A from + t in the least-squares sense. False where the points
    // of either set lie within minSpread of one line.
    static bool SolveAffine(const Eigen::MatrixXd& from, const Eigen::MatrixXd& to, double minSpread, Affine2& map) {
        const Eigen::RowVector2d mf = from.colwise().mean(), mt = to.colwise().mean();
        const Eigen::MatrixXd cf = from.rowwise() - mf, ct = to.rowwise() - mt;
        const double n = static_cast<double>(from.rows());
        for (const Eigen::MatrixXd* m : {&cf, &ct}) {
            const Eigen::JacobiSVD<Eigen::MatrixXd> svd(*m);
            if (!(svd.singularValues()(1) / std::sqrt(n) >= minSpread)) return false;
        }
        const Eigen::Matrix2d lin = cf.colPivHouseholderQr().solve(ct).transpose();
        const Eigen::Vector2d t = mt.transpose() - lin * mf.transpose();
        map.m00 = lin(0, 0), map.m01 = lin(0, 1), map.m10 = lin(1, 0), map.m11 = lin(1, 1);
        map.tx = t(0), map.ty = t(1);
        return std::isfinite(map.m00) && std::isfinite(map.m01) && std::isfinite(map.m10) && std::isfinite(map.m11) &&
               std::isfinite(map.tx) && std::isfinite(map.ty);
    }

private:
    void Measure(Fit& f) const {
        double sum = 0, worst = 0;
        for (const Match& m : f.matches) {
            const Pt& b = bottom_[static_cast<size_t>(m.bottom)];
            const Pt& t = top_[static_cast<size_t>(m.top)];
            const Vec2 p = f.map.Apply({b.x, b.y});
            const double d2 = (p.x - t.x) * (p.x - t.x) + (p.y - t.y) * (p.y - t.y);
            sum += d2, worst = std::max(worst, d2);
        }
        f.rmsMm = f.matches.empty() ? 0 : std::sqrt(sum / static_cast<double>(f.matches.size()));
        f.worstMm = std::sqrt(worst);
    }

    // Re-matches with a shrinking radius and refits, from a first guess.
    Fit Refine(const Affine2& guess) const {
        Fit f;
        f.map = guess;
        auto step = [&](double r) {
            std::vector<Match> ms = MatchAll(f.map, r);
            Affine2 next;
            if (!FitAffine(ms, next)) return false;
            f.map = next;
            return true;
        };
        bool ok = true;
        for (double r : kRefineRadiiMm) ok = ok && step(r);
        for (int i = 0; ok && i < 3; ++i) {
            f.matches = MatchAll(f.map, kFinalRadiusMaxMm);
            Measure(f);
            ok = step(std::clamp(5 * f.rmsMm, kFinalRadiusMinMm, kFinalRadiusMaxMm));
        }
        if (!ok) {
            f.map = guess;
            f.matches.clear();
            f.rmsMm = f.worstMm = 0;
            return f;
        }
        f.matches = MatchAll(f.map, std::clamp(5 * f.rmsMm, kFinalRadiusMinMm, kFinalRadiusMaxMm));
        Measure(f);
        return f;
    }

    Alignment Finish(const Fit& f) const {
        const int32_t fewer = static_cast<int32_t>(std::min(top_.size(), bottom_.size()));
        const int32_t needed = std::max(kMinAlignHoles, (fewer + 1) / 2);
        const auto matched = static_cast<int32_t>(f.matches.size());
        if (matched < needed)
            Fail("only " + std::to_string(matched) + " hole" + (matched == 1 ? " matches" : "s match") + " (at least " +
                 std::to_string(needed) + " are needed).");
        const Eigen::Matrix2d lin{{f.map.m00, f.map.m01}, {f.map.m10, f.map.m11}};
        const Eigen::Vector2d sv = Eigen::JacobiSVD<Eigen::Matrix2d>(lin).singularValues();
        const double stretch = std::max(std::abs(sv(0) - 1), std::abs(sv(1) - 1));
        if (!(stretch <= kMaxScaleChange))
            Fail(Fmt("the best match would scale the bottom by %.1f%%, more than two scans of one board differ.",
                     100 * stretch));

        // Bottom pixels -> mirrored bottom mm -> top mm -> top pixels.
        Affine2 fromBottom;
        fromBottom.m00 = -kMmPerInch / bottomSide_.xres;
        fromBottom.m11 = kMmPerInch / bottomSide_.yres;
        Affine2 toTop;
        toTop.m00 = topSide_.xres / kMmPerInch;
        toTop.m11 = topSide_.yres / kMmPerInch;
        Alignment out;
        out.bottomToTop = fromBottom.Then(f.map).Then(toTop);
        if (!(out.bottomToTop.Determinant() < 0)) Fail("the best match does not mirror the bottom scan.");
        out.matched = matched;
        double sum = 0, worst = 0;
        for (const Match& m : f.matches) {
            const int32_t ti = top_[static_cast<size_t>(m.top)].index, bi = bottom_[static_cast<size_t>(m.bottom)].index;
            const Vec2 p = out.bottomToTop.Apply(bottomSide_.holes[static_cast<size_t>(bi)].centre);
            const Vec2 q = topSide_.holes[static_cast<size_t>(ti)].centre;
            const double d2 = (p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y);
            sum += d2, worst = std::max(worst, d2);
            out.pairs.emplace_back(ti, bi);
        }
        std::sort(out.pairs.begin(), out.pairs.end());
        out.rmsPx = std::sqrt(sum / matched);
        out.worstPx = std::sqrt(worst);
        if (!(f.rmsMm <= kMaxRmsMm)) {
            const double limitPx = kMaxRmsMm * std::sqrt(topSide_.xres * topSide_.yres) / kMmPerInch;
            Fail(Fmt("the matched holes are %.1f px apart (RMS) after the best fit, more than the %.1f px that can be "
                     "trusted.",
                     out.rmsPx, limitPx));
        }
        return out;
    }

    const SideHoles& topSide_;
    const SideHoles& bottomSide_;
    std::vector<Pt> top_, bottom_;
    Grid topGrid_, bottomGrid_;
    std::vector<int32_t> sample_;
};

}  // namespace

Alignment AlignSides(const SideHoles& top, const SideHoles& bottom) { return Aligner(top, bottom).Run(); }

Alignment AlignOnPoints(std::span<const std::pair<Vec2, Vec2>> topBottomPairs) {
    const size_t n = topBottomPairs.size();
    if (n < 3)
        throw Error("At least three point pairs are needed to align the two sides by hand; " + std::to_string(n) +
                    (n == 1 ? " was" : " were") + " given.");
    Eigen::MatrixXd from(static_cast<Eigen::Index>(n), 2), to(static_cast<Eigen::Index>(n), 2);
    for (size_t i = 0; i < n; ++i) {
        const auto& [t, b] = topBottomPairs[i];
        if (!std::isfinite(t.x) || !std::isfinite(t.y) || !std::isfinite(b.x) || !std::isfinite(b.y))
            throw Error("Point pair " + std::to_string(i + 1) + " is not a pair of finite coordinates.");
        const auto r = static_cast<Eigen::Index>(i);
        from(r, 0) = b.x, from(r, 1) = b.y, to(r, 0) = t.x, to(r, 1) = t.y;
    }
    Alignment out;
    // A spread under a pixel across the line: the pairs fix no map.
    if (!Aligner::SolveAffine(from, to, 1.0 / std::sqrt(static_cast<double>(n)), out.bottomToTop))
        throw Error(
            "The point pairs lie on one line; give at least three points that span the board on each scan, not all "
            "on one line.");
    out.matched = static_cast<int32_t>(n);
    double sum = 0, worst = 0;
    for (const auto& [t, b] : topBottomPairs) {
        const Vec2 p = out.bottomToTop.Apply(b);
        const double d2 = (p.x - t.x) * (p.x - t.x) + (p.y - t.y) * (p.y - t.y);
        sum += d2, worst = std::max(worst, d2);
    }
    out.rmsPx = n == 3 ? 0 : std::sqrt(sum / static_cast<double>(n));
    out.worstPx = n == 3 ? 0 : std::sqrt(worst);
    return out;
}

}  // namespace rastrace
