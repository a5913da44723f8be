// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Error.h"
#include "raster/Mirror.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rastrace;

namespace {

// Fills every pixel with a colour derived from its position, and every
// padding byte with 0xEE so tests can see that padding never moves.
void Paint(Raster& r) {
    for (int32_t y = 0; y < r.Height(); ++y) {
        auto row = r.RowBytes(y);
        for (int32_t x = 0; x < r.Width(); ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 7 + 1);
            row[3 * x + 1] = static_cast<uint8_t>(y * 11 + 2);
            row[3 * x + 2] = static_cast<uint8_t>(x + y * 3 + 3);
        }
        for (size_t p = row.size(); p < r.Stride(); ++p) row.data()[p] = 0xEE;
    }
}

std::vector<uint8_t> Storage(const Raster& r) {
    return std::vector<uint8_t>(r.StorageData(), r.StorageData() + r.StorageSize());
}

}  // namespace

TEST(Raster, StrideIsRowBytesRoundedToFour) {
    const std::pair<int, size_t> cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}};
    for (auto [w, stride] : cases) {
        Raster r(w, 2);
        EXPECT_EQ(r.Stride(), stride) << "width " << w;
        EXPECT_EQ(r.RowBytes(0).size(), static_cast<size_t>(w) * 3);
        EXPECT_EQ(r.StorageSize(), stride * 2);
    }
}

TEST(Raster, RowsFollowTheStorageOrder) {
    Raster bottomUp(3, 2, Raster::RowOrder::BottomUp);
    EXPECT_EQ(bottomUp.RowBytes(0).data(), bottomUp.StorageData() + 12) << "row 0 is the last stored row";
    EXPECT_EQ(bottomUp.RowBytes(1).data(), bottomUp.StorageData());
    Raster topDown(3, 2, Raster::RowOrder::TopDown);
    EXPECT_EQ(topDown.RowBytes(0).data(), topDown.StorageData());
    EXPECT_EQ(topDown.RowBytes(1).data(), topDown.StorageData() + 12);
}

TEST(Raster, PixelColorPacksBlueGreenRed) {
    Raster r(10, 3);
    auto row = r.RowBytes(1);
    row[6] = 0x12;
    row[7] = 0x34;
    row[8] = 0x56;
    EXPECT_EQ(r.PixelColor(2, 1), 0x00123456u);
    EXPECT_EQ(r.PixelColor(2, 1), 1193046u);
    row[0] = 0x00;
    row[1] = 0x00;
    row[2] = 0xFF;
    EXPECT_EQ(r.PixelColor(0, 1), 255u);
}

TEST(Raster, PointsOutsideGiveTheInvalidColour) {
    Raster r(4, 3);
    EXPECT_EQ(r.PixelColor(4, 0), kInvalidColor);
    EXPECT_EQ(r.PixelColor(-1, 0), kInvalidColor);
    EXPECT_EQ(r.PixelColor(0, 3), kInvalidColor);
    EXPECT_EQ(r.PixelColor(0, -1), kInvalidColor);
    const Raster empty;
    EXPECT_EQ(empty.PixelColor(0, 0), kInvalidColor);
    EXPECT_EQ(empty.Width(), 0);
    EXPECT_EQ(empty.Height(), 0);
}

TEST(Raster, RowOutsideTheRasterFails) {
    Raster r(4, 3);
    for (int32_t y : {-1, 3, INT32_MIN, INT32_MAX}) {
        try {
            (void)r.RowBytes(y);
            FAIL() << "row " << y;
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Scan line index out of range");
        }
    }
    const Raster empty;
    EXPECT_THROW((void)empty.RowBytes(0), Error);
}

TEST(Raster, SizesBeyondTheLimitAreOutOfMemory) {
    try {
        Raster r(100, 100, Raster::RowOrder::BottomUp, 1000);
        FAIL() << "allocated past the limit";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Out of memory");
    }
    EXPECT_NO_THROW(Raster(100, 100, Raster::RowOrder::BottomUp, 30000));
    EXPECT_THROW(Raster(INT32_MAX, INT32_MAX), Error);
    EXPECT_THROW(Raster(-1, 5), Error);
}

// Fresh pixel memory is only a mapping until written; a copy or a mirror
// makes it real, so it counts against the limit too.
TEST(Raster, CopiesAndMirrorsCountWhatTheyMakeReal) {
    Raster fresh(1000, 1000);  // 3 MB, never written
    const uint64_t size = fresh.StorageSize();
    EXPECT_EQ(fresh.UnbackedBytes(), size);
    for (auto mirror : {&MirrorHorizontal, &MirrorVertical}) {
        try {
            mirror(fresh, size - 1);
            ADD_FAILURE() << "mirrored past the limit";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Out of memory");
        }
    }
    EXPECT_EQ(fresh.UnbackedBytes(), size) << "a refused mirror touches nothing";
    EXPECT_THROW((void)fresh.Clone(2 * size - 1), Error) << "the copy and the picture itself";
    EXPECT_NO_THROW((void)fresh.Clone(2 * size));

    Paint(fresh);
    EXPECT_EQ(fresh.UnbackedBytes(), 0u);
    EXPECT_NO_THROW(MirrorHorizontal(fresh, 0)) << "nothing left to make real";
    EXPECT_THROW((void)fresh.Clone(size - 1), Error);
    const Raster copy = fresh.Clone(size);
    EXPECT_EQ(Storage(copy), Storage(fresh));
}

TEST(Raster, CloneIsADeepCopy) {
    Raster r(3, 2);
    Paint(r);
    Raster copy = r.Clone();
    EXPECT_EQ(Storage(copy), Storage(r));
    copy.RowBytes(0)[0] ^= 0xFF;
    EXPECT_NE(copy.PixelColor(0, 0), r.PixelColor(0, 0));
}

// Mirrors ----------------------------------------------------------------

class MirrorSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(MirrorSizes, HorizontalSwapsColumnsAndKeepsPadding) {
    auto [w, h] = GetParam();
    Raster r(w, h);
    Paint(r);
    const Raster before = r.Clone();
    MirrorHorizontal(r);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) EXPECT_EQ(r.PixelColor(x, y), before.PixelColor(w - 1 - x, y));
        for (size_t p = static_cast<size_t>(w) * 3; p < r.Stride(); ++p) EXPECT_EQ(r.RowBytes(y).data()[p], 0xEE);
    }
    MirrorHorizontal(r);
    EXPECT_EQ(Storage(r), Storage(before)) << "twice restores the raster byte for byte";
}

TEST_P(MirrorSizes, VerticalSwapsRowsAndKeepsPadding) {
    auto [w, h] = GetParam();
    Raster r(w, h);
    Paint(r);
    const Raster before = r.Clone();
    MirrorVertical(r);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) EXPECT_EQ(r.PixelColor(x, y), before.PixelColor(x, h - 1 - y));
        for (size_t p = static_cast<size_t>(w) * 3; p < r.Stride(); ++p) EXPECT_EQ(r.RowBytes(y).data()[p], 0xEE);
    }
    MirrorVertical(r);
    EXPECT_EQ(Storage(r), Storage(before));
}

INSTANTIATE_TEST_SUITE_P(Sizes, MirrorSizes,
                         ::testing::Values(std::pair{1, 1}, std::pair{1, 4}, std::pair{2, 1}, std::pair{3, 5},
                                           std::pair{4, 4}, std::pair{5, 2}, std::pair{10, 3}),
                         [](const ::testing::TestParamInfo<std::pair<int, int>>& info) {
                             return "Width" + std::to_string(info.param.first) + "_Height" +
                                    std::to_string(info.param.second);
                         });

TEST(Mirror, APixelsBytesMoveTogether) {
    Raster r(10, 1);
    auto row = r.RowBytes(0);
    std::fill(row.begin(), row.end(), 0);
    row[0] = 0x12;
    row[1] = 0x34;
    row[2] = 0x56;
    MirrorHorizontal(r);
    EXPECT_EQ(r.RowBytes(0)[27], 0x12);
    EXPECT_EQ(r.RowBytes(0)[28], 0x34);
    EXPECT_EQ(r.RowBytes(0)[29], 0x56);
    EXPECT_EQ(r.PixelColor(9, 0), 0x00123456u);
}

TEST(Mirror, BothOrdersGiveTheHalfTurn) {
    Raster a(5, 3);
    Paint(a);
    Raster b = a.Clone();
    MirrorHorizontal(a);
    MirrorVertical(a);
    MirrorVertical(b);
    MirrorHorizontal(b);
    EXPECT_EQ(Storage(a), Storage(b));
}

TEST(Mirror, EmptyRasterIsLeftAlone) {
    Raster empty;
    EXPECT_NO_THROW(MirrorHorizontal(empty));
    EXPECT_NO_THROW(MirrorVertical(empty));
    Raster noColumns(0, 3);
    EXPECT_NO_THROW(MirrorHorizontal(noColumns));
    EXPECT_NO_THROW(MirrorVertical(noColumns));
}
