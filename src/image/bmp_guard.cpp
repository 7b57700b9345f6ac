#include "image/bmp_guard.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t file_header_bytes = 14;
constexpr size_t out_info_bytes = 40;
constexpr size_t mask_bytes = 12;
// Where the red, green and blue masks sit, inside the 52-byte and larger info
// headers and right after the 40-byte one alike.
constexpr size_t masks_at = file_header_bytes + out_info_bytes;

constexpr uint32_t rgb_compression = 0;
constexpr uint32_t rle8_compression = 1;
constexpr uint32_t rle4_compression = 2;
constexpr uint32_t bitfields_compression = 3;

uint32_t le16(const unsigned char* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }

uint32_t le32(const unsigned char* p) { return le16(p) | le16(p + 2) << 16; }

void put16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, uint32_t v) {
    put16(p, v & 0xffffu);
    put16(p + 2, v >> 16);
}

bool refuse(std::string* why, const char* format, ...) __attribute__((format(printf, 2, 3)));

bool refuse(std::string* why, const char* format, ...) {
    char text[200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    *why = text;
    return false;
}

bool truncated(std::string* why, size_t have, uint64_t need) {
    return refuse(why, "truncated: %zu of %llu bytes", have, static_cast<unsigned long long>(need));
}

bool known_info_size(uint32_t size) {
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool supported_pair(uint32_t bits, uint32_t compression) {
    switch (compression) {
        case rgb_compression:
            return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
        case rle8_compression:
            return bits == 8;
        case rle4_compression:
            return bits == 4;
        case bitfields_compression:
            return bits == 16 || bits == 32;
        default:
            return false;
    }
}

const char* compression_name(uint32_t compression) {
    static const char* const names[] = {
        "none", "RLE8", "RLE4", "bit fields", "JPEG", "PNG", "alpha bit fields"};
    return compression < sizeof names / sizeof names[0] ? names[compression] : "unknown";
}

// DevIL scales a channel from its mask correctly only when the mask is one
// run of at most 8 bits: wider runs are cut to their top 8 bits, which decodes
// the same to 8-bit channels. Returns false for masks that are not runs, that
// overlap or that reach past the pixel.
bool narrow_masks(uint32_t masks[3], uint32_t bits) {
    const uint64_t pixel = (uint64_t{1} << bits) - 1;
    if ((masks[0] & masks[1]) != 0 || (masks[0] & masks[2]) != 0 || (masks[1] & masks[2]) != 0)
        return false;
    for (int i = 0; i < 3; ++i) {
        uint32_t& mask = masks[i];
        if (mask == 0) continue;
        if (mask > pixel) return false;
        int shift = 0;
        while (((mask >> shift) & 1u) == 0) ++shift;
        const uint32_t run = mask >> shift;
        if ((run & (run + 1)) != 0) return false;
        int width = 0;
        while (width < 32 && ((run >> width) & 1u) != 0) ++width;
        if (width > 8) mask &= ~(((uint32_t{1} << (width - 8)) - 1) << shift);
    }
    return true;
}

// Expands RLE4/RLE8 data into 8-bit indices, `stride` bytes a row, in the
// order the file stores its rows. `dst` starts zeroed, so pixels the data
// skips are index 0.
bool expand_rle(const unsigned char* src, size_t size, uint32_t bits, size_t width, size_t rows,
                unsigned char* dst, size_t stride, std::string* why) {
    size_t at = 0;
    size_t x = 0;
    size_t y = 0;
    for (;;) {
        if (size - at < 2)
            return refuse(why, "truncated: RLE data ends before its end-of-bitmap marker");
        const size_t count = src[at];
        const unsigned value = src[at + 1];
        at += 2;
        if (count == 0 && value == 1) return true;
        if (count == 0 && value == 0) {
            if (y >= rows)
                return refuse(why, "RLE data runs past the image (%zu×%zu pixels)", width, rows);
            x = 0;
            ++y;
            continue;
        }
        if (count == 0 && value == 2) {
            if (size - at < 2)
                return refuse(why, "truncated: RLE data ends before its end-of-bitmap marker");
            x += src[at];
            y += src[at + 1];
            at += 2;
            if (x > width || y > rows)
                return refuse(why, "RLE data moves past the image (%zu×%zu pixels)", width, rows);
            continue;
        }
        // `count` copies of `value`, or after a zero count `value` pixels
        // stored as they are, padded to an even number of bytes.
        const bool literal = count == 0;
        const size_t n = literal ? value : count;
        if (y >= rows || n > width - x)
            return refuse(why, "RLE data runs past the image (%zu×%zu pixels)", width, rows);
        const size_t literal_bytes = literal ? ((bits == 8 ? n : (n + 1) / 2) + 1) / 2 * 2 : 0;
        if (size - at < literal_bytes)
            return refuse(why, "truncated: RLE data ends before its end-of-bitmap marker");
        unsigned char* out = dst + y * stride + x;
        for (size_t i = 0; i < n; ++i) {
            const unsigned byte = literal ? src[at + (bits == 8 ? i : i / 2)] : value;
            out[i] = static_cast<unsigned char>(bits == 8    ? byte
                                                : i % 2 == 0 ? byte >> 4
                                                             : byte & 15u);
        }
        at += literal_bytes;
        x += n;
    }
}

}  // namespace

bool guard_bmp(const unsigned char* data, size_t size, bmp_input* out, std::string* why) {
    if (size < 2 || data[0] != 'B' || data[1] != 'M')
        return refuse(why, "not a BMP file (no BM signature)");
    if (size > bmp_max_file_bytes)
        return refuse(why, "file of %zu bytes exceeds the limit of %llu bytes", size,
                      static_cast<unsigned long long>(bmp_max_file_bytes));
    if (size < file_header_bytes + 4) return truncated(why, size, file_header_bytes + 4);
    const unsigned char* info = data + file_header_bytes;
    const uint32_t info_size = le32(info);
    if (!known_info_size(info_size))
        return refuse(why, "unsupported: %u-byte info header", info_size);
    const size_t headers = file_header_bytes + info_size;
    if (size < headers) return truncated(why, size, headers);

    // The 12-byte OS/2 header has unsigned 16-bit sides and no compression.
    const bool os2 = info_size == 12;
    const int64_t width =
        os2 ? int64_t{le16(info + 4)} : int64_t{static_cast<int32_t>(le32(info + 4))};
    const int64_t height =
        os2 ? int64_t{le16(info + 6)} : int64_t{static_cast<int32_t>(le32(info + 8))};
    const uint32_t planes = le16(info + (os2 ? 8 : 12));
    const uint32_t bits = le16(info + (os2 ? 10 : 14));
    const uint32_t compression = os2 ? rgb_compression : le32(info + 16);
    const uint32_t colours_used = os2 ? 0 : le32(info + 32);

    if (planes != 1) return refuse(why, "unsupported: %u colour planes (BMP has 1)", planes);
    if (!supported_pair(bits, compression))
        return refuse(why, "unsupported: %u-bit with compression %u (%s)", bits, compression,
                      compression_name(compression));
    if (height == INT32_MIN)
        return refuse(why, "invalid height %lld", static_cast<long long>(height));
    if (width <= 0 || height == 0)
        return refuse(why, "invalid size %lld×%lld pixels", static_cast<long long>(width),
                      static_cast<long long>(height));
    const uint64_t columns = static_cast<uint64_t>(width);
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
    if (columns * rows > bmp_max_pixels)
        return refuse(why, "%llu×%llu pixels exceeds the limit of %llu pixels (16384×16384)",
                      static_cast<unsigned long long>(columns),
                      static_cast<unsigned long long>(rows),
                      static_cast<unsigned long long>(bmp_max_pixels));
    if (columns > bmp_max_side || rows > bmp_max_side)
        return refuse(why, "%llu×%llu pixels: a side exceeds the limit of %llu",
                      static_cast<unsigned long long>(columns),
                      static_cast<unsigned long long>(rows),
                      static_cast<unsigned long long>(bmp_max_side));

    const bool bitfields = compression == bitfields_compression;
    const size_t masks_end = masks_at + mask_bytes;
    if (bitfields && size < masks_end) return truncated(why, size, masks_end);
    uint32_t masks[3] = {0, 0, 0};
    if (bitfields) {
        for (size_t i = 0; i < 3; ++i) masks[i] = le32(data + masks_at + 4 * i);
        if (!narrow_masks(masks, bits))
            return refuse(why, "unsupported: bit field masks red %08x, green %08x, blue %08x",
                          masks[0], masks[1], masks[2]);
    }

    // Images of more than 8 bits may carry a palette as a hint; it goes unused.
    const uint64_t entries = bits <= 8 ? uint64_t{1} << bits : 0;
    if (bits <= 8 && colours_used > entries)
        return refuse(why, "palette of %u colours is more than %u-bit pixels can index",
                      colours_used, bits);
    const size_t palette_count = bits > 8 ? 0 : colours_used != 0 ? colours_used : entries;
    const size_t entry_bytes = os2 ? 3 : 4;
    const size_t palette_at = info_size == out_info_bytes && bitfields ? masks_end : headers;
    const uint64_t palette_end = palette_at + uint64_t{palette_count} * entry_bytes;
    if (size < palette_end) return truncated(why, size, palette_end);

    const uint32_t offset = le32(data + 10);
    if (offset < palette_at)
        return refuse(why, "pixel data offset %u lies inside the %zu bytes of headers", offset,
                      palette_at);
    if (offset > size)
        return refuse(why, "pixel data offset %u is past the end of the file (%zu bytes)", offset,
                      size);

    const bool rle = compression == rle8_compression || compression == rle4_compression;
    const uint32_t out_bits = rle ? 8 : bits;
    const uint64_t stride = (columns * out_bits + 31) / 32 * 4;
    const uint64_t pixel_bytes = stride * rows;
    if (!rle && size - offset < pixel_bytes) return truncated(why, size, offset + pixel_bytes);

    const size_t out_entries = out_bits <= 8 ? size_t{1} << out_bits : 0;
    const size_t out_offset =
        file_header_bytes + out_info_bytes + (bitfields ? mask_bytes : 0) + out_entries * 4;
    std::vector<unsigned char>& b = out->bytes;
    b.assign(out_offset, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(&b[2], static_cast<uint32_t>(out_offset + pixel_bytes));
    put32(&b[10], static_cast<uint32_t>(out_offset));
    unsigned char* o = &b[file_header_bytes];
    put32(o, out_info_bytes);
    put32(o + 4, static_cast<uint32_t>(width));
    put32(o + 8, static_cast<uint32_t>(height));
    put16(o + 12, 1);
    put16(o + 14, out_bits);
    put32(o + 16, rle ? rgb_compression : compression);
    put32(o + 20, static_cast<uint32_t>(pixel_bytes));
    if (!os2) std::memcpy(o + 24, info + 24, 8);  // resolution: unused, kept as it was
    put32(o + 32, static_cast<uint32_t>(out_entries));
    if (bitfields)
        for (size_t i = 0; i < 3; ++i) put32(&b[masks_at + 4 * i], masks[i]);
    unsigned char* palette = b.data() + (out_offset - out_entries * 4);
    for (size_t i = 0; i < palette_count; ++i)
        std::memcpy(palette + 4 * i, data + palette_at + i * entry_bytes, 3);

    out->width = static_cast<uint32_t>(columns);
    out->height = static_cast<uint32_t>(rows);
    out->bits = bits;
    char kind[32];
    std::snprintf(kind, sizeof kind, "%u-bit%s", bits, rle ? " RLE" : bits <= 8 ? " paletted" : "");
    out->kind = kind;

    // Most files already are exactly what would be written: then DevIL reads
    // the original and a large image is not copied once more.
    out->as_is =
        !rle && size == out_offset + pixel_bytes && std::memcmp(b.data(), data, out_offset) == 0;
    if (out->as_is) {
        b.clear();
        return true;
    }
    b.resize(out_offset + pixel_bytes, 0);
    if (rle) {
        if (!expand_rle(data + offset, size - offset, bits, columns, rows, &b[out_offset], stride,
                        why))
            return false;
    } else {
        std::memcpy(&b[out_offset], data + offset, pixel_bytes);
    }
    return true;
}
