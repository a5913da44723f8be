// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/PictureWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace rastrace::test {

namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("test picture writer: " + what); }

// Packs one row of samples at depth bits each, most significant bits first
// (16 bits big-endian), as PNG and TIFF store them.
std::vector<uint8_t> PackRow(const uint16_t* samples, size_t count, int depth, bool bigEndian16) {
    std::vector<uint8_t> out((count * static_cast<size_t>(depth) + 7) / 8);
    for (size_t i = 0; i < count; ++i) {
        const uint16_t v = samples[i];
        if (depth == 16) {
            out[2 * i] = static_cast<uint8_t>(bigEndian16 ? v >> 8 : v & 0xFF);
            out[2 * i + 1] = static_cast<uint8_t>(bigEndian16 ? v & 0xFF : v >> 8);
        } else if (depth == 8) {
            out[i] = static_cast<uint8_t>(v);
        } else {
            const size_t bit = i * static_cast<size_t>(depth);
            out[bit / 8] |= static_cast<uint8_t>(v << (8 - depth - static_cast<int>(bit % 8)));
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// PNG

void OnPngWrite(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void OnPngFlush(png_structp /*png*/) {}
void OnPngError(png_structp /*png*/, png_const_charp message) {
    // A writer error is a fault of the test itself: stop at once (no
    // exception may unwind through libpng).
    std::fprintf(stderr, "test picture writer: libpng: %s\n", message);
    std::abort();
}

// ---------------------------------------------------------------------------
// TIFF written into a growing block of memory.

struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
};

MemoryFile& FileOf(thandle_t handle) { return *static_cast<MemoryFile*>(handle); }

tmsize_t OnTiffRead(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile& file = FileOf(handle);
    if (file.position >= file.bytes.size()) return 0;
    const size_t n = std::min<size_t>(static_cast<size_t>(size), file.bytes.size() - file.position);
    std::memcpy(buffer, file.bytes.data() + file.position, n);
    file.position += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t OnTiffWrite(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile& file = FileOf(handle);
    const size_t end = file.position + static_cast<size_t>(size);
    if (file.bytes.size() < end) file.bytes.resize(end);
    std::memcpy(file.bytes.data() + file.position, buffer, static_cast<size_t>(size));
    file.position = end;
    return size;
}
toff_t OnTiffSeek(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& file = FileOf(handle);
    if (whence == SEEK_CUR) offset += file.position;
    if (whence == SEEK_END) offset += file.bytes.size();
    file.position = offset;
    return offset;
}
int OnTiffClose(thandle_t /*handle*/) { return 0; }
toff_t OnTiffSize(thandle_t handle) { return FileOf(handle).bytes.size(); }
int OnTiffMap(thandle_t /*handle*/, tdata_t* /*base*/, toff_t* /*size*/) { return 0; }
void OnTiffUnmap(thandle_t /*handle*/, tdata_t /*base*/, toff_t /*size*/) {}

// The samples of rows [top, top + rows) and columns [left, left + columns),
// only plane `plane` of them when plane >= 0, packed as TIFF stores them;
// pixels outside the picture are zero.
std::vector<uint8_t> TiffBlock(const TiffPicture& p, uint32_t top, uint32_t rows, uint32_t left, uint32_t columns,
                               int plane) {
    const size_t perPixel = plane >= 0 ? 1 : p.samplesPerPixel;
    std::vector<uint8_t> block;
    std::vector<uint16_t> line(columns * perPixel);
    for (uint32_t y = top; y < top + rows; ++y) {
        std::fill(line.begin(), line.end(), 0);
        for (uint32_t x = left; x < left + columns && y < p.height && x < p.width; ++x) {
            const size_t at = (static_cast<size_t>(y) * p.width + x) * p.samplesPerPixel;
            for (size_t s = 0; s < perPixel; ++s) {
                line[(x - left) * perPixel + s] = p.samples[at + (plane >= 0 ? static_cast<size_t>(plane) : s)];
            }
        }
        const std::vector<uint8_t> packed = PackRow(line.data(), line.size(), p.bitsPerSample, false);
        block.insert(block.end(), packed.begin(), packed.end());
    }
    return block;
}

// ---------------------------------------------------------------------------
// JPEG

void OnJpegError(j_common_ptr info) {
    char message[JMSG_LENGTH_MAX];
    info->err->format_message(info, message);
    std::fprintf(stderr, "test picture writer: libjpeg: %s\n", message);
    std::abort();
}

}  // namespace

std::vector<uint8_t> WritePng(const PngPicture& p) {
    const int channels = PngChannels(p.colourType);
    if (p.samples.size() != static_cast<size_t>(p.width) * p.height * static_cast<size_t>(channels)) Fail("PNG sample count");
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, OnPngWrite, OnPngFlush);
    png_set_IHDR(png, info, p.width, p.height, p.bitDepth, p.colourType,
                 p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (size_t i = 0; i + 2 < p.palette.size(); i += 3) palette.push_back({p.palette[i], p.palette[i + 1], p.palette[i + 2]});
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!p.paletteAlpha.empty()) {
        png_set_tRNS(png, info, p.paletteAlpha.data(), static_cast<int>(p.paletteAlpha.size()), nullptr);
    }
    if (p.xPerUnit && p.yPerUnit) png_set_pHYs(png, info, *p.xPerUnit, *p.yPerUnit, p.physUnit);
    png_write_info(png, info);
    std::vector<std::vector<uint8_t>> rows;
    std::vector<png_bytep> rowPointers;
    const size_t perRow = static_cast<size_t>(p.width) * static_cast<size_t>(channels);
    for (uint32_t y = 0; y < p.height; ++y) rows.push_back(PackRow(p.samples.data() + y * perRow, perRow, p.bitDepth, true));
    for (auto& row : rows) rowPointers.push_back(row.data());
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint8_t> WriteTiff(const TiffPicture& p) {
    if (p.samples.size() != static_cast<size_t>(p.width) * p.height * p.samplesPerPixel) Fail("TIFF sample count");
    MemoryFile file;
    TIFF* tif = TIFFClientOpen("test", "w", &file, OnTiffRead, OnTiffWrite, OnTiffSeek, OnTiffClose, OnTiffSize,
                               OnTiffMap, OnTiffUnmap);
    if (tif == nullptr) Fail("TIFFClientOpen");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.samplesPerPixel);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bitsPerSample);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, p.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, p.orientation);
    if (!p.colormap.empty()) {
        const size_t n = p.colormap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, p.colormap.data(), p.colormap.data() + n, p.colormap.data() + 2 * n);
    }
    if (!p.extraSamples.empty()) {
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(p.extraSamples.size()), p.extraSamples.data());
    }
    if (p.xResolution) TIFFSetField(tif, TIFFTAG_XRESOLUTION, *p.xResolution);
    if (p.yResolution) TIFFSetField(tif, TIFFTAG_YRESOLUTION, *p.yResolution);
    if (p.resolutionUnit) TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, *p.resolutionUnit);
    const bool tiled = p.tileWidth != 0 && p.tileLength != 0;
    const int planes = p.planar == PLANARCONFIG_SEPARATE ? p.samplesPerPixel : 1;
    bool ok = true;
    if (tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, p.tileWidth);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, p.tileLength);
        for (int plane = 0; plane < planes; ++plane) {
            for (uint32_t y = 0; y < p.height; y += p.tileLength) {
                for (uint32_t x = 0; x < p.width; x += p.tileWidth) {
                    std::vector<uint8_t> block =
                        TiffBlock(p, y, p.tileLength, x, p.tileWidth, planes > 1 ? plane : -1);
                    ok = ok && TIFFWriteTile(tif, block.data(), x, y, 0, static_cast<uint16_t>(plane)) >= 0;
                }
            }
        }
    } else {
        const uint32_t rowsPerStrip = p.rowsPerStrip != 0 ? p.rowsPerStrip : p.height;
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        uint32_t strip = 0;
        for (int plane = 0; plane < planes; ++plane) {
            for (uint32_t y = 0; y < p.height; y += rowsPerStrip, ++strip) {
                const uint32_t rows = std::min(rowsPerStrip, p.height - y);
                std::vector<uint8_t> block = TiffBlock(p, y, rows, 0, p.width, planes > 1 ? plane : -1);
                ok = ok && TIFFWriteEncodedStrip(tif, strip, block.data(), static_cast<tmsize_t>(block.size())) >= 0;
            }
        }
    }
    ok = ok && TIFFWriteDirectory(tif) != 0;
    TIFFClose(tif);
    if (!ok) Fail("TIFF write");
    return file.bytes;
}

std::vector<uint8_t> WriteJpeg(const JpegPicture& p) {
    if (p.samples.size() != static_cast<size_t>(p.width) * p.height * static_cast<size_t>(p.components)) {
        Fail("JPEG sample count");
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    error.error_exit = OnJpegError;
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = p.width;
    info.image_height = p.height;
    info.input_components = p.components;
    info.in_color_space = p.components == 1 ? JCS_GRAYSCALE : p.components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, p.quality, TRUE);
    if (p.progressive) jpeg_simple_progression(&info);
    std::vector<jpeg_scan_info> scans;
    if (p.manyScans) {
        // The DC band and each of the 63 AC bands in ten scans: the top bits
        // first, then one refinement bit at a time.
        for (int band = 0; band < 64; ++band) {
            for (int bit = 9; bit >= 0; --bit) {
                jpeg_scan_info scan{};
                scan.comps_in_scan = 1;
                scan.component_index[0] = 0;
                scan.Ss = band;
                scan.Se = band;
                scan.Ah = bit == 9 ? 0 : bit + 1;
                scan.Al = bit;
                scans.push_back(scan);
            }
        }
        info.scan_info = scans.data();
        info.num_scans = static_cast<int>(scans.size());
    }
    info.write_JFIF_header = p.components != 4 ? TRUE : FALSE;
    info.density_unit = static_cast<UINT8>(p.densityUnit);
    info.X_density = p.xDensity;
    info.Y_density = p.yDensity;
    jpeg_start_compress(&info, TRUE);
    const size_t perRow = static_cast<size_t>(p.width) * static_cast<size_t>(p.components);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(p.samples.data() + info.next_scanline * perRow);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

std::vector<uint8_t> DecodeJpegRgb(const std::vector<uint8_t>& file) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    error.error_exit = OnJpegError;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), file.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    const size_t perRow = static_cast<size_t>(info.output_width) * 3;
    std::vector<uint8_t> out(perRow * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.data() + info.output_scanline * perRow;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return out;
}

std::vector<uint16_t> Samples(size_t count, int depth, uint32_t seed) {
    std::vector<uint16_t> out(count);
    uint32_t state = seed * 2654435761u + 1;
    const uint32_t mask = depth == 16 ? 0xFFFFu : (1u << depth) - 1;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        out[i] = static_cast<uint16_t>((state >> 8) & mask);
    }
    if (count > 1) {
        out[0] = 0;
        out[1] = static_cast<uint16_t>(mask);
    }
    return out;
}

int PngChannels(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY: return 1;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_PALETTE: return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: Fail("unknown PNG colour type");
    }
}

PngPicture PngOfCase(const PngCase& c, uint32_t width, uint32_t height, uint32_t seed) {
    PngPicture p;
    p.width = width;
    p.height = height;
    p.colourType = c.colourType;
    p.bitDepth = c.depth;
    p.interlaced = c.interlaced;
    p.samples = Samples(size_t{width} * height * static_cast<size_t>(PngChannels(c.colourType)), c.depth, seed);
    if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
        for (size_t i = 0; i < (size_t{1} << c.depth); ++i) {
            p.palette.insert(p.palette.end(), {static_cast<uint8_t>(i * 7 + 1), static_cast<uint8_t>(255 - i),
                                               static_cast<uint8_t>(i * 91)});
            p.paletteAlpha.push_back(static_cast<uint8_t>(i * 37));
        }
    }
    return p;
}

JpegPicture JpegGradient(uint32_t width, uint32_t height, int components) {
    JpegPicture p;
    p.width = width;
    p.height = height;
    p.components = components;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) p.samples.push_back(static_cast<uint8_t>(x * 9 + y * 5 + c * 70));
        }
    }
    return p;
}

TiffPicture TiffOfCase(const TiffCase& c, uint32_t width, uint32_t height, uint32_t seed) {
    TiffPicture p;
    p.width = width;
    p.height = height;
    p.photometric = c.photometric;
    p.samplesPerPixel = c.samplesPerPixel;
    p.bitsPerSample = c.bits;
    p.samples = Samples(size_t{width} * height * c.samplesPerPixel, c.bits, seed);
    if (c.photometric == PHOTOMETRIC_PALETTE) {
        const size_t entries = size_t{1} << c.bits;
        p.colormap.resize(3 * entries);
        for (size_t i = 0; i < entries; ++i) {
            p.colormap[i] = static_cast<uint16_t>((i * 7 + 1) % 256 * 257);
            p.colormap[entries + i] = static_cast<uint16_t>((255 - i % 256) * 257);
            p.colormap[2 * entries + i] = static_cast<uint16_t>(i * 91 % 256 * 257);
        }
    }
    const int colourSamples = c.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    for (int extra = colourSamples; extra < c.samplesPerPixel; ++extra) p.extraSamples.push_back(EXTRASAMPLE_UNASSALPHA);
    return p;
}

std::vector<uint8_t> RasterBytes(const Raster& raster) {
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < raster.Height(); ++y) {
        const auto row = raster.RowBytes(y);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

uint32_t PngCrc(const uint8_t* data, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

}  // namespace rastrace::test
