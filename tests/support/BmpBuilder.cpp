// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/BmpBuilder.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace rastrace::test {

namespace {

void PutU16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
    out.resize(out.size() + 4);
    PutU32(out, out.size() - 4, v);
}

std::vector<uint8_t> InfoHeaderBytes(const BmpBuilder& b) {
    if (b.headerSize == 12) {
        std::vector<uint8_t> h(12);
        PutU32(h, 0, 12);
        PutU16(h, 4, static_cast<uint16_t>(b.width));
        PutU16(h, 6, static_cast<uint16_t>(b.height));
        PutU16(h, 8, b.planes);
        PutU16(h, 10, b.bitCount);
        return h;
    }
    std::vector<uint8_t> h(std::max<size_t>(b.headerSize, 56));
    PutU32(h, 0, b.headerSize);
    PutU32(h, 4, static_cast<uint32_t>(b.width));
    PutU32(h, 8, static_cast<uint32_t>(b.height));
    PutU16(h, 12, b.planes);
    PutU16(h, 14, b.bitCount);
    PutU32(h, 16, b.compression);
    PutU32(h, 20, b.sizeImage);
    PutU32(h, 24, static_cast<uint32_t>(b.xPelsPerMeter));
    PutU32(h, 28, static_cast<uint32_t>(b.yPelsPerMeter));
    PutU32(h, 32, b.clrUsed);
    PutU32(h, 36, b.clrImportant);
    if (b.masks && b.headerSize >= 52) {
        for (int i = 0; i < 4; ++i) PutU32(h, 40 + 4 * i, (*b.masks)[i]);  // cut below to the header size
    }
    h.resize(std::max<uint32_t>(b.headerSize, 4));
    return h;
}

}  // namespace

std::vector<uint8_t> BmpBuilder::Build() const {
    std::vector<uint8_t> out(14);
    for (size_t i = 0; i < 2 && i < magic.size(); ++i) out[i] = static_cast<uint8_t>(magic[i]);

    const std::vector<uint8_t> header = InfoHeaderBytes(*this);
    out.insert(out.end(), header.begin(), header.end());
    if (masks && headerSize < 52) {
        for (int i = 0; i < 3; ++i) AppendU32(out, (*masks)[i]);
    }
    for (const uint32_t entry : palette) {
        out.push_back(static_cast<uint8_t>(entry));
        out.push_back(static_cast<uint8_t>(entry >> 8));
        out.push_back(static_cast<uint8_t>(entry >> 16));
        if (headerSize != 12) out.push_back(0);
    }
    out.insert(out.end(), gap.begin(), gap.end());
    const size_t pixelStart = out.size();
    out.insert(out.end(), pixels.begin(), pixels.end());

    PutU32(out, 2, fileSize.value_or(static_cast<uint32_t>(out.size())));
    PutU32(out, 10, offBits.value_or(static_cast<uint32_t>(pixelStart)));
    return out;
}

std::vector<uint8_t> PackRows(const std::vector<std::vector<uint32_t>>& rows, unsigned bitCount) {
    std::vector<uint8_t> out;
    for (const auto& row : rows) {
        const size_t stride = (row.size() * bitCount + 31) / 32 * 4;
        std::vector<uint8_t> bytes(stride);
        for (size_t x = 0; x < row.size(); ++x) {
            const uint32_t v = row[x];
            switch (bitCount) {
                case 1: case 2: case 4: {
                    const size_t bit = x * bitCount;
                    bytes[bit / 8] |= static_cast<uint8_t>(v << (8 - bitCount - bit % 8));
                    break;
                }
                case 8: bytes[x] = static_cast<uint8_t>(v); break;
                case 16: bytes[2 * x] = static_cast<uint8_t>(v); bytes[2 * x + 1] = static_cast<uint8_t>(v >> 8); break;
                case 24:
                    bytes[3 * x] = static_cast<uint8_t>(v);
                    bytes[3 * x + 1] = static_cast<uint8_t>(v >> 8);
                    bytes[3 * x + 2] = static_cast<uint8_t>(v >> 16);
                    break;
                case 32: PutU32(bytes, 4 * x, v); break;
                default: throw std::invalid_argument("PackRows: unsupported bit count");
            }
        }
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

std::vector<uint8_t> Bmp24FromPacked(const std::vector<std::vector<uint32_t>>& rowsTopFirst) {
    std::vector<std::vector<uint32_t>> stored(rowsTopFirst.rbegin(), rowsTopFirst.rend());
    for (auto& row : stored) {
        for (uint32_t& c : row) c = (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);  // to 0x00RRGGBB
    }
    BmpBuilder b;
    b.width = stored.empty() ? 0 : static_cast<int32_t>(stored[0].size());
    b.height = static_cast<int32_t>(stored.size());
    b.pixels = PackRows(stored, 24);
    return b.Build();
}

std::vector<uint8_t> EncodeRunLength(const std::vector<std::vector<uint8_t>>& rowsBottomUp, bool fourBit,
                                     bool skipIndexZero) {
    std::vector<uint8_t> out;
    auto pairOf = [&](uint8_t index) { return fourBit ? static_cast<uint8_t>(index << 4 | index) : index; };
    for (const auto& row : rowsBottomUp) {
        const size_t w = row.size();
        size_t x = 0;
        while (x < w) {
            if (skipIndexZero && row[x] == 0) {
                size_t end = x;
                while (end < w && row[end] == 0) ++end;
                if (end == w) break;  // the end-of-line below skips them
                out.insert(out.end(), {0, 2, static_cast<uint8_t>(end - x), 0});
                x = end;
                continue;
            }
            size_t same = x + 1;
            while (same < w && same - x < 255 && row[same] == row[x]) ++same;
            if (same - x >= 2) {
                out.insert(out.end(), {static_cast<uint8_t>(same - x), pairOf(row[x])});
                x = same;
                continue;
            }
            // Gather pixels up to the next repeat (or skipped zero).
            size_t end = x + 1;
            while (end < w && end - x < 255 && !(end + 1 < w && row[end + 1] == row[end]) &&
                   !(skipIndexZero && row[end] == 0)) {
                ++end;
            }
            const size_t count = end - x;
            if (count < 3) {
                for (size_t k = x; k < end; ++k) out.insert(out.end(), {1, pairOf(row[k])});
            } else {
                out.insert(out.end(), {0, static_cast<uint8_t>(count)});
                std::vector<uint8_t> data;
                for (size_t k = 0; k < count; ++k) {
                    if (!fourBit) {
                        data.push_back(row[x + k]);
                    } else if (k % 2 == 0) {
                        data.push_back(static_cast<uint8_t>(row[x + k] << 4));
                    } else {
                        data.back() |= row[x + k];
                    }
                }
                if (data.size() % 2 != 0) data.push_back(0);
                out.insert(out.end(), data.begin(), data.end());
            }
            x = end;
        }
        out.insert(out.end(), {0, 0});
    }
    out.insert(out.end(), {0, 1});
    return out;
}

void WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rastrace-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace rastrace::test
