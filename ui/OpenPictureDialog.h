// SPDX-License-Identifier: GPL-3.0-or-later
// The open-picture dialog: Qt's own file dialog (never the platform's, so
// the preview pane can sit beside the file list) with a preview pane that
// shows the selected file scaled to fit, its size, and a button that opens
// the "Preview" window.
//
// The one fact a caller must know: the pane goes by the file's extension
// (bmp, ico; emf and wmf have no renderer here and show "(None)"), while the
// Open command reads every chosen file as a bitmap whatever its name.
//
// The pane loads off the interface thread, from a reduced read of the file
// (the picture sampled down as it is read, within kPreviewMemory), so a
// file whose header declares a huge picture never holds up the dialog: the
// interface thread only starts the load and shows its result.
#pragma once

#include "ui/DialogService.h"

#include <QDialog>
#include <QFileDialog>
#include <QFrame>
#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>
#include <optional>

class QLabel;
class QToolButton;

namespace rastrace::ui {

// A picture as the preview shows it: its real size, an image of at most
// kPreviewMaxSide pixels a side for the "Preview" window (a huge scan is
// sampled down as it is read) and a smaller one the pane draws.
struct PreviewPicture {
    QSize size;
    QImage image;
    QImage thumbnail;
};

inline constexpr int kPreviewMaxSide = 2048;
inline constexpr int kThumbnailMaxSide = 512;
// The most memory one preview load may take.
inline constexpr uint64_t kPreviewMemory = uint64_t{64} << 20;

// Loads path for the preview by its extension, letter case ignored: "bmp"
// through the program's bitmap reader, "ico" as an icon (its largest
// image), "png", "tif", "tiff", "jpg" and "jpeg" through the Open command's
// picture reader (ReadPictureForWindow). nullopt for a missing file, any
// other extension (emf and wmf included), a pipe or device, or a file that
// fails to load within kPreviewMemory. Never throws; safe on any thread.
std::optional<PreviewPicture> loadPreviewPicture(const QString& path);

// The framed area: the picture scaled to fit, proportions kept, centred;
// the text "(None)" when there is no picture.
class PreviewArea : public QFrame {
    Q_OBJECT
public:
    explicit PreviewArea(QWidget* parent = nullptr, bool framed = true);
    void setImage(const QImage& image, bool present);
    bool hasPicture() const { return hasPicture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    bool hasPicture_ = false;
};

// The pane beside the file list: caption, "Preview" button, area.
class PreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit PreviewPane(QWidget* parent = nullptr);

    ~PreviewPane() override;

    // Shows path (called whenever the current file changes): "(None)" at
    // once, the picture when its load, started here on another thread, has
    // ended. A later call makes the earlier load's result go unseen.
    void showFile(const QString& path);

    QString caption() const;
    bool previewEnabled() const;
    const PreviewArea* area() const { return area_; }
    // True from showFile until the result of its load is shown.
    bool loading() const { return loading_; }

signals:
    // The result of the latest load is shown.
    void loaded();

private:
    struct Loads;
    void showPicture(std::optional<PreviewPicture> picture);
    void openPreviewWindow();

    QLabel* caption_;
    QToolButton* button_;
    PreviewArea* area_;
    std::optional<PreviewPicture> picture_;
    QString shownPath_;
    std::shared_ptr<Loads> loads_;  // shared with the loading threads
    uint64_t ticket_ = 0;           // of the latest load
    bool loading_ = false;
};

// The "Preview" window: modal, resizable, centred on the screen; the picture
// fits inside a 5-pixel border; Esc closes it.
class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    PreviewWindow(const PreviewPicture& picture, QWidget* parent);

    // The client size for a picture of pictureSize on a screen whose
    // available area is screen: the picture at full size inside the border,
    // at most three quarters of the screen each way.
    static QSize clientSizeFor(const QSize& pictureSize, const QSize& screen);
};

// OpenPictureDialog1 as shown: file types as given, first (or remembered)
// type selected, remembered name filled in; names need not exist.
class PictureFileDialog : public QFileDialog {
    Q_OBJECT
public:
    PictureFileDialog(QWidget* parent, const QStringList& filters, const FileChoice& initial);

    FileChoice choice() const;
    PreviewPane* preview() const { return preview_; }

private:
    // Qt's dialog takes a filter's patterns as blank-separated; ours are
    // ";"-separated as the classic file-type list writes them, so the list
    // is given its patterns again after every change of type.
    void applyPatterns(const QString& filter);

    PreviewPane* preview_;
};

}  // namespace rastrace::ui
