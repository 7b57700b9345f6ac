// Draws the project's sample image: a deterministic 24-bit BMP with edges in
// every direction and of many contrasts, so the filter has something to show.
//   make_sample <output.bmp> [width height]
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

struct rgb {
    unsigned char r, g, b;
};

void put_le(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// The picture, one pixel at a time. Regions: a colour gradient ground, a
// Siemens star (edges at every angle), concentric rings, a ladder of grey
// steps of rising contrast, and a grid of tilted squares.
rgb sample_pixel(int x, int y, int width, int height) {
    const double u = static_cast<double>(x) / width;
    const double v = static_cast<double>(y) / height;
    rgb p{static_cast<unsigned char>(40 + 120 * u), static_cast<unsigned char>(60 + 100 * v),
          static_cast<unsigned char>(150 - 80 * u * v)};

    // Siemens star on the left third.
    const double star_x = 0.18 * width, star_y = 0.5 * height, star_r = 0.42 * height;
    const double dx = x - star_x, dy = y - star_y;
    const double radius = std::sqrt(dx * dx + dy * dy);
    if (radius < star_r) {
        const bool spoke = std::fmod(std::atan2(dy, dx) + pi, pi / 18) < pi / 36;
        const unsigned char level = spoke ? 235 : 20;
        p = {level, level, level};
    }

    // Concentric rings of alternating colour in the middle.
    const double ring_x = 0.5 * width, ring_y = 0.35 * height;
    const double ring_r = std::hypot(x - ring_x, y - ring_y);
    if (ring_r < 0.3 * height) {
        const int ring = static_cast<int>(ring_r / 14);
        p = ring % 2 ? rgb{200, 60, 40} : rgb{30, 90, 190};
    }

    // Grey steps of rising contrast along the bottom middle.
    if (v > 0.75 && u > 0.36 && u < 0.64) {
        const int step = static_cast<int>((u - 0.36) / 0.28 * 16);
        const unsigned char level =
            static_cast<unsigned char>(128 + ((step % 2) ? 1 : -1) * step * 8);
        p = {level, level, level};
    }

    // Tilted squares on the right third, each at its own angle and contrast.
    if (u > 0.68) {
        const int cell = 150;
        const int cx = (x - static_cast<int>(0.68 * width)) / cell, cy = y / cell;
        const double angle = (cx * 7 + cy * 3) * pi / 23;
        const double ox = (x - static_cast<int>(0.68 * width)) % cell - cell / 2.0;
        const double oy = y % cell - cell / 2.0;
        const double rx = ox * std::cos(angle) - oy * std::sin(angle);
        const double ry = ox * std::sin(angle) + oy * std::cos(angle);
        if (std::fabs(rx) < 40 && std::fabs(ry) < 40) {
            // Contrast against the ground doubles from square to square: 4 .. 128.
            const int contrast = 4 << ((cx + 2 * cy) % 6);
            const int sign = (cx + cy) % 2 ? 1 : -1;
            auto shift = [&](unsigned char c) {
                return static_cast<unsigned char>(std::min(255, std::max(0, c + sign * contrast)));
            };
            p = {shift(p.r), shift(p.g), shift(p.b)};
        }
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: make_sample <output.bmp> [width height]\n");
        return 1;
    }
    const int width = argc == 4 ? std::atoi(argv[2]) : 1920;
    const int height = argc == 4 ? std::atoi(argv[3]) : 1080;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        std::fprintf(stderr, "make_sample: width and height must be 1..16384\n");
        return 1;
    }
    const uint32_t row = (3 * static_cast<uint32_t>(width) + 3) / 4 * 4;
    const uint32_t pixel_bytes = row * static_cast<uint32_t>(height);
    std::vector<unsigned char> file;
    file.reserve(54 + pixel_bytes);
    file.push_back('B');
    file.push_back('M');
    put_le(file, 54 + pixel_bytes, 4);
    put_le(file, 0, 4);
    put_le(file, 54, 4);
    put_le(file, 40, 4);
    put_le(file, static_cast<uint32_t>(width), 4);
    put_le(file, static_cast<uint32_t>(height), 4);  // positive: bottom-up rows
    put_le(file, 1, 2);
    put_le(file, 24, 2);
    put_le(file, 0, 4);
    put_le(file, pixel_bytes, 4);
    put_le(file, 2835, 4);
    put_le(file, 2835, 4);
    put_le(file, 0, 4);
    put_le(file, 0, 4);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const rgb p = sample_pixel(x, y, width, height);
            file.push_back(p.b);
            file.push_back(p.g);
            file.push_back(p.r);
        }
        for (uint32_t pad = 3 * static_cast<uint32_t>(width); pad < row; ++pad) file.push_back(0);
    }

    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "make_sample: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "make_sample: %s: write failed\n", argv[1]);
        return 1;
    }
    return 0;
}
