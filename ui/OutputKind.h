// SPDX-License-Identifier: GPL-3.0-or-later
// The output formats the window offers: the two of the radio buttons (PCB,
// ASC) and the area formats chosen through the save dialog's file types
// (Gerber, KiCad), which then take precedence over the radio buttons.
#pragma once

#include "formats/Formats.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace rastrace::ui {

enum class OutputKind { Pcb, Asc, Gerber, KiCad, KiCadBoard, GerberJob };

// The save dialog's file types, the radio buttons' own first ("PCB (*.PCB)"
// or "ASC (*.ASC)"), then "Gerber (*.gbr)" and "KiCad (*.kicad_mod)".
QStringList SaveFileTypes(bool pcbChecked);

// The whole board's file types, offered once both sides are open:
// "KiCad 电路板 (*.kicad_pcb)" and "Gerber 作业 (*.gbrjob)", in the window's
// language.
QStringList BoardFileTypes();

// The kind a file type chosen in the save dialog stands for; the radio
// buttons' choice for their own type or any unknown text.
OutputKind KindOfFileType(const QString& fileType, bool pcbChecked);

// The extension a name without one gets under kind ("PCB", "ASC", "gbr",
// "kicad_mod").
QString DefaultSuffixOf(OutputKind kind);

// The track format of kind; nothing for the area formats, which are not
// written by the conversion job.
std::optional<OutputFormat> CoreFormatOf(OutputKind kind);

}  // namespace rastrace::ui
