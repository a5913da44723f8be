// SPDX-License-Identifier: GPL-3.0-or-later
// The text of the two output files, as header, record and trailer. The
// formats know nothing of files or threads: the job writes what they give.
//
//   PCB: "PCB FILE 4", per track "FT" + "x1 y1 x2 y2 width layer 1", then "1", "ENDPCB".
//   ASC: PADS PowerPCB ASCII lines: six header lines, a four-line JTPOLY
//        item per track, then "*END*     OF ASCII OUTPUT FILE".
// Every line ends in CR LF. Width and layer are texts, written as given.
#pragma once

#include "trace/Scanner.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace rastrace {

enum class OutputFormat { Pcb, Asc };

// Header and trailer lines, each line ended by CR LF.
std::string_view HeaderText(OutputFormat format);
std::string_view TrailerText(OutputFormat format);

// Appends the record and its final CR LF to out. No locale, one append.
void AppendPcbRecordLine(std::string& out, const Track& track, std::string_view width, std::string_view layer);
void AppendAscRecordLine(std::string& out, int32_t number, const Track& track, std::string_view width,
                         std::string_view layer);

// Appends the record line of format; number is used by ASC only.
inline void AppendRecordLine(std::string& out, OutputFormat format, int32_t number, const Track& track,
                             std::string_view width, std::string_view layer) {
    if (format == OutputFormat::Pcb) {
        AppendPcbRecordLine(out, track, width, layer);
    } else {
        AppendAscRecordLine(out, number, track, width, layer);
    }
}

}  // namespace rastrace
