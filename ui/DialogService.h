// SPDX-License-Identifier: GPL-3.0-or-later
// Every dialog and message box the window shows goes through DialogService,
// so tests answer them instead of a user and nothing blocks. QtDialogService
// is the real one; OpenPictureDialog1 and SaveDialog1 of the main window are
// TOpenPictureDialog and TSaveDialog, which keep what a dialog remembers from
// one use to the next and ask the service to show it.
//
// The one fact a caller must know: a cancelled dialog changes nothing, not
// even the name and file type offered next time.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QDialog;
class QWidget;

namespace rastrace::ui {

// A chosen file and the file-type entry it was chosen under.
struct FileChoice {
    QString fileName;
    QString selectedFilter;
};

class DialogService {
public:
    virtual ~DialogService() = default;

    // The open-picture dialog with its preview pane. filters are the
    // file-type entries as shown ("Bitmaps (*.bmp)"); initial gives the
    // name filled in and the entry selected. nullopt when cancelled.
    virtual std::optional<FileChoice> openPicture(QWidget* parent, const QStringList& filters,
                                                  const FileChoice& initial) = 0;

    // The save dialog: one file-type entry, defaultSuffix added to a name
    // without one, initialName filled in, no question before replacing an
    // existing file. nullopt when cancelled.
    virtual std::optional<QString> saveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix,
                                            const QString& initialName) = 0;

    // The save dialog with several file-type entries (fileTypes, the first
    // selected): the chosen name and the entry it was chosen under. Choosing
    // an entry makes its extension the one added to a name without one
    // (defaultSuffix is that of the first). By default it offers only the
    // first entry through saveFile.
    virtual std::optional<FileChoice> saveFileOfType(QWidget* parent, const QStringList& fileTypes,
                                                     const QString& defaultSuffix, const QString& initialName);

    // The standard error box: caption "RASTRACE FOR WIN", stop icon, OK,
    // application-modal. text already follows the full-stop rule.
    virtual void showError(QWidget* parent, const QString& text) = 0;

    // A notice box with the information icon and OK.
    virtual void showNotice(QWidget* parent, const QString& text, const QString& caption) = 0;

    // Shows dialog modally and returns when it is closed.
    virtual void execDialog(QDialog& dialog) = 0;
};

// The dialogs and message boxes a user sees.
class QtDialogService : public DialogService {
public:
    std::optional<FileChoice> openPicture(QWidget* parent, const QStringList& filters,
                                          const FileChoice& initial) override;
    std::optional<QString> saveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix,
                                    const QString& initialName) override;
    std::optional<FileChoice> saveFileOfType(QWidget* parent, const QStringList& fileTypes,
                                             const QString& defaultSuffix, const QString& initialName) override;
    void showError(QWidget* parent, const QString& text) override;
    void showNotice(QWidget* parent, const QString& text, const QString& caption) override;
    void execDialog(QDialog& dialog) override;
};

// OpenPictureDialog1: the picture kinds the preview knows, and the file
// name and type used last.
class TOpenPictureDialog {
public:
    // "All (*.bmp;*.ico;*.emf;*.wmf;*.png;*.tif;*.tiff;*.jpg;*.jpeg)",
    // "Bitmaps (*.bmp)", "Icons (*.ico)", "Enhanced Metafiles (*.emf)",
    // "Metafiles (*.wmf)", "PNG (*.png)", "TIFF (*.tif;*.tiff)",
    // "JPEG (*.jpg;*.jpeg)".
    static QStringList filters();

    // Shows the dialog; true with fileName() set when a file was chosen.
    bool execute(DialogService& dialogs, QWidget* parent);

    const QString& fileName() const { return choice_.fileName; }
    const QString& selectedFilter() const { return choice_.selectedFilter; }

private:
    FileChoice choice_;
};

// SaveDialog1: the filter and default extension the Convert command sets
// ("PCB|*.PCB" / "PCB"), and the file name used last.
class TSaveDialog {
public:
    // filter in the pipe form "Description|pattern"; shown as "Description (pattern)".
    void setFilter(const QString& filter) { filter_ = filter; }
    void setDefaultExt(const QString& extension) { defaultExt_ = extension; }

    // More file-type entries after the one of setFilter, as shown
    // ("Gerber (*.gbr)"); none by default.
    void setExtraFileTypes(const QStringList& shown) { extraTypes_ = shown; }

    // Shows the dialog; true with fileName() set when a name was chosen.
    bool execute(DialogService& dialogs, QWidget* parent);

    const QString& fileName() const { return fileName_; }
    // The entry the last name was chosen under, as shown.
    const QString& fileType() const { return fileType_; }
    // The filter as a Qt file dialog shows it.
    QString shownFilter() const;

private:
    QString filter_;
    QString defaultExt_;
    QString fileName_;
    QStringList extraTypes_;
    QString fileType_;
};

}  // namespace rastrace::ui
