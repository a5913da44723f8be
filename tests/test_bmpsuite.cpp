// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the public BMP suite in place (never copied into the project): the
// good files must match the suite's reference pictures; the questionable
// and bad files must load or fail with one of the system's messages, and
// where the outcome is known it is pinned.
#include "common/Error.h"
#include "raster/BmpReader.h"
#include "support/PngReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace rastrace;
using rastrace::test::PngImage;
using rastrace::test::ReadPng;

namespace {

namespace fs = std::filesystem;

const fs::path kSuite = RASTRACE_BMPSUITE_DIR;

const std::string kStreamReadError = "Stream read error";
const std::string kNotValid = "Bitmap image is not valid";
const std::string kOutOfMemory = "Out of memory";

// Every file of one folder ("g", "q", "b") as "folder/name.bmp"; a single
// empty entry when the suite is absent, so the test can say so.
std::vector<std::string> SuiteFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kSuite / folder, ec)) {
        if (entry.path().extension() == ".bmp") files.push_back(folder + "/" + entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) files.push_back("");
    return files;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
    if (info.param.empty()) return "SuiteMissing";
    std::string name = fs::path(info.param).stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

// The reference pictures INDEX.txt names for each file ("reference: a.png,
// b.png" at the end of its line), keyed by "folder/name.bmp".
const std::map<std::string, std::vector<std::string>>& References() {
    static const std::map<std::string, std::vector<std::string>> references = [] {
        std::map<std::string, std::vector<std::string>> out;
        std::ifstream index(kSuite / "INDEX.txt");
        std::string line;
        while (std::getline(index, line)) {
            const size_t colon = line.find(".bmp:");
            const size_t ref = line.rfind("reference: ");
            if (colon == std::string::npos || ref == std::string::npos) continue;
            std::string list = line.substr(ref + 11);
            list = list.substr(0, list.find(']'));
            std::stringstream names(list);
            std::string name;
            auto& refs = out[line.substr(0, colon + 4)];
            while (std::getline(names, name, ',')) {
                name.erase(0, name.find_first_not_of(' '));
                refs.push_back(name);
            }
        }
        return out;
    }();
    return references;
}

// Empty when the raster shows the reference picture; otherwise what differs.
// Pixels the reference leaves transparent or half-transparent are not compared.
std::string Difference(const Raster& r, const PngImage& png) {
    if (r.Width() != png.width || r.Height() != png.height) {
        return "size " + std::to_string(r.Width()) + "x" + std::to_string(r.Height()) + ", reference " +
               std::to_string(png.width) + "x" + std::to_string(png.height);
    }
    for (int32_t y = 0; y < r.Height(); ++y) {
        const auto row = r.RowBytes(y);
        for (int32_t x = 0; x < r.Width(); ++x) {
            const uint8_t* want = png.Pixel(x, y);
            if (want[3] != 255) continue;
            const uint8_t* got = row.data() + 3 * x;
            if (got[2] != want[0] || got[1] != want[1] || got[0] != want[2]) {
                std::ostringstream text;
                text << "pixel " << x << "," << y << " is " << int(got[2]) << "," << int(got[1]) << "," << int(got[0])
                     << " (RGB), reference " << int(want[0]) << "," << int(want[1]) << "," << int(want[2]);
                return text.str();
            }
        }
    }
    return "";
}

// Compares with each of the given reference pictures in turn; passes when
// one of them matches.
void ExpectMatchesOneOf(const Raster& r, const std::string& folder, const std::vector<std::string>& references) {
    ASSERT_FALSE(references.empty()) << "no reference picture";
    std::string differences;
    for (const std::string& name : references) {
        const std::string difference = Difference(r, ReadPng(kSuite / folder / name));
        if (difference.empty()) return;
        differences += "\n  " + name + ": " + difference;
    }
    ADD_FAILURE() << "matches no reference picture:" << differences;
}

// The outcome of reading a file: "" when it loads, else the message.
std::string Outcome(const fs::path& path, Raster& raster) {
    try {
        raster = ReadBitmapFile(path.string());
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// What the reader does with the questionable and bad files whose outcome is
// known: the reference picture(s) it must show, or the message it must give.
struct Expected {
    std::vector<std::string> references;
    std::string message;
};

const std::map<std::string, Expected>& KnownOutcomes() {
    static const std::map<std::string, Expected> known = {
        // Questionable files this reader reads as their references show.
        {"q/pal1p1.bmp", {{"pal1p1.png"}, ""}},
        {"q/pal4rlecut.bmp", {{"pal4rlecut-0.png"}, ""}},      // skipped pixels: colour 0
        {"q/pal4rletrns.bmp", {{"pal4rletrns-0.png"}, ""}},
        {"q/pal8rlecut.bmp", {{"pal8rlecut-0.png"}, ""}},
        {"q/pal8rletrns.bmp", {{"pal8rletrns-0.png"}, ""}},
        {"q/pal8offs.bmp", {{"pal8.png"}, ""}},                // the offset field is honoured
        {"q/pal8os2-hs.bmp", {{"pal8.png"}, ""}},
        {"q/pal8os2-sz.bmp", {{"pal8.png"}, ""}},
        {"q/pal8os2v2-40sz.bmp", {{"pal8.png"}, ""}},
        {"q/pal8os2v2-sz.bmp", {{"pal8.png"}, ""}},
        {"q/pal8os2v2.bmp", {{"pal8.png"}, ""}},
        {"q/pal8oversizepal.bmp", {{"pal8.png"}, ""}},
        {"q/rgb16-231.bmp", {{"rgb16-231.png"}, ""}},
        {"q/rgb16-3103.bmp", {{"rgb16-3103.png"}, ""}},
        {"q/rgb16faketrns.bmp", {{"rgb16.png"}, ""}},
        {"q/rgb24largepal.bmp", {{"rgb24.png"}, ""}},
        {"q/rgb24lprof.bmp", {{"rgb24.png"}, ""}},
        {"q/rgb32-111110.bmp", {{}, ""}},  // the suite's picture rounds 11-bit channels down, this reader to nearest
        {"q/rgb32-xbgr.bmp", {{"rgb24.png"}, ""}},
        {"q/rgb32fakealpha.bmp", {{"rgb24.png"}, ""}},
        {"q/rgb32h52.bmp", {{"rgb24.png"}, ""}},
        {"q/rgba16-1924.bmp", {{"rgba16-1924.png"}, ""}},     // opaque pixels only
        {"q/rgba16-4444.bmp", {{"rgba16-4444.png"}, ""}},
        {"q/rgba16-5551.bmp", {{"rgba16-5551.png"}, ""}},
        {"q/rgba32-1010102.bmp", {{"rgba32-1010102.png"}, ""}},
        {"q/rgba32-1.bmp", {{"rgba32.png"}, ""}},
        {"q/rgba32-2.bmp", {{"rgba32.png"}, ""}},
        {"q/rgba32h56.bmp", {{"rgba32.png"}, ""}},
        // Questionable files it refuses.
        {"q/pal1huffmsb.bmp", {{}, kNotValid}},  // compression 3 on 1 bit: Huffman, not bit fields
        {"q/pal2.bmp", {{}, kNotValid}},
        {"q/pal2color.bmp", {{}, kNotValid}},
        {"q/pal8os2v2-16.bmp", {{}, kNotValid}},  // a 16-byte header
        {"q/rgb24jpeg.bmp", {{}, kNotValid}},
        {"q/rgb24png.bmp", {{}, kNotValid}},
        {"q/rgb24rle24.bmp", {{}, kNotValid}},
        {"q/rgba32abf.bmp", {{}, kNotValid}},
        {"q/rgba64.bmp", {{}, kNotValid}},
        // Bad files.
        {"b/badbitcount.bmp", {{}, kNotValid}},
        {"b/badpalettesize.bmp", {{}, kStreamReadError}},
        {"b/badplanes.bmp", {{}, kNotValid}},
        {"b/badwidth.bmp", {{}, kNotValid}},
        {"b/reallybig.bmp", {{}, kOutOfMemory}},
        {"b/rletopdown.bmp", {{}, kNotValid}},
        {"b/rgb16-880.bmp", {{"rgb16-880.png"}, ""}},
    };
    return known;
}

class SuiteFile : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam().empty()) {
            GTEST_SKIP() << "BMP suite not found at " << kSuite.string()
                         << " (expected beside the checkout as ../shared/bmpsuite)";
        }
    }
};

class GoodFile : public SuiteFile {};
class QuestionableFile : public SuiteFile {};
class BadFile : public SuiteFile {};

// Loads or fails with one of the system's messages, and meets its known
// outcome if it has one.
void CheckOutcome(const std::string& file) {
    Raster raster;
    const std::string outcome = Outcome(kSuite / file, raster);
    EXPECT_TRUE(outcome.empty() || outcome == kStreamReadError || outcome == kNotValid || outcome == kOutOfMemory)
        << "message: " << outcome;
    const auto known = KnownOutcomes().find(file);
    if (known == KnownOutcomes().end()) return;
    EXPECT_EQ(outcome, known->second.message);
    if (outcome.empty() && !known->second.references.empty() && test::PngSupported()) {
        ExpectMatchesOneOf(raster, fs::path(file).parent_path().string(), known->second.references);
    }
}

}  // namespace

TEST_P(GoodFile, MatchesItsReferencePicture) {
    Raster raster;
    ASSERT_EQ(Outcome(kSuite / GetParam(), raster), "");
    if (!test::PngSupported()) GTEST_SKIP() << "built without zlib: reference pictures cannot be read";
    const auto refs = References().find(GetParam());
    ASSERT_NE(refs, References().end()) << "INDEX.txt names no reference";
    ExpectMatchesOneOf(raster, "g", refs->second);
}

TEST_P(QuestionableFile, LoadsOrFailsWithAMessage) { CheckOutcome(GetParam()); }

TEST_P(BadFile, LoadsOrFailsWithAMessage) { CheckOutcome(GetParam()); }

INSTANTIATE_TEST_SUITE_P(BmpSuite, GoodFile, ::testing::ValuesIn(SuiteFiles("g")), TestName);
INSTANTIATE_TEST_SUITE_P(BmpSuite, QuestionableFile, ::testing::ValuesIn(SuiteFiles("q")), TestName);
INSTANTIATE_TEST_SUITE_P(BmpSuite, BadFile, ::testing::ValuesIn(SuiteFiles("b")), TestName);
