// SPDX-License-Identifier: GPL-3.0-or-later
// The controls for tracing real scans, added around the classic layout
// without moving any of it: in the band bar, right of the toolbar, the
// tolerance and speckle fields and the overlay, fit and 100% buttons; in
// the left column, below the output settings, the background colours.
//
// The one fact a caller must know: the panel keeps the match overlay in
// step with the colour list, the background list and both fields by
// itself; the window tells it only when the picture's pixels change
// (pictureChanged) and when a background colour is picked (addBackground).
#pragma once

#include "ui/Controls.h"
#include "ui/MatchAdapter.h"
#include "ui/MatchOverlay.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <cstdint>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QScrollArea;
class QSpinBox;
class QToolButton;

namespace rastrace::ui {

inline constexpr int kMaxTolerance = 442;
inline constexpr int kMaxDespeckle = 1000000;

class MatchPanel : public QObject {
    Q_OBJECT
public:
    // Builds the controls into bandBar and leftColumn. view and scroll show
    // the picture, swatch and copperList are the window's pColor and lstCl.
    MatchPanel(QWidget* bandBar, QWidget* leftColumn, PictureView* view, QScrollArea* scroll, ColorSwatch* swatch,
               ColorListBox* copperList);
    // The view stops painting the overlay, which goes with the panel.
    ~MatchPanel() override;

    // The controls, named as the window's own.
    QFrame* Panel3;           // in the band bar
    QLabel* Label3;           // "容差：" tolerance
    QSpinBox* spnTolerance;   // 0..442, 0 at start
    QLabel* Label4;           // "去斑(像素)：" speckle size in pixels
    QSpinBox* spnDespeckle;   // 0.., 0 at start
    QToolButton* btnOverlay;  // "匹配预览", checkable
    QToolButton* btnFit;      // "适应窗口"
    QToolButton* btnActual;   // "100%"
    QGroupBox* GroupBox4;     // "背景颜色", in the left column
    ColorListBox* lstBg;      // background colours, decimal text like lstCl; hole
                              // colours there too, as "孔 " and the decimal text
    QCheckBox* chkBoard;      // "实板规则": the board rule, in GroupBox3; off at start
    QToolButton* btnSuggest;  // "建议颜色": the picture's main colours, in GroupBox3

    // Everything a conversion and the overlay match with.
    MatchSettings settings() const;

    // What one side of a board keeps of its own: the copper list, the
    // background (and hole) list and both fields. setSideState puts them
    // in the controls, the other side's kept aside by the caller.
    struct SideState {
        QStringList copper, background;
        int tolerance = 0, despeckle = 0;
    };
    SideState sideState() const;
    void setSideState(const SideState& state);
    // What a conversion matches with for state, under the panel's rule and
    // resolution (settings() is this for the controls' own state).
    MatchSettings settingsFor(const SideState& state) const;

    // Appends color to the background colours unless it is listed already.
    void addBackground(uint32_t color);
    // Appends color to the hole colours unless it is listed already.
    void addHole(uint32_t color);
    // The scan's resolution, which the board rule's stroke width follows.
    void setDpi(int dpi);
    // The picture was opened or changed in place: the overlay recomputes,
    // and the band bar's controls take input from the first picture on.
    void pictureChanged();

    void setZoom(double zoom);  // keeps the view's centre where it is
    double zoom() const;
    void zoomToFit();

    MatchOverlay& overlay() { return overlay_; }

private:
    void settingsChanged();
    void zoomAround(double zoom, QPoint widgetAnchor);
    void backgroundPressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers);

    QPointer<PictureView> view_;
    QScrollArea* scroll_;
    ColorSwatch* swatch_;
    ColorListBox* copperList_;
    MatchOverlay overlay_;
    int dpi_ = 600;
};

}  // namespace rastrace::ui
