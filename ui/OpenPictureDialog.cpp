// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/OpenPictureDialog.h"

#include "raster/BmpReader.h"
#include "ui/PictureFile.h"

#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QThreadPool>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>

namespace rastrace::ui {

namespace {

// The scanners' file types, which the preview reads like the Open command.
bool IsScanExtension(const QString& extension) {
    static const QStringList scans = {QStringLiteral("png"), QStringLiteral("tif"), QStringLiteral("tiff"),
                                      QStringLiteral("jpg"), QStringLiteral("jpeg")};
    return scans.contains(extension);
}

// A copy of raster sampled down so that neither side exceeds kPreviewMaxSide.
QImage previewImageOf(const Raster& raster) {
    if (raster.Empty()) return {};
    const int64_t width = raster.Width();
    const int64_t height = raster.Height();
    const int64_t longest = std::max(width, height);
    const int targetWidth = static_cast<int>(std::max<int64_t>(1, width * std::min<int64_t>(longest, kPreviewMaxSide) / longest));
    const int targetHeight = static_cast<int>(std::max<int64_t>(1, height * std::min<int64_t>(longest, kPreviewMaxSide) / longest));
    QImage image(targetWidth, targetHeight, QImage::Format_BGR888);
    for (int ty = 0; ty < targetHeight; ++ty) {
        const auto row = raster.RowBytes(static_cast<int32_t>(ty * height / targetHeight));
        uchar* out = image.scanLine(ty);
        for (int tx = 0; tx < targetWidth; ++tx) {
            const uint8_t* pixel = row.data() + (tx * width / targetWidth) * 3;
            out[tx * 3] = pixel[0];
            out[tx * 3 + 1] = pixel[1];
            out[tx * 3 + 2] = pixel[2];
        }
    }
    return image;
}

std::optional<PreviewPicture> loadIcon(const QString& path) {
    QImageReader reader(path, "ico");
    reader.setAllocationLimit(static_cast<int>(kPreviewMemory >> 20));  // in megabytes
    QImage best;
    // An icon file holds several images; the pane shows the largest.
    do {
        QImage image = reader.read();
        if (!image.isNull() && image.width() * image.height() > best.width() * best.height()) best = image;
    } while (reader.jumpToNextImage());
    if (best.isNull()) return std::nullopt;
    return PreviewPicture{best.size(), best, {}};
}

}  // namespace

std::optional<PreviewPicture> loadPreviewPicture(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile()) return std::nullopt;
    const QString extension = info.suffix().toLower();
    std::optional<PreviewPicture> picture;
    try {
        if (extension == QStringLiteral("bmp")) {
            ReadLimits limits;
            limits.memory = kPreviewMemory;
            limits.regularFileOnly = true;
            limits.sampleSide = kPreviewMaxSide;
            const DecodedBitmap bitmap = LoadBitmapFile(QFile::encodeName(path).toStdString(), limits);
            const int32_t height = bitmap.header.biHeight < 0 ? -bitmap.header.biHeight : bitmap.header.biHeight;
            picture = PreviewPicture{QSize(bitmap.header.biWidth, height), previewImageOf(bitmap.raster), {}};
        } else if (extension == QStringLiteral("ico")) {
            picture = loadIcon(path);
        } else if (IsScanExtension(extension)) {
            // Scanners' formats go through the same reader as the Open
            // command, decoded whole within the preview's memory.
            ReadLimits limits;
            limits.memory = kPreviewMemory;
            limits.regularFileOnly = true;
            const Raster raster = ReadPictureForWindow(QFile::encodeName(path).toStdString(), limits);
            picture = PreviewPicture{QSize(raster.Width(), raster.Height()), previewImageOf(raster), {}};
        }
    } catch (const std::exception&) {
        // A file the pane cannot show is shown as "(None)", without a message.
        return std::nullopt;
    }
    if (picture && !picture->image.isNull()) {
        picture->thumbnail = picture->image.width() > kThumbnailMaxSide || picture->image.height() > kThumbnailMaxSide
                                 ? picture->image.scaled(kThumbnailMaxSide, kThumbnailMaxSide, Qt::KeepAspectRatio,
                                                         Qt::SmoothTransformation)
                                 : picture->image;
    }
    return picture;
}

// ---- PreviewArea ----------------------------------------------------------

PreviewArea::PreviewArea(QWidget* parent, bool framed) : QFrame(parent) {
    if (framed) setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

void PreviewArea::setImage(const QImage& image, bool present) {
    image_ = image;
    hasPicture_ = present;
    update();
}

void PreviewArea::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect box = contentsRect();
    if (!hasPicture_) {
        painter.drawText(box, Qt::AlignCenter, QStringLiteral("(None)"));
        return;
    }
    if (image_.isNull() || box.isEmpty()) return;
    const QSize fitted = image_.size().scaled(box.size(), Qt::KeepAspectRatio);
    const QRect target(box.left() + (box.width() - fitted.width()) / 2, box.top() + (box.height() - fitted.height()) / 2,
                       fitted.width(), fitted.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image_);
}

// ---- PreviewPane ----------------------------------------------------------

// What the pane and its loading threads share. A thread posts its result
// to the pane under the lock, and only while the pane exists.
struct PreviewPane::Loads {
    std::mutex mutex;
    PreviewPane* pane = nullptr;
    std::atomic<uint64_t> latest{0};
};

PreviewPane::PreviewPane(QWidget* parent)
    : QWidget(parent), caption_(new QLabel(QStringLiteral("Picture:"), this)), button_(new QToolButton(this)),
      area_(new PreviewArea(this)), loads_(std::make_shared<Loads>()) {
    loads_->pane = this;
    button_->setToolTip(QStringLiteral("Preview"));
    button_->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    button_->setEnabled(false);
    auto* top = new QHBoxLayout;
    top->addWidget(caption_, 1);
    top->addWidget(button_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 0, 0, 0);
    column->addLayout(top);
    column->addWidget(area_, 1);
    setMinimumWidth(160);
    connect(button_, &QToolButton::clicked, this, &PreviewPane::openPreviewWindow);
}

PreviewPane::~PreviewPane() {
    std::lock_guard lock(loads_->mutex);
    loads_->pane = nullptr;
}

void PreviewPane::showFile(const QString& path) {
    if (path == shownPath_) return;  // only a change to another name reloads
    shownPath_ = path;
    ticket_ = ++loads_->latest;
    loading_ = true;
    showPicture(std::nullopt);
    QThreadPool::globalInstance()->start([loads = loads_, path, ticket = ticket_] {
        if (loads->latest.load() != ticket) return;  // another file was selected meanwhile
        std::optional<PreviewPicture> picture = loadPreviewPicture(path);
        std::lock_guard lock(loads->mutex);
        if (loads->pane == nullptr) return;
        PreviewPane* pane = loads->pane;
        QMetaObject::invokeMethod(
            pane,
            [pane, ticket, picture = std::move(picture)]() mutable {
                if (ticket != pane->ticket_) return;
                pane->loading_ = false;
                pane->showPicture(std::move(picture));
                emit pane->loaded();
            },
            Qt::QueuedConnection);
    });
}

void PreviewPane::showPicture(std::optional<PreviewPicture> picture) {
    picture_ = std::move(picture);
    if (picture_) {
        caption_->setText(QString::asprintf(" (%dx%d)", picture_->size.width(), picture_->size.height()));
        button_->setEnabled(true);
        area_->setImage(picture_->thumbnail, true);
    } else {
        caption_->setText(QStringLiteral("Picture:"));
        button_->setEnabled(false);
        area_->setImage({}, false);
    }
}

QString PreviewPane::caption() const { return caption_->text(); }
bool PreviewPane::previewEnabled() const { return button_->isEnabled(); }

void PreviewPane::openPreviewWindow() {
    if (!picture_) return;
    PreviewWindow window(*picture_, this);
    window.exec();
}

// ---- PreviewWindow --------------------------------------------------------

PreviewWindow::PreviewWindow(const PreviewPicture& picture, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Preview"));
    setModal(true);
    setSizeGripEnabled(true);
    auto* area = new PreviewArea(this, false);
    area->setImage(picture.image, true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addWidget(area);

    QScreen* screen = parent != nullptr && parent->screen() != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    if (picture.size.width() > 0) resize(clientSizeFor(picture.size, available.size()));
    move(available.center() - rect().center());
}

QSize PreviewWindow::clientSizeFor(const QSize& pictureSize, const QSize& screen) {
    return QSize(std::min(pictureSize.width() + 10, screen.width() * 3 / 4),
                 std::min(pictureSize.height() + 10, screen.height() * 3 / 4));
}

// ---- PictureFileDialog ----------------------------------------------------

PictureFileDialog::PictureFileDialog(QWidget* parent, const QStringList& filters, const FileChoice& initial)
    : QFileDialog(parent), preview_(new PreviewPane(this)) {
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::AnyFile);  // a missing name reaches the loading step and fails there
    setSizeGripEnabled(true);
    setNameFilters(filters);
    const QString filter = filters.contains(initial.selectedFilter) ? initial.selectedFilter
                           : filters.isEmpty()                      ? QString()
                                                                    : filters.first();
    selectNameFilter(filter);
    applyPatterns(filter);
    if (!initial.fileName.isEmpty()) selectFile(initial.fileName);

    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        grid->addWidget(preview_, 0, grid->columnCount(), grid->rowCount(), 1);
    }
    connect(this, &QFileDialog::currentChanged, preview_, &PreviewPane::showFile);
    connect(this, &QFileDialog::filterSelected, this, &PictureFileDialog::applyPatterns);
    resize(760, 440);
}

FileChoice PictureFileDialog::choice() const {
    const QStringList files = selectedFiles();
    return FileChoice{files.isEmpty() ? QString() : files.first(), selectedNameFilter()};
}

void PictureFileDialog::applyPatterns(const QString& filter) {
    auto* model = findChild<QFileSystemModel*>();
    if (model == nullptr) return;
    const qsizetype open = filter.lastIndexOf(u'(');
    const qsizetype close = filter.lastIndexOf(u')');
    if (open < 0 || close <= open) return;
    const QStringList patterns =
        filter.mid(open + 1, close - open - 1).split(QRegularExpression(QStringLiteral("[; ]")), Qt::SkipEmptyParts);
    model->setNameFilters(patterns);
}

}  // namespace rastrace::ui
