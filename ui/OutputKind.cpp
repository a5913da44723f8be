// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/OutputKind.h"

#include <QCoreApplication>

namespace rastrace::ui {

namespace {

const QString kGerberType = QStringLiteral("Gerber (*.gbr)");
const QString kKiCadType = QStringLiteral("KiCad (*.kicad_mod)");

}  // namespace

QStringList SaveFileTypes(bool pcbChecked) {
    return {pcbChecked ? QStringLiteral("PCB (*.PCB)") : QStringLiteral("ASC (*.ASC)"), kGerberType, kKiCadType};
}

QStringList BoardFileTypes() {
    return {QCoreApplication::translate("TRtcFrmMain", "KiCad 电路板 (*.kicad_pcb)"),
            QCoreApplication::translate("TRtcFrmMain", "Gerber 作业 (*.gbrjob)")};
}

OutputKind KindOfFileType(const QString& fileType, bool pcbChecked) {
    const QStringList board = BoardFileTypes();
    if (fileType == board[0]) return OutputKind::KiCadBoard;
    if (fileType == board[1]) return OutputKind::GerberJob;
    if (fileType == kGerberType) return OutputKind::Gerber;
    if (fileType == kKiCadType) return OutputKind::KiCad;
    return pcbChecked ? OutputKind::Pcb : OutputKind::Asc;
}

QString DefaultSuffixOf(OutputKind kind) {
    switch (kind) {
    case OutputKind::Pcb:
        return QStringLiteral("PCB");
    case OutputKind::Asc:
        return QStringLiteral("ASC");
    case OutputKind::Gerber:
        return QStringLiteral("gbr");
    case OutputKind::KiCad:
        return QStringLiteral("kicad_mod");
    case OutputKind::KiCadBoard:
        return QStringLiteral("kicad_pcb");
    case OutputKind::GerberJob:
        return QStringLiteral("gbrjob");
    }
    return {};
}

std::optional<OutputFormat> CoreFormatOf(OutputKind kind) {
    switch (kind) {
    case OutputKind::Pcb:
        return OutputFormat::Pcb;
    case OutputKind::Asc:
        return OutputFormat::Asc;
    case OutputKind::Gerber:
    case OutputKind::KiCad:
    case OutputKind::KiCadBoard:
    case OutputKind::GerberJob:
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace rastrace::ui
