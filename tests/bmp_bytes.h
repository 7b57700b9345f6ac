#pragma once

// Builds BMP files as bytes: header fields one by one for files that are wrong
// on purpose, and whole files of every kind from a small picture.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bmp_bytes {

using bytes = std::vector<unsigned char>;

struct rgb {
    unsigned char r, g, b;
    bool operator==(const rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// The picture a file encodes, top row first.
struct picture {
    int width;
    int height;
    std::vector<rgb> pixels;
};

// Header fields as they go into the file. Zero sizes and offsets are filled in
// with the real values; a negative height makes encode() write rows top-down.
struct fields {
    unsigned char signature[2] = {'B', 'M'};
    uint32_t file_size = 0;
    uint32_t data_offset = 0;
    uint32_t info_size = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t image_size = 0;
    uint32_t colours_used = 0;
    // Red, green, blue, alpha: inside 52-byte and larger info headers, after a
    // 40-byte one when the compression is 3 (bit fields).
    uint32_t masks[4] = {0, 0, 0, 0};
};

constexpr uint32_t rgb_compression = 0;
constexpr uint32_t rle8_compression = 1;
constexpr uint32_t rle4_compression = 2;
constexpr uint32_t bitfields_compression = 3;

inline void put16(bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

inline void put32(bytes& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xffffu);
    put16(b, at + 2, v >> 16);
}

// Headers, the masks a 40-byte bit-fields header needs, `palette` (three bytes
// an entry after a 12-byte header, four otherwise), then `pixels`.
inline bytes file(const fields& f, const std::vector<rgb>& palette, const bytes& pixels) {
    const bool os2 = f.info_size == 12;
    const size_t mask_bytes = f.info_size == 40 && f.compression == bitfields_compression ? 12 : 0;
    const size_t entry = os2 ? 3 : 4;
    const size_t offset = 14 + f.info_size + mask_bytes + palette.size() * entry;
    bytes b(offset, 0);
    b[0] = f.signature[0];
    b[1] = f.signature[1];
    put32(b, 2, f.file_size != 0 ? f.file_size : static_cast<uint32_t>(offset + pixels.size()));
    put32(b, 10, f.data_offset != 0 ? f.data_offset : static_cast<uint32_t>(offset));
    put32(b, 14, f.info_size);
    if (os2) {
        put16(b, 18, static_cast<uint32_t>(f.width));
        put16(b, 20, static_cast<uint32_t>(f.height));
        put16(b, 22, f.planes);
        put16(b, 24, f.bits);
    } else {
        put32(b, 18, static_cast<uint32_t>(f.width));
        put32(b, 22, static_cast<uint32_t>(f.height));
        put16(b, 26, f.planes);
        put16(b, 28, f.bits);
        put32(b, 30, f.compression);
        put32(b, 34, f.image_size);
        put32(b, 46, f.colours_used);
        const int mask_count = f.info_size == 40   ? (mask_bytes != 0 ? 3 : 0)
                               : f.info_size == 52 ? 3
                                                   : 4;
        for (int i = 0; i < mask_count; ++i) put32(b, 54 + 4 * i, f.masks[i]);
        if (f.info_size >= 108) put32(b, 70, 0x73524742u);  // colour space "sRGB"
    }
    size_t at = 14 + f.info_size + mask_bytes;
    for (const rgb& c : palette) {
        b[at] = c.b;
        b[at + 1] = c.g;
        b[at + 2] = c.r;
        at += entry;
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

inline size_t index_of(const std::vector<rgb>& palette, rgb c) {
    for (size_t i = 0; i < palette.size(); ++i)
        if (palette[i] == c) return i;
    return palette.size();  // not in the palette: encodes an index past it
}

// One channel into the bits of `mask`, keeping its top bits.
inline uint32_t pack_channel(unsigned char c, uint32_t mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1u) == 0) ++shift;
    int width = 0;
    while (shift + width < 32 && ((mask >> (shift + width)) & 1u) != 0) ++width;
    const uint32_t value = width >= 8 ? uint32_t{c} << (width - 8) : uint32_t{c} >> (8 - width);
    return value << shift;
}

// One row of palette indices as RLE: repeats as encoded runs, stretches of
// three or more differing pixels in absolute mode, then an end of line.
inline void rle_row(bytes& out, const std::vector<size_t>& row, int bits) {
    const size_t max = 255;
    size_t x = 0;
    while (x < row.size()) {
        size_t same = 1;
        while (x + same < row.size() && same < max && row[x + same] == row[x]) ++same;
        size_t differ = 1;
        while (x + differ < row.size() && differ < max &&
               (x + differ + 1 >= row.size() || row[x + differ] != row[x + differ + 1]))
            ++differ;
        if (same >= 2 || differ < 3) {
            const size_t n = same >= 2 ? same : 1;
            out.push_back(static_cast<unsigned char>(n));
            out.push_back(static_cast<unsigned char>(bits == 8 ? row[x] : row[x] * 17));
            x += n;
            continue;
        }
        out.push_back(0);
        out.push_back(static_cast<unsigned char>(differ));
        const size_t start = out.size();
        for (size_t i = 0; i < differ; ++i) {
            if (bits == 8) {
                out.push_back(static_cast<unsigned char>(row[x + i]));
            } else if (i % 2 == 0) {
                out.push_back(static_cast<unsigned char>(row[x + i] << 4));
            } else {
                out.back() |= static_cast<unsigned char>(row[x + i]);
            }
        }
        if ((out.size() - start) % 2 != 0) out.push_back(0);
        x += differ;
    }
    out.push_back(0);
    out.push_back(0);
}

// `p` as a BMP of the kind `f` describes (bits, compression, masks, header
// size, the sign of the height); `palette` holds every colour of `p` for the
// paletted kinds. Rows run bottom-up unless f.height is negative.
inline bytes encode(const picture& p, fields f, const std::vector<rgb>& palette) {
    const bool top_down = f.height < 0;
    f.width = p.width;
    f.height = top_down ? -p.height : p.height;
    const bool rle = f.compression == rle8_compression || f.compression == rle4_compression;
    uint32_t masks[3] = {f.masks[0], f.masks[1], f.masks[2]};
    if (f.compression != bitfields_compression) {
        const bool five = f.bits == 16;
        masks[0] = five ? 0x7c00u : 0xff0000u;
        masks[1] = five ? 0x03e0u : 0x00ff00u;
        masks[2] = five ? 0x001fu : 0x0000ffu;
    }
    const size_t stride = (static_cast<size_t>(p.width) * f.bits + 31) / 32 * 4;
    bytes data;
    for (int i = 0; i < p.height; ++i) {
        const int y = top_down ? i : p.height - 1 - i;
        const rgb* src = &p.pixels[static_cast<size_t>(y) * static_cast<size_t>(p.width)];
        if (rle) {
            std::vector<size_t> row(static_cast<size_t>(p.width));
            for (size_t x = 0; x < row.size(); ++x) row[x] = index_of(palette, src[x]);
            rle_row(data, row, f.bits);
            continue;
        }
        const size_t at = data.size();
        data.resize(at + stride, 0);
        for (int x = 0; x < p.width; ++x) {
            const size_t ux = static_cast<size_t>(x);
            if (f.bits <= 8) {
                const size_t bit = ux * f.bits;
                const size_t shift = 8 - f.bits - bit % 8;
                data[at + bit / 8] |=
                    static_cast<unsigned char>(index_of(palette, src[x]) << shift);
                continue;
            }
            if (f.bits == 24) {
                data[at + 3 * ux] = src[x].b;
                data[at + 3 * ux + 1] = src[x].g;
                data[at + 3 * ux + 2] = src[x].r;
                continue;
            }
            const uint32_t v = pack_channel(src[x].r, masks[0]) | pack_channel(src[x].g, masks[1]) |
                               pack_channel(src[x].b, masks[2]);
            for (size_t k = 0; k < f.bits / 8u; ++k)
                data[at + ux * (f.bits / 8u) + k] = static_cast<unsigned char>(v >> (8 * k));
        }
    }
    if (rle) data.back() = 1;  // the last end of line becomes the end of the bitmap
    if (f.image_size == 0 && f.info_size != 12) f.image_size = static_cast<uint32_t>(data.size());
    return file(f, palette, data);
}

}  // namespace bmp_bytes
