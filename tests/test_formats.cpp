// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/Formats.h"
#include "support/TrackText.h"

#include <gtest/gtest.h>

using namespace rastrace;
using rastrace::test::AscRecord;
using rastrace::test::PcbRecord;

TEST(PcbFormat, HeaderRecordAndTrailer) {
    EXPECT_EQ(HeaderText(OutputFormat::Pcb), "PCB FILE 4\r\n");
    EXPECT_EQ(TrailerText(OutputFormat::Pcb), "1\r\nENDPCB\r\n");
    EXPECT_EQ(PcbRecord(Track{0, 0, 5, 0}, "2", "1"), "FT\r\n0 0 5 0 2 1 1");
    EXPECT_EQ(PcbRecord(Track{0, 0, 5, 0}, "", "1"), "FT\r\n0 0 5 0  1 1") << "an empty width leaves two blanks";
    EXPECT_EQ(PcbRecord(Track{-2, -3, -1, -3}, "007", "0"), "FT\r\n-2 -3 -1 -3 007 0 1");
    EXPECT_EQ(PcbRecord(Track{INT64_MIN, 0, INT64_MAX, 0}, "2", "8"),
              "FT\r\n-9223372036854775808 0 9223372036854775807 0 2 8 1");
    // Every number at its longest: the record's room must hold them all.
    EXPECT_EQ(PcbRecord(Track{INT64_MIN, INT64_MIN, INT64_MIN, INT64_MIN}, "123456789", "8"),
              "FT\r\n-9223372036854775808 -9223372036854775808 -9223372036854775808 -9223372036854775808 123456789 8 1");
}

TEST(AscFormat, TheLongestNumbersFitTheRecord) {
    EXPECT_EQ(AscRecord(INT32_MIN, Track{INT64_MIN / 2, INT64_MIN, INT64_MAX / 2, INT64_MIN}, "123456789", "8"),
              "JTPOLY-2147483648          LINES    -4611686018427387904    -9223372036854775808   1\r\n"
              "OPEN   2   123456789  8\r\n"
              "0      0\r\n"
              "9223372036854775807     0");
}

TEST(AscFormat, HeaderRecordAndTrailer) {
    EXPECT_EQ(HeaderText(OutputFormat::Asc),
              "!PADS-POWERPCB-V2.1-MILS! DESIGN DATABASE ASCII FILE 1.0\r\n"
              "*LINES*      LINES ITEMS\r\n"
              "*REMARK*  NAME  TYPE  XLOC YLOC PIECES TEXT\r\n"
              "*REMARK*  PIECETYPE  CORNERS WIDTH LEVEL PINNUM\r\n"
              "*REMARK*  XLOC YLOC BEGINANGLE DELTAANGLE\r\n"
              "*REMARK*  XLOC YLOC ORI  LEVEL  HEIGHT WIDTH  MIRRORED\r\n");
    EXPECT_EQ(TrailerText(OutputFormat::Asc), "*END*     OF ASCII OUTPUT FILE\r\n");
    EXPECT_EQ(AscRecord(1, Track{0, 0, 5, 0}, "2", "1"),
              "JTPOLY00000001          LINES    0    0   1\r\n"
              "OPEN   2   2  1\r\n"
              "0      0\r\n"
              "5     0");
    EXPECT_EQ(AscRecord(123456789, Track{10, 20, 15, 20}, "", "6"),
              "JTPOLY123456789          LINES    10    20   1\r\n"
              "OPEN   2     6\r\n"
              "0      0\r\n"
              "5     0")
        << "numbers past eight digits print in full; an empty width leaves its blanks";
    EXPECT_EQ(AscRecord(7, Track{-5, -8, -2, -8}, "2", "0"),
              "JTPOLY00000007          LINES    -5    -8   1\r\n"
              "OPEN   2   2  0\r\n"
              "0      0\r\n"
              "3     0");
}

TEST(RecordLines, AppendTheRecordAndItsLineEnd) {
    std::string out = "x";
    AppendRecordLine(out, OutputFormat::Pcb, 0, Track{1, 2, 3, 2}, "2", "1");
    AppendRecordLine(out, OutputFormat::Asc, 2, Track{1, 2, 3, 2}, "2", "1");
    EXPECT_EQ(out, "x" + PcbRecord(Track{1, 2, 3, 2}, "2", "1") + "\r\n" +
                       AscRecord(2, Track{1, 2, 3, 2}, "2", "1") + "\r\n");
    std::string longWidth(3000, '9');
    std::string big;
    AppendPcbRecordLine(big, Track{1, 1, 1, 1}, longWidth, "1");
    EXPECT_EQ(big, "FT\r\n1 1 1 1 " + longWidth + " 1 1\r\n") << "width text of any length";
}
