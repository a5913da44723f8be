// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion job with tolerant matching: the class-map path writes
// exactly what the exact path writes for the same pixels, for every
// format and order, and options are checked before any file is touched.
#include "common/Error.h"
#include "support/Pixels.h"
#include "job/ConversionJob.h"
#include "job/SimpleOwner.h"
#include "support/Files.h"
#include "trace/ColorMatch.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace rastrace;

namespace {

constexpr uint32_t kA = 0x2060C0, kB = 0x80A0E0, kC = 0x303030;

using test::SetPixel;

// Blocks of three colours, each pixel nudged by up to noise on every channel.
std::shared_ptr<const Raster> Picture(int noise, uint32_t seed = 1) {
    auto raster = std::make_shared<Raster>(123, 57);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> nudge(-noise, noise);
    for (int32_t y = 0; y < raster->Height(); ++y) {
        for (int32_t x = 0; x < raster->Width(); ++x) {
            const uint32_t base = ((x / 7 + y / 5) % 3 == 0) ? kA : ((x / 3 + y) % 4 == 0) ? kB : kC;
            uint32_t c = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                c |= static_cast<uint32_t>(std::clamp(static_cast<int>(base >> shift & 0xFF) + nudge(random), 0, 255))
                     << shift;
            }
            SetPixel(*raster, x, y, c);
        }
    }
    return raster;
}

class ColorMatchJob : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path_); }

    // The file a conversion of raster writes.
    std::string Convert(const std::shared_ptr<const Raster>& raster, OutputFormat format, bool grouped,
                        const MatchOptions& match, std::vector<std::string> colors = {std::to_string(kA), std::to_string(kB)}) {
        SimpleOwner owner;
        ConversionRequest request;
        request.format = format;
        request.outputPath = path_;
        request.colorTexts = std::move(colors);
        request.groupByColor = grouped;
        request.match = match;
        ConversionJob job(owner, raster);
        EXPECT_TRUE(job.Start(request));
        job.RunToCompletion();
        EXPECT_FALSE(owner.Failure()) << *owner.Failure();
        return test::ReadBytes(path_);
    }

    std::string path_ = ::testing::TempDir() + "colormatch_job_" + std::to_string(getpid()) + ".out";
};

TEST_F(ColorMatchJob, MatchingPathsWriteTheExactPathsBytes) {
    // Speckle size 1 removes nothing but matches: rows one at a time for
    // up to two colours, through a class map for more.
    MatchOptions viaMap;
    viaMap.despeckle = 1;
    MatchOptions backgroundOnly;
    backgroundOnly.backgroundColors = {kA, kC};
    const auto raster = Picture(0);
    for (OutputFormat format : {OutputFormat::Pcb, OutputFormat::Asc}) {
        // Records of several colours in order of arrival interleave as the
        // workers run: that order is compared with one colour.
        const std::vector<std::string> one = {std::to_string(kB)};
        const std::vector<std::string> two = {std::to_string(kA), std::to_string(kB)};
        const std::vector<std::string> three = {std::to_string(kA), std::to_string(kB), std::to_string(kC)};
        for (const auto& [grouped, colors] : {std::pair{false, one}, std::pair{true, two}, std::pair{true, three}}) {
            const std::string exact = Convert(raster, format, grouped, MatchOptions{}, colors);
            ASSERT_GT(exact.size(), 1000u);
            EXPECT_EQ(Convert(raster, format, grouped, viaMap, colors), exact);
            // With tolerance 0 background colours change nothing.
            EXPECT_EQ(Convert(raster, format, grouped, backgroundOnly, colors), exact);
        }
    }
}

TEST_F(ColorMatchJob, ToleranceTracesTheMatchedPixelsAsTheirColour) {
    // The noisy picture traced with a tolerance writes what the clean
    // picture writes exactly: the noise (at most 9 per channel, 15.6 in
    // all) is within the tolerance, the other colours far outside it.
    MatchOptions match;
    match.tolerance = 16;
    const std::vector<std::string> three = {std::to_string(kA), std::to_string(kB), std::to_string(kC)};
    for (OutputFormat format : {OutputFormat::Pcb, OutputFormat::Asc}) {
        const std::string clean = Convert(Picture(0), format, true, MatchOptions{});
        EXPECT_EQ(Convert(Picture(9, 5), format, true, match), clean);
        EXPECT_NE(Convert(Picture(9, 5), format, true, MatchOptions{}), clean);
        // Three colours go through the class map.
        EXPECT_EQ(Convert(Picture(9, 5), format, true, match, three), Convert(Picture(0), format, true, {}, three));
    }
}

TEST_F(ColorMatchJob, BadOptionsThrowBeforeTheFileIsTouched) {
    test::WriteBytes(path_, "keep");
    SimpleOwner owner;
    ConversionJob job(owner, Picture(0));
    ConversionRequest request;
    request.outputPath = path_;
    request.colorTexts = {"1"};
    request.match.tolerance = 443;
    EXPECT_THROW(job.Start(request), Error);
    request.match.tolerance = 0;
    request.match.despeckle = -1;
    EXPECT_THROW(job.Start(request), Error);
    request.match.despeckle = 2;
    request.colorTexts.assign(256, "1");
    EXPECT_THROW(job.Start(request), Error);
    EXPECT_FALSE(job.Running());
    EXPECT_EQ(test::ReadBytes(path_), "keep");
}

TEST_F(ColorMatchJob, AMapThatCannotBeHadFailsEveryColourOnceAndLeavesNoFile) {
    const auto raster = Picture(0);  // 7011 pixels
    SimpleOwner owner;
    {
        ConversionJob job(owner, raster);
        ConversionRequest request;
        request.outputPath = path_;
        request.colorTexts = {std::to_string(kA), std::to_string(kB)};
        request.match.tolerance = 5;
        request.match.despeckle = 2;  // speckle removal needs the whole map
        request.match.memoryLimit = 7000;
        ASSERT_TRUE(job.Start(request));
        job.RunToCompletion();
    }
    ASSERT_TRUE(owner.Failure());
    EXPECT_EQ(*owner.Failure(), "Out of memory");
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(ColorMatchJob, StopWhileTheMapIsBuiltLeavesNoFile) {
    auto raster = std::make_shared<Raster>(600, 2000);
    for (int round = 0; round < 3; ++round) {
        SimpleOwner owner;
        ConversionJob job(owner, raster);
        ConversionRequest request;
        request.outputPath = path_;
        request.colorTexts = {"0", "1", "2"};
        request.match.tolerance = 30;
        request.match.despeckle = 5;
        ASSERT_TRUE(job.Start(request));
        job.Stop();
        EXPECT_FALSE(std::filesystem::exists(path_));
    }
}

}  // namespace
