// SPDX-License-Identifier: GPL-3.0-or-later
// Windows built from data: a form's controls are one table of rows (name,
// kind, parent, text, geometry, alignment, initial state), and buildForm
// turns such a table into Qt widgets when the window is created.
//
// The one fact a caller must know: controls are found afterwards by their
// table name through FormControls::get, which throws when a name is missing
// or names a control of another kind, so a table and the code that binds it
// cannot drift apart silently.
#pragma once

#include <QHash>
#include <QLayout>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <span>
#include <string>

#include "common/Error.h"

namespace rastrace::ui {

enum class ControlKind {
    Panel,        // plain container, no bevel
    BevelPanel,   // container with a lowered outer and a raised inner bevel
    BandBar,      // the band bar at the top of the main window
    ToolBar,      // container of tool buttons, placed by their own geometry
    ToolButton,   // flat button showing an image from the image list, with a tooltip
    ToolSeparator,
    ScrollBox,    // scrolling area; its one child becomes the scrolled widget
    Picture,      // the raster view (PictureView)
    RadioButton,
    SpeedButton,  // flat push button with a text
    PushButton,
    GroupBox,
    Edit,         // one-line text field
    Memo,         // multi-line text field with a vertical scroll bar
    ListBox,      // the colour list (ColorListBox), single selection
    Label,        // sized to its text when width and height are 0
    ComboBox,     // drop-down list without typing; items are '\n'-separated
    ProgressBar,
    Shape,        // the colour swatch (ColorSwatch)
};

// How a control follows its parent's size: None keeps its geometry; Top and
// Bottom take the full width and keep their height; Left keeps its width
// and spans what Top and Bottom leave; ClientTop, only while shown, keeps
// its height across the top of what Left leaves; Client fills the rest.
enum class Align { None, Top, Bottom, Left, ClientTop, Client };

enum ControlState : unsigned {
    kEnabled = 0,
    kDisabled = 1u << 0,
    kChecked = 1u << 1,
    kDefaultButton = 1u << 2,
    kFirstItemSelected = 1u << 3,
};

// One row of a form's table. Texts are UTF-8. Geometry is left, top, width,
// height relative to the parent, as the layout's metrics give them.
struct ControlRow {
    const char* name = "";
    ControlKind kind = ControlKind::Panel;
    const char* parent = nullptr;  // nullptr: the form itself
    const char* text = "";
    int left = 0, top = 0, width = 0, height = 0;
    Align align = Align::None;
    unsigned state = kEnabled;
    const char* hint = "";        // tooltip
    int imageIndex = -1;          // into the form's image list
    const char* items = "";       // combo box entries, '\n'-separated
};

// The caption, the rows' texts and hints are translated in context (see
// Language.h) when the form is built; items, names and field contents are
// not. The tables mark their texts for lupdate with QT_TRANSLATE_NOOP.
struct FormTable {
    const char* context = "";
    const char* caption = "";
    int clientWidth = 0, clientHeight = 0;
    std::span<const ControlRow> controls;
};

// The widgets a table produced, by name.
class FormControls {
public:
    void add(const QString& name, QWidget* widget) { byName_.insert(name, widget); }
    QWidget* find(const QString& name) const { return byName_.value(name, nullptr); }

    // The control named name as a T; throws Error when there is none.
    template <class T>
    T* get(const char* name) const {
        T* control = qobject_cast<T*>(find(QString::fromUtf8(name)));
        if (control == nullptr) throw Error(std::string("Form control missing or of another kind: ") + name);
        return control;
    }

private:
    QHash<QString, QWidget*> byName_;
};

// Builds every control of table inside form (in table order, parents before
// children), sets the form's caption and client size, and gives aligned
// controls a DockLayout on their parent. images feeds the tool buttons.
// Throws Error when a row names a parent that comes later or not at all.
FormControls buildForm(QWidget& form, const FormTable& table, const QList<QPixmap>& images);

// Places aligned child widgets the way the table's Align column describes:
// all Top rows first (in table order), then Bottom, then Left, then the
// shown ClientTop rows, then Client.
class DockLayout : public QLayout {
public:
    explicit DockLayout(QWidget* parent) : QLayout(parent) { setContentsMargins(0, 0, 0, 0); }
    ~DockLayout() override;

    // extent is the height (Top, Bottom) or width (Left) the widget keeps.
    void addDocked(QWidget* widget, Align align, int extent);

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    struct Docked {
        QLayoutItem* item;
        Align align;
        int extent;
    };
    QList<Docked> items_;
};

}  // namespace rastrace::ui
