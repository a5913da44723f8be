// SPDX-License-Identifier: GPL-3.0-or-later
// The match overlay: which of the pixels on screen a conversion would
// trace, kept for the part of the picture the view shows, so painting only
// looks the answers up.
//
// The one fact a caller must know: the answers are computed for one
// visible part at one zoom (plus a margin for speckle removal) and are
// recomputed, once, by the first paint that finds them stale: after
// setSettings, invalidate (a new or mirrored picture), a zoom or a scroll.
// At zooms below 1 they are computed on the pixels the view samples, one
// per widget pixel, with the speckle size scaled to that grid.
#pragma once

#include "raster/Raster.h"
#include "ui/MatchAdapter.h"

#include <QRect>

#include <cstdint>
#include <vector>

namespace rastrace::ui {

class MatchOverlay {
public:
    void setEnabled(bool on) { enabled_ = on; }
    bool enabled() const { return enabled_; }

    // New colours, tolerance or speckle size; the next paint recomputes.
    void setSettings(const MatchSettings& settings);
    const MatchSettings& settings() const { return settings_; }
    // The picture changed (opened or mirrored).
    void invalidate() { valid_ = false; }

    // Makes the answers cover the widget rectangle visible of a view of
    // raster at zoom. Cheap when they already do.
    void ensure(const Raster& raster, double zoom, const QRect& visible);

    // The class of picture pixel (x, y) as last computed; -1 when it lies
    // outside the computed part.
    int classAt(int32_t x, int32_t y) const;

    // For painting: the computed grid's picture columns and rows (ascending)
    // and its classes, row by row.
    const std::vector<int32_t>& columns() const { return xs_; }
    const std::vector<int32_t>& rows() const { return ys_; }
    const std::vector<uint8_t>& classes() const { return classes_; }

    // How many times the answers were computed (for tests and timing).
    int computations() const { return computations_; }

private:
    bool enabled_ = false;
    bool valid_ = false;
    MatchSettings settings_;
    const Raster* raster_ = nullptr;
    double zoom_ = 0;
    QRect covered_;  // widget rectangle the answers cover
    std::vector<int32_t> xs_, ys_;
    std::vector<uint8_t> classes_;
    int computations_ = 0;
};

}  // namespace rastrace::ui
