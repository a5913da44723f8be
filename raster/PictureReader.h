// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a picture file of any kind Rastrace knows (BMP, PNG, TIFF, JPEG)
// into the 24-bit raster, with the resolution the file states.
//
// The one fact a caller must know: the kind is recognised by the file's
// first bytes, never by its name, and a load either returns a complete new
// picture or throws Error; nothing the caller holds is touched on failure.
//
// BMP files (and anything that is not PNG, TIFF or JPEG) go to the bitmap
// reader unchanged, with its own messages. The other kinds fail with one
// message naming the kind and the library's reason, e.g.
// "Cannot read PNG file: <reason>", or "Out of memory" for a picture larger
// than the memory limit (by default the memory available now).
//
// Every kind becomes the same 24-bit raster: 1- to 16-bit channels; grey,
// grey with alpha, palette, RGB and RGB with alpha (TIFF: also any other
// photometric libtiff can turn into RGB, such as CMYK or YCbCr; JPEG: grey,
// YCbCr, RGB and CMYK). Alpha is ignored: the colour channels are kept as
// stored. A 16-bit sample v becomes the nearest 8-bit value,
// (v * 255 + 32767) / 65535, which is round(v / 257); samples of 1, 2 or 4
// bits are spread over 0..255 (v * 255 / (2^bits - 1)); TIFF palette
// entries, 16 bits wide, keep their high byte, as libtiff gives them. TIFF
// and JPEG pictures come as viewers show them: turned or mirrored as their
// Orientation tag says (a JPEG's in its EXIF block).
#pragma once

#include "raster/BmpReader.h"
#include "raster/Raster.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rastrace {

enum class PictureFormat { Bmp, Png, Tiff, Jpeg };

enum class Axis { X, Y };

// What a file says of its picture besides the pixels.
struct PictureFacts {
    PictureFormat format = PictureFormat::Bmp;
    // The resolution the file states, in whole dots per inch, per axis;
    // empty where the file states none, or one that rounds to 0 dpi.
    std::optional<int32_t> dpiX;
    std::optional<int32_t> dpiY;
    // A BMP file that ended before its pixel data did, or a JPEG whose
    // data was damaged: the reader filled in the missing pixels.
    bool truncated = false;
};

struct Picture : PictureFacts {
    Raster raster;  // always 24 bits per pixel
};

// The kind the first bytes of a file say it is: PNG's 8-byte signature,
// TIFF's "II*\0" or "MM\0*" (BigTIFF's "II+\0" / "MM\0+" too), JPEG's
// FF D8 FF. Anything else is Bmp: the bitmap reader decides about it.
PictureFormat RecognizeFormat(std::span<const uint8_t> head);

// What a bitmap's header says: its resolution and whether the file ended early.
PictureFacts BitmapFacts(const BitmapInfoHeader& header, bool truncated);

// Reads the file at path. A regular file is read in place; a file that is
// not regular (a pipe) is read into memory first, at most the memory limit
// of limits ("Out of memory" beyond), or refused when limits say so.
Picture ReadPictureFile(const std::string& path, const ReadLimits& limits = {});

// The bytes of an open file that is not regular (a pipe), read to its end
// as ReadPictureFile reads it: at most the memory limit of limits ("Out of
// memory" beyond; "Stream read error" on a read error), and only the first
// bytes of one that is no known kind, which are enough to refuse it.
std::vector<uint8_t> ReadStreamBytes(int fd, const ReadLimits& limits = {});

// Reads a picture held in memory; the same readers as ReadPictureFile.
Picture ReadPictureMemory(std::span<const uint8_t> bytes, const ReadLimits& limits = {});

// The resolution the picture's file states on one axis, if any: what
// "auto" resolution takes.
std::optional<int32_t> StatedDpi(const PictureFacts& picture, Axis axis);

// StatedDpi, or Error("The picture file states no X resolution") (Y for
// the Y axis) when the file states none.
int32_t RequireStatedDpi(const PictureFacts& picture, Axis axis);

// Conversions of the units files state resolutions in to whole dpi, rounded
// to the nearest (half away from zero). Empty for a value that is not a
// number, below 0.5 dpi, or beyond 32-bit range.
std::optional<int32_t> DpiFromPixelsPerMetre(double pixelsPerMetre);
std::optional<int32_t> DpiFromPixelsPerCentimetre(double pixelsPerCentimetre);
std::optional<int32_t> DpiFromPixelsPerInch(double pixelsPerInch);

// File-name patterns of each kind, for an open dialog's type list.
struct PictureFileType {
    std::string_view family;                 // "BMP", "PNG", "TIFF", "JPEG"
    std::vector<std::string_view> patterns;  // "*.png", ...
};
const std::vector<PictureFileType>& PictureFileTypes();

}  // namespace rastrace
