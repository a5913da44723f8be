// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/Formats.h"

#include "common/IntText.h"

namespace rastrace {

namespace {

constexpr std::string_view kPcbHeader = "PCB FILE 4\r\n";
constexpr std::string_view kPcbTrailer = "1\r\nENDPCB\r\n";
constexpr std::string_view kAscHeader =
    "!PADS-POWERPCB-V2.1-MILS! DESIGN DATABASE ASCII FILE 1.0\r\n"
    "*LINES*      LINES ITEMS\r\n"
    "*REMARK*  NAME  TYPE  XLOC YLOC PIECES TEXT\r\n"
    "*REMARK*  PIECETYPE  CORNERS WIDTH LEVEL PINNUM\r\n"
    "*REMARK*  XLOC YLOC BEGINANGLE DELTAANGLE\r\n"
    "*REMARK*  XLOC YLOC ORI  LEVEL  HEIGHT WIDTH  MIRRORED\r\n";
constexpr std::string_view kAscTrailer = "*END*     OF ASCII OUTPUT FILE\r\n";

// Appends literal text at p.
char* Put(char* p, std::string_view text) {
    for (char c : text) *p++ = c;
    return p;
}

// Room for the numbers (20 characters at most each) and fixed text of one
// record, without width and layer: "FT" line, four numbers, five blanks,
// " 1" and the line ends; for PADS the item's four lines.
constexpr size_t kNumberRoom = 20;
constexpr size_t kPcbRecordRoom = 4 + 4 * kNumberRoom + 5 + 4;
constexpr size_t kAscRecordRoom = 6 + kNumberRoom + 19 + kNumberRoom + 4 + kNumberRoom + 17 + 2 + 12 + kNumberRoom + 5 +
                                  kNumberRoom + 2;

}  // namespace

std::string_view HeaderText(OutputFormat format) { return format == OutputFormat::Pcb ? kPcbHeader : kAscHeader; }

std::string_view TrailerText(OutputFormat format) { return format == OutputFormat::Pcb ? kPcbTrailer : kAscTrailer; }

void AppendPcbRecordLine(std::string& out, const Track& track, std::string_view width, std::string_view layer) {
    const size_t start = out.size();
    out.resize(start + kPcbRecordRoom + width.size() + layer.size());
    char* p = out.data() + start;
    p = Put(p, "FT\r\n");
    p = AppendDecimal(p, track.x1);
    *p++ = ' ';
    p = AppendDecimal(p, track.y1);
    *p++ = ' ';
    p = AppendDecimal(p, track.x2);
    *p++ = ' ';
    p = AppendDecimal(p, track.y2);
    *p++ = ' ';
    p = Put(p, width);
    *p++ = ' ';
    p = Put(p, layer);
    p = Put(p, " 1\r\n");
    out.resize(static_cast<size_t>(p - out.data()));
}

void AppendAscRecordLine(std::string& out, int32_t number, const Track& track, std::string_view width,
                         std::string_view layer) {
    const size_t start = out.size();
    out.resize(start + kAscRecordRoom + width.size() + layer.size());
    char* p = out.data() + start;
    p = Put(p, "JTPOLY");
    p = AppendDecimalPadded(p, number, 8);
    p = Put(p, "          LINES    ");
    p = AppendDecimal(p, track.x1);
    p = Put(p, "    ");
    p = AppendDecimal(p, track.y1);
    p = Put(p, "   1\r\nOPEN   2   ");
    p = Put(p, width);
    p = Put(p, "  ");
    p = Put(p, layer);
    p = Put(p, "\r\n0      0\r\n");
    p = AppendDecimal(p, track.x2 - track.x1);
    p = Put(p, "     ");
    p = AppendDecimal(p, track.y2 - track.y1);
    p = Put(p, "\r\n");
    out.resize(static_cast<size_t>(p - out.data()));
}

}  // namespace rastrace
