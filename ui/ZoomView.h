// SPDX-License-Identifier: GPL-3.0-or-later
// The picture at any zoom from 1/16 to 16 times: the mapping between the
// view's widget coordinates and picture coordinates, the zoom steps of
// Ctrl+wheel, and the painting of an exposed part of the view.
//
// The one fact a caller must know: a widget pixel shows the picture pixel
// under its centre, floor((wx + 0.5) / zoom), and the pointer picks that
// same pixel, so the swatch always shows the colour drawn under the
// pointer. Painting samples only the exposed widget pixels; no scaled copy
// of the whole picture is ever made.
#pragma once

#include "raster/Raster.h"

#include <QPoint>
#include <QRect>
#include <QSize>

class QPainter;

namespace rastrace::ui {

class MatchOverlay;

inline constexpr double kMinZoom = 1.0 / 16.0;
inline constexpr double kMaxZoom = 16.0;

// zoom kept within kMinZoom..kMaxZoom.
double ClampZoom(double zoom);

// The next zoom step up (steps > 0) or down (steps < 0) from zoom: the
// steps are the quarter powers of two, so 1/16, 1/2, 1, 2 and 16 are all
// reached exactly, and a zoom between two steps (after fit) goes to the
// next one in the chosen direction.
double SteppedZoom(double zoom, int steps);

// The largest zoom at which a picture of pictureSize fits inside area,
// clamped; 1 for an empty picture.
double FitZoom(QSize pictureSize, QSize area);

// The widget's size for a picture of pictureSize at zoom (at least one
// pixel each way for a non-empty picture).
QSize ZoomedSize(QSize pictureSize, double zoom);

// The picture coordinate one widget coordinate shows: floor((w + 0.5) / zoom).
int32_t WidgetToPicture(int widget, double zoom);
QPoint WidgetToPicture(QPoint widget, double zoom);
// The first widget coordinate that shows picture coordinate p.
int PictureToWidget(int32_t p, double zoom);

// The picture pixels a widget rectangle shows (not clipped to the picture).
QRect PictureRectOf(const QRect& widgetRect, double zoom);

// Paints the widget rectangle exposed of a view of raster at zoom, each
// widget pixel the picture pixel under its centre; with overlay (may be
// nullptr or switched off) the traced pixels are highlighted and the others
// dimmed. Widget pixels beyond the picture are left unpainted.
void PaintZoomed(QPainter& painter, const Raster& raster, const QRect& exposed, double zoom,
                 const MatchOverlay* overlay);

}  // namespace rastrace::ui
