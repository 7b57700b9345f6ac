// Puts two images of the same size next to each other and saves the pair,
// scaled down, as one picture (the README's illustration):
//   side_by_side <left> <right> <out.png> [max width]
#include <IL/il.h>
#include <IL/ilu.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool load_rgb(const char* path, int* width, int* height, std::vector<unsigned char>* pixels) {
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    const bool ok = ilLoadImage(path) && ilConvertImage(IL_RGB, IL_UNSIGNED_BYTE);
    if (ok) {
        if (ilGetInteger(IL_ORIGIN_MODE) != ilGetInteger(IL_IMAGE_ORIGIN)) iluFlipImage();
        *width = ilGetInteger(IL_IMAGE_WIDTH);
        *height = ilGetInteger(IL_IMAGE_HEIGHT);
        const unsigned char* data = ilGetData();
        pixels->assign(data, data + 3 * static_cast<size_t>(*width) * *height);
    } else {
        std::fprintf(stderr, "side_by_side: %s: %s\n", path, iluErrorString(ilGetError()));
    }
    ilDeleteImages(1, &image);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: side_by_side <left> <right> <out.png> [max width]\n");
        return 1;
    }
    ilInit();
    iluInit();
    int width = 0, height = 0, right_width = 0, right_height = 0;
    std::vector<unsigned char> left, right;
    if (!load_rgb(argv[1], &width, &height, &left) ||
        !load_rgb(argv[2], &right_width, &right_height, &right)) {
        return 1;
    }
    if (width != right_width || height != right_height) {
        std::fprintf(stderr, "side_by_side: the images differ in size\n");
        return 1;
    }
    const int gap = 16;
    const int pair_width = 2 * width + gap;
    std::vector<unsigned char> pair(3 * static_cast<size_t>(pair_width) * height, 255);
    for (int y = 0; y < height; ++y) {
        const size_t row = 3 * static_cast<size_t>(width);
        std::copy_n(&left[row * y], row, &pair[3 * static_cast<size_t>(pair_width) * y]);
        std::copy_n(&right[row * y], row,
                    &pair[3 * static_cast<size_t>(pair_width) * y + row + size_t{3} * gap]);
    }
    ILuint out = 0;
    ilGenImages(1, &out);
    ilBindImage(out);
    ilTexImage(pair_width, height, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, pair.data());
    const int max_width = argc == 5 ? std::atoi(argv[4]) : 1600;
    if (pair_width > max_width) {
        iluImageParameter(ILU_FILTER, ILU_BILINEAR);
        iluScale(max_width, height * max_width / pair_width, 1);
    }
    ilEnable(IL_FILE_OVERWRITE);
    const bool saved = ilSave(IL_PNG, argv[3]);
    if (!saved)
        std::fprintf(stderr, "side_by_side: %s: %s\n", argv[3], iluErrorString(ilGetError()));
    ilDeleteImages(1, &out);
    return saved ? 0 : 1;
}
