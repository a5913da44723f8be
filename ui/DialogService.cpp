// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DialogService.h"

#include "ui/AppLook.h"
#include "ui/OpenPictureDialog.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

#include <initializer_list>

namespace rastrace::ui {

// ---- QtDialogService ------------------------------------------------------

std::optional<FileChoice> QtDialogService::openPicture(QWidget* parent, const QStringList& filters,
                                                       const FileChoice& initial) {
    PictureFileDialog dialog(parent, filters, initial);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    FileChoice choice = dialog.choice();
    if (choice.fileName.isEmpty()) return std::nullopt;
    return choice;
}

std::optional<QString> QtDialogService::saveFile(QWidget* parent, const QString& filter, const QString& defaultSuffix,
                                                 const QString& initialName) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (!initialName.isEmpty()) dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
    return files.first();
}

std::optional<FileChoice> QtDialogService::saveFileOfType(QWidget* parent, const QStringList& fileTypes,
                                                          const QString& defaultSuffix, const QString& initialName) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(fileTypes);
    dialog.setDefaultSuffix(defaultSuffix);
    // Each entry adds its own extension to a bare name: "(*.gbr)" gives gbr.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& type) {
        const qsizetype dot = type.indexOf(QStringLiteral("*."));
        const qsizetype end = type.indexOf(u')', dot);
        if (dot >= 0 && end > dot) dialog.setDefaultSuffix(type.mid(dot + 2, end - dot - 2).section(u';', 0, 0));
    });
    if (!initialName.isEmpty()) dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
    return FileChoice{files.first(), dialog.selectedNameFilter()};
}

void QtDialogService::showError(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void QtDialogService::showNotice(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void QtDialogService::execDialog(QDialog& dialog) { dialog.exec(); }

// ---- DialogService --------------------------------------------------------

std::optional<FileChoice> DialogService::saveFileOfType(QWidget* parent, const QStringList& fileTypes,
                                                        const QString& defaultSuffix, const QString& initialName) {
    const QString first = fileTypes.value(0);
    const std::optional<QString> name = saveFile(parent, first, defaultSuffix, initialName);
    if (!name) return std::nullopt;
    return FileChoice{*name, first};
}

// ---- TOpenPictureDialog ---------------------------------------------------

QStringList TOpenPictureDialog::filters() {
    // The kinds the preview pane knows, in this order; each adds its entry,
    // and "All" for their combined patterns goes in front.
    struct Kind {
        const char* description;
        const char* extension;
    };
    static constexpr Kind kinds[] = {
        {"Bitmaps", "bmp"}, {"Icons", "ico"}, {"Enhanced Metafiles", "emf"}, {"Metafiles", "wmf"}};
    QStringList entries;
    QStringList patterns;
    for (const Kind& kind : kinds) {
        const QString pattern = QStringLiteral("*.") + QString::fromLatin1(kind.extension);
        entries.append(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(kind.description), pattern));
        patterns.append(pattern);
    }
    // The scanners' formats, each family with all its extensions.
    struct Family {
        const char* description;
        std::initializer_list<const char*> extensions;
    };
    static const Family families[] = {{"PNG", {"png"}}, {"TIFF", {"tif", "tiff"}}, {"JPEG", {"jpg", "jpeg"}}};
    for (const Family& family : families) {
        QStringList own;
        for (const char* extension : family.extensions) own.append(QStringLiteral("*.") + QString::fromLatin1(extension));
        entries.append(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(family.description), own.join(u';')));
        patterns.append(own);
    }
    entries.prepend(QStringLiteral("All (%1)").arg(patterns.join(u';')));
    return entries;
}

bool TOpenPictureDialog::execute(DialogService& dialogs, QWidget* parent) {
    const QStringList entries = filters();
    FileChoice initial = choice_;
    if (!entries.contains(initial.selectedFilter)) initial.selectedFilter = entries.first();
    const std::optional<FileChoice> chosen = dialogs.openPicture(parent, entries, initial);
    if (!chosen) return false;
    choice_ = *chosen;
    return true;
}

// ---- TSaveDialog ----------------------------------------------------------

QString TSaveDialog::shownFilter() const {
    const qsizetype bar = filter_.indexOf(u'|');
    if (bar < 0) return filter_;
    return QStringLiteral("%1 (%2)").arg(filter_.left(bar), filter_.mid(bar + 1));
}

bool TSaveDialog::execute(DialogService& dialogs, QWidget* parent) {
    if (!extraTypes_.isEmpty()) {
        const std::optional<FileChoice> chosen =
            dialogs.saveFileOfType(parent, QStringList{shownFilter()} + extraTypes_, defaultExt_, fileName_);
        if (!chosen) return false;
        fileName_ = chosen->fileName;
        fileType_ = chosen->selectedFilter;
        return true;
    }
    const std::optional<QString> chosen = dialogs.saveFile(parent, shownFilter(), defaultExt_, fileName_);
    if (!chosen) return false;
    fileName_ = *chosen;
    fileType_ = shownFilter();
    return true;
}

}  // namespace rastrace::ui
