// DevIL's own cost of reading and writing a BMP, the yardstick for the host
// work laplace_bench does around its timed passes:
//   devil_roundtrip <input.bmp> <output.bmp>
#include <IL/il.h>

#include <cstdio>

namespace {

bool devil_ok(ILboolean returned, const char* what) {
    const ILenum error = ilGetError();
    if (returned == IL_TRUE && error == IL_NO_ERROR) return true;
    std::fprintf(stderr, "laplace_bench: %s: DevIL error 0x%04x\n", what, error);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: devil_roundtrip <input.bmp> <output.bmp>\n");
        return 1;
    }
    ilInit();
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    ilEnable(IL_FILE_OVERWRITE);
    const bool ok =
        devil_ok(ilLoadImage(argv[1]), argv[1]) && devil_ok(ilSave(IL_BMP, argv[2]), argv[2]);
    ilDeleteImages(1, &image);
    return ok ? 0 : 1;
}
