// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/RealBoardBench.h"

#include "common/Error.h"
#include "raster/PictureReader.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace rastrace::bench {

ScannerModel ScannerAt(double dpi) {
    ScannerModel model;
    if (dpi >= 1200) model.blurOrder = 8;
    return model;
}

ScannedRealBoard ScanRealBoard(const RealBoardOptions& options) {
    RealBoard drawn = DrawRealBoard(options);
    ScannedRealBoard board;
    board.scan = std::move(drawn.picture);
    board.surface = std::move(drawn.surface);
    board.copper = std::move(drawn.copper);
    board.dpi = options.dpi;
    ApplyScanner(board.scan, ScannerAt(options.dpi), options.seed, options.dpi);
    return board;
}

namespace {

// 1 where the (2r+1)-square around the pixel lies wholly in the picture and
// has surface s: the surface eroded by r, across rows and then down columns.
std::vector<uint8_t> Interior(const std::vector<uint8_t>& surface, int32_t w, int32_t h, uint8_t s, int32_t r) {
    std::vector<int32_t> across(surface.size());
    for (int32_t y = 0; y < h; ++y) {
        // The length of the run of s ending at each pixel and starting at it.
        std::vector<int32_t> left(static_cast<size_t>(w)), right(static_cast<size_t>(w));
        const uint8_t* row = surface.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int32_t x = 0; x < w; ++x) left[static_cast<size_t>(x)] = row[x] == s ? (x > 0 ? left[static_cast<size_t>(x - 1)] : 0) + 1 : 0;
        for (int32_t x = w - 1; x >= 0; --x) right[static_cast<size_t>(x)] = row[x] == s ? (x + 1 < w ? right[static_cast<size_t>(x + 1)] : 0) + 1 : 0;
        for (int32_t x = 0; x < w; ++x) {
            across[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
                left[static_cast<size_t>(x)] > r && right[static_cast<size_t>(x)] > r;
        }
    }
    std::vector<uint8_t> inside(surface.size(), 0);
    for (int32_t x = 0; x < w; ++x) {
        int32_t run = 0;
        std::vector<int32_t> up(static_cast<size_t>(h));
        for (int32_t y = 0; y < h; ++y) {
            run = across[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] ? run + 1 : 0;
            up[static_cast<size_t>(y)] = run;
        }
        run = 0;
        for (int32_t y = h - 1; y >= 0; --y) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
            run = across[i] ? run + 1 : 0;
            inside[i] = up[static_cast<size_t>(y)] > r && run > r;
        }
    }
    return inside;
}

}  // namespace

std::vector<Click> UserClicks(const ScannedRealBoard& board) {
    const int32_t w = board.scan.Width(), h = board.scan.Height();
    const int32_t reach = std::max<int32_t>(1, static_cast<int32_t>(3 * board.dpi / 600 + 0.5));
    std::vector<Click> clicks;
    for (int s = 0; s < kSurfaceCount; ++s) {
        std::vector<uint8_t> inside;
        int64_t count = 0;
        for (int32_t r = reach; r >= 1 && count < 25; --r) {
            inside = Interior(board.surface, w, h, static_cast<uint8_t>(s), r);
            count = std::count(inside.begin(), inside.end(), 1);
        }
        if (count == 0) continue;
        const uint32_t median = MedianColor(board.scan, inside);
        Click click{static_cast<Surface>(s), 0, -1, -1};
        int64_t best = -1;
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                if (!inside[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)]) continue;
                const uint32_t c = board.scan.PixelColor(x, y);
                int64_t d = 0;
                for (int shift = 0; shift < 24; shift += 8) {
                    const int64_t e = static_cast<int64_t>(c >> shift & 0xFF) - static_cast<int64_t>(median >> shift & 0xFF);
                    d += e * e;
                }
                if (best < 0 || d < best) {
                    best = d;
                    click.color = c;
                    click.x = x;
                    click.y = y;
                }
            }
        }
        clicks.push_back(click);
    }
    return clicks;
}

std::string HexColor(uint32_t packed) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", packed & 0xFF, packed >> 8 & 0xFF, packed >> 16 & 0xFF);
    return text;
}

namespace {

// The libpng calls, apart from any object with a destructor: libpng reports
// failure by longjmp back to here. rgb holds 3 * width bytes.
bool EncodePng(png_structp png, png_infop info, FILE* file, const Raster& raster, uint8_t* rgb, double dpi) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(raster.Width()), static_cast<png_uint_32>(raster.Height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const auto perMetre = static_cast<png_uint_32>(dpi / 0.0254 + 0.5);
    png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    const size_t bytes = static_cast<size_t>(raster.Width()) * 3;
    for (int32_t y = 0; y < raster.Height(); ++y) {
        const uint8_t* p = raster.RowBytes(y).data();
        for (size_t x = 0; x < bytes; x += 3) {  // blue, green, red to red, green, blue
            rgb[x] = p[x + 2];
            rgb[x + 1] = p[x + 1];
            rgb[x + 2] = p[x];
        }
        png_write_row(png, rgb);
    }
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

void WritePng(const Raster& raster, const std::string& path, double dpi) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw Error("Cannot create " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> rgb(static_cast<size_t>(raster.Width()) * 3);
    const bool ok = info != nullptr && EncodePng(png, info, file, raster, rgb.data(), dpi);
    png_destroy_write_struct(&png, &info);
    const bool closed = std::fclose(file) == 0;
    if (!ok || !closed) throw Error("Cannot write " + path);
}

std::vector<uint8_t> ReadPreviewMask(const std::string& path, int32_t width, int32_t height) {
    const Picture picture = ReadPictureFile(path);
    if (picture.raster.Width() != width || picture.raster.Height() != height) {
        throw Error("The preview " + path + " is not " + std::to_string(width) + " x " + std::to_string(height));
    }
    std::vector<uint8_t> mask(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* p = picture.raster.RowBytes(y).data();
        for (int32_t x = 0; x < width; ++x, p += 3) {
            mask[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = PackColor(p) != 0xFFFFFF;
        }
    }
    return mask;
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::vector<std::string> PreviewArguments(const std::vector<Click>& clicks, bool boardRule, int32_t tolerance,
                                          int32_t despeckle, const std::string& input, const std::string& preview) {
    // The resolution as the file states it, as a user who knows it would give it: the board
    // rule's stroke width, blend radius and speck size follow it.
    std::vector<std::string> args = {"-q", "--preview", preview, "-x", "auto", "-y", "auto"};
    if (boardRule) {
        args.push_back("-r");
        args.push_back("board");
    }
    for (const Click& c : clicks) {
        const char* option = ShowsCopper(c.surface) ? "-c" : c.surface == Surface::Hole && boardRule ? "-H" : "-b";
        args.push_back(option);
        args.push_back(HexColor(c.color));
    }
    if (tolerance >= 0) args.push_back("-t" + std::to_string(tolerance));
    if (despeckle > 0) args.push_back("-s" + std::to_string(despeckle));
    args.push_back(input);
    return args;
}

}  // namespace rastrace::bench
