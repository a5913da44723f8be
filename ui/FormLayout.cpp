// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FormLayout.h"

#include "ui/Controls.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QToolButton>

namespace rastrace::ui {

namespace {

QString utf8(const char* text) { return QString::fromUtf8(text); }

// text in the window's language; an empty text or one without a
// translation comes back as it is.
QString translated(const char* context, const char* text) {
    return text[0] == '\0' ? QString() : QCoreApplication::translate(context, text);
}

QWidget* createControl(const char* context, const ControlRow& row, QWidget* parent, const QList<QPixmap>& images) {
    const QString text = translated(context, row.text);
    switch (row.kind) {
    case ControlKind::Panel: {
        auto* panel = new QFrame(parent);
        panel->setFrameStyle(QFrame::NoFrame);
        return panel;
    }
    case ControlKind::BevelPanel:
        return new BevelPanel(parent);
    case ControlKind::BandBar:
        return new BandBar(parent);
    case ControlKind::ToolBar:
        return new QWidget(parent);
    case ControlKind::ToolButton: {
        auto* button = new QToolButton(parent);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setIconSize(QSize(48, 48));
        if (row.imageIndex >= 0 && row.imageIndex < images.size()) button->setIcon(QIcon(images[row.imageIndex]));
        return button;
    }
    case ControlKind::ToolSeparator: {
        auto* line = new QFrame(parent);
        line->setFrameStyle(QFrame::VLine | QFrame::Sunken);
        return line;
    }
    case ControlKind::ScrollBox: {
        auto* scroll = new QScrollArea(parent);
        scroll->setWidgetResizable(false);
        scroll->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return scroll;
    }
    case ControlKind::Picture:
        return new PictureView(parent);
    case ControlKind::RadioButton:
        return new QRadioButton(text, parent);
    case ControlKind::SpeedButton: {
        auto* button = new QToolButton(parent);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setText(text);
        return button;
    }
    case ControlKind::PushButton:
        return new QPushButton(text, parent);
    case ControlKind::GroupBox:
        return new QGroupBox(text, parent);
    case ControlKind::Edit:
        return new QLineEdit(text, parent);
    case ControlKind::Memo: {
        auto* memo = new QPlainTextEdit(parent);
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        memo->setPlainText(text);
        return memo;
    }
    case ControlKind::ListBox:
        return new ColorListBox(parent);
    case ControlKind::Label:
        return new QLabel(text, parent);
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(false);
        const QStringList items = utf8(row.items).split(u'\n', Qt::SkipEmptyParts);
        combo->addItems(items);
        combo->setMaxVisibleItems(static_cast<int>(items.size()));  // the whole list at once
        combo->setCurrentIndex((row.state & kFirstItemSelected) != 0 && !items.isEmpty() ? 0 : -1);
        return combo;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::Shape:
        return new ColorSwatch(parent);
    }
    throw Error(std::string("Unknown control kind for ") + row.name);
}

void applyState(const char* context, const ControlRow& row, QWidget* widget) {
    if (row.hint[0] != '\0') widget->setToolTip(translated(context, row.hint));
    if ((row.state & kDisabled) != 0) widget->setEnabled(false);
    if (auto* radio = qobject_cast<QRadioButton*>(widget)) radio->setChecked((row.state & kChecked) != 0);
    if (auto* button = qobject_cast<QPushButton*>(widget); button && (row.state & kDefaultButton) != 0) {
        button->setDefault(true);
    }
}

}  // namespace

FormControls buildForm(QWidget& form, const FormTable& table, const QList<QPixmap>& images) {
    form.setWindowTitle(translated(table.context, table.caption));
    form.resize(table.clientWidth, table.clientHeight);

    FormControls controls;
    QHash<QWidget*, DockLayout*> docks;
    for (const ControlRow& row : table.controls) {
        QWidget* parent = &form;
        if (row.parent != nullptr) {
            parent = controls.find(utf8(row.parent));
            if (parent == nullptr) {
                throw Error(std::string("Form control ") + row.name + " names an unknown parent " + row.parent);
            }
        }
        auto* scroll = qobject_cast<QScrollArea*>(parent);
        QWidget* widget = createControl(table.context, row, scroll != nullptr ? nullptr : parent, images);
        widget->setObjectName(utf8(row.name));

        if (row.align != Align::None) {
            DockLayout*& dock = docks[parent];
            if (dock == nullptr) dock = new DockLayout(parent);
            const bool horizontal = row.align == Align::Top || row.align == Align::Bottom;
            dock->addDocked(widget, row.align, horizontal ? row.height : row.width);
        } else if (row.kind == ControlKind::Label && row.width == 0 && row.height == 0) {
            widget->adjustSize();
            widget->move(row.left, row.top);
        } else {
            widget->setGeometry(row.left, row.top, row.width, row.height);
        }
        if (scroll != nullptr) scroll->setWidget(widget);

        applyState(table.context, row, widget);
        controls.add(widget->objectName(), widget);
    }
    return controls;
}

// ---- DockLayout -----------------------------------------------------------

DockLayout::~DockLayout() {
    for (const Docked& docked : items_) delete docked.item;
}

void DockLayout::addDocked(QWidget* widget, Align align, int extent) {
    addChildWidget(widget);
    items_.append(Docked{new QWidgetItem(widget), align, extent});
    invalidate();
}

void DockLayout::addItem(QLayoutItem* item) { items_.append(Docked{item, Align::Client, 0}); }

QLayoutItem* DockLayout::itemAt(int index) const {
    return index >= 0 && index < items_.size() ? items_[index].item : nullptr;
}

QLayoutItem* DockLayout::takeAt(int index) {
    if (index < 0 || index >= items_.size()) return nullptr;
    return items_.takeAt(index).item;
}

QSize DockLayout::sizeHint() const { return minimumSize().expandedTo(QSize(200, 150)); }

QSize DockLayout::minimumSize() const {
    int fixedWidth = 0;
    int fixedHeight = 0;
    for (const Docked& docked : items_) {
        if (docked.align == Align::Top || docked.align == Align::Bottom) fixedHeight += docked.extent;
        if (docked.align == Align::Left) fixedWidth += docked.extent;
    }
    return QSize(fixedWidth + 20, fixedHeight + 20);
}

void DockLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    // Widgets are placed directly (not through their layout items) so that
    // a control's own size hints cannot override the extent the table gives.
    QRect rest = rect;
    for (Align pass : {Align::Top, Align::Bottom, Align::Left, Align::ClientTop, Align::Client}) {
        for (const Docked& docked : items_) {
            if (docked.align != pass) continue;
            QWidget* widget = docked.item->widget();
            if (widget == nullptr) continue;
            if (pass == Align::ClientTop && widget->isHidden()) continue;
            switch (pass) {
            case Align::Top:
                widget->setGeometry(rest.left(), rest.top(), rest.width(), docked.extent);
                rest.setTop(rest.top() + docked.extent);
                break;
            case Align::Bottom:
                widget->setGeometry(rest.left(), rest.bottom() + 1 - docked.extent, rest.width(), docked.extent);
                rest.setBottom(rest.bottom() - docked.extent);
                break;
            case Align::Left:
                widget->setGeometry(rest.left(), rest.top(), docked.extent, std::max(0, rest.height()));
                rest.setLeft(rest.left() + docked.extent);
                break;
            case Align::ClientTop:
                widget->setGeometry(rest.left(), rest.top(), std::max(0, rest.width()), docked.extent);
                rest.setTop(rest.top() + docked.extent);
                break;
            case Align::Client:
            case Align::None:
                widget->setGeometry(rest.left(), rest.top(), std::max(0, rest.width()), std::max(0, rest.height()));
                break;
            }
        }
    }
}

}  // namespace rastrace::ui
