// Writes the seed corpus for bmp_fuzz: one small file of each BMP kind the
// loader takes, into the directory named on the command line.

#include <cstdio>
#include <string>
#include <vector>

#include "bmp_bytes.h"

namespace {

using bmp_bytes::fields;
using bmp_bytes::rgb;

struct seed {
    const char* name;
    uint16_t bits;
    uint32_t compression;
    uint32_t info_size;
    bool top_down;
    uint32_t masks[3];
    // Palette entries, 0 for direct colour.
    int colours;
};

const seed seeds[] = {
    {"paletted_1_bit", 1, 0, 40, false, {}, 2},
    {"paletted_4_bit", 4, 0, 40, false, {}, 16},
    {"paletted_8_bit", 8, 0, 40, false, {}, 24},
    {"rle4", 4, 2, 40, false, {}, 16},
    {"rle8", 8, 1, 40, false, {}, 24},
    {"rgb_16_bit_555", 16, 0, 40, false, {}, 0},
    {"bitfields_16_bit_565", 16, 3, 40, false, {0xf800, 0x07e0, 0x001f}, 0},
    {"rgb_24_bit", 24, 0, 40, false, {}, 0},
    {"rgb_32_bit", 32, 0, 40, false, {}, 0},
    {"bitfields_32_bit", 32, 3, 40, false, {0xff0000, 0xff00, 0xff}, 0},
    {"top_down_24_bit", 24, 0, 40, true, {}, 0},
    {"os2_4_bit", 4, 0, 12, false, {}, 16},
    {"v4_16_bit_565", 16, 3, 108, false, {0xf800, 0x07e0, 0x001f}, 0},
    {"v5_24_bit", 24, 0, 124, false, {}, 0},
    {"v5_rle8", 8, 1, 124, false, {}, 24},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed directory>\n", argv[0]);
        return 2;
    }
    for (const seed& s : seeds) {
        // Direct-colour seeds take their colours from a palette they do not store.
        std::vector<rgb> palette(static_cast<size_t>(s.colours != 0 ? s.colours : 24));
        for (size_t i = 0; i < palette.size(); ++i)
            palette[i] = {static_cast<unsigned char>(i * 40),
                          static_cast<unsigned char>(i * 90 + 7),
                          static_cast<unsigned char>(255 - i * 10)};
        // Runs and stretches of differing pixels, rows of odd width.
        bmp_bytes::picture p{7, 5, {}};
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                p.pixels.push_back(
                    palette[static_cast<size_t>(x < 3 ? y : x * 5 + y) % palette.size()]);
        fields f;
        f.bits = s.bits;
        f.compression = s.compression;
        f.info_size = s.info_size;
        f.height = s.top_down ? -1 : 1;
        f.colours_used = static_cast<uint32_t>(s.colours);
        for (int i = 0; i < 3; ++i) f.masks[i] = s.masks[i];
        const bmp_bytes::bytes file =
            bmp_bytes::encode(p, f, s.colours != 0 ? palette : std::vector<rgb>{});
        const std::string path = std::string(argv[1]) + "/" + s.name + ".bmp";
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
            std::fclose(out) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
