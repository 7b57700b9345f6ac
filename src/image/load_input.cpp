#include "image/load_input.h"

#include <sys/stat.h>

#include <IL/ilu.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/bmp_guard.h"
#include "report.h"

namespace {

// Reads the whole file; on failure sets `why` from errno.
bool read_file(const char* path, std::vector<unsigned char>* bytes, std::string* why) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        *why = std::strerror(errno);
        return false;
    }
    // One allocation for a regular file: growing the buffer chunk by chunk
    // copies it over and over.
    struct stat info {};
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<uint64_t>(info.st_size) <= bmp_max_file_bytes) {
        bytes->reserve(static_cast<size_t>(info.st_size) + 1);
    }
    const size_t chunk = size_t{1} << 20;
    bool ok = true;
    for (;;) {
        const size_t have = bytes->size();
        if (have > bmp_max_file_bytes) {
            *why = "larger than the limit of " + std::to_string(bmp_max_file_bytes) + " bytes";
            ok = false;
            break;
        }
        bytes->resize(have + chunk);
        const size_t got = std::fread(bytes->data() + have, 1, chunk, file);
        bytes->resize(have + got);
        if (got == chunk) continue;
        if (std::ferror(file)) {
            *why = std::strerror(errno);
            ok = false;
        }
        break;
    }
    if (std::fclose(file) != 0 && ok) {
        *why = std::strerror(errno);
        ok = false;
    }
    return ok;
}

// Empties DevIL's error stack, where errors outlive the call that raised
// them, and returns the newest one (IL_NO_ERROR when there was none).
ILenum take_error() {
    ILenum newest = IL_NO_ERROR;
    for (ILenum error = ilGetError(); error != IL_NO_ERROR; error = ilGetError())
        if (newest == IL_NO_ERROR) newest = error;
    return newest;
}

// Whether a DevIL call that returned `returned` succeeded and left no error.
bool devil_ok(ILboolean returned, ILenum* error) {
    *error = take_error();
    return returned == IL_TRUE && *error == IL_NO_ERROR;
}

bool fail(const char* what, const char* step, ILenum error, input_image* image) {
    std::string why = step;
    if (error != IL_NO_ERROR) why += std::string(": ") + iluErrorString(error);
    report_error(what, why.c_str());
    ilDeleteImages(1, &image->name);
    take_error();
    *image = input_image{0, nullptr, 0, 0};
    return false;
}

// Decodes a checked file into a new bound image of BGR bytes, top row first.
bool decode(const char* what, const bmp_input& in, input_image* image) {
    *image = input_image{0, nullptr, 0, 0};
    take_error();  // left by earlier calls
    ILenum error = IL_NO_ERROR;
    ilGenImages(1, &image->name);
    if (!devil_ok(IL_TRUE, &error) || image->name == 0)
        return fail(what, "cannot create a DevIL image", error, image);
    ilBindImage(image->name);
    if (!devil_ok(IL_TRUE, &error)) return fail(what, "cannot bind a DevIL image", error, image);
    // ilLoadL with IL_BMP, not ilLoadImage: the type must not be guessed from
    // the name or the contents.
    if (!devil_ok(ilLoadL(IL_BMP, in.bytes.data(), static_cast<ILuint>(in.bytes.size())), &error))
        return fail(what, "DevIL cannot decode it", error, image);

    const ILint format = ilGetInteger(IL_IMAGE_FORMAT);
    const ILint type = ilGetInteger(IL_IMAGE_TYPE);
    if (!devil_ok(IL_TRUE, &error)) return fail(what, "cannot query the image", error, image);
    if ((format != IL_BGR || type != IL_UNSIGNED_BYTE) &&
        !devil_ok(ilConvertImage(IL_BGR, IL_UNSIGNED_BYTE), &error))
        return fail(what, "cannot convert it to 24-bit", error, image);

    // DevIL keeps rows as the file stores them and says so in the origin;
    // bottom-up ones are turned over and the origin set to match, which ilSave
    // honours.
    const ILint origin = ilGetInteger(IL_IMAGE_ORIGIN);
    if (!devil_ok(IL_TRUE, &error)) return fail(what, "cannot query the image", error, image);
    if (origin == IL_ORIGIN_LOWER_LEFT) {
        if (!devil_ok(iluFlipImage(), &error))
            return fail(what, "cannot turn it top row first", error, image);
        ilRegisterOrigin(IL_ORIGIN_UPPER_LEFT);
        if (!devil_ok(IL_TRUE, &error))
            return fail(what, "cannot turn it top row first", error, image);
    } else if (origin != IL_ORIGIN_UPPER_LEFT) {
        return fail(what, "DevIL gives an unknown row order", IL_NO_ERROR, image);
    }

    const ILint width = ilGetInteger(IL_IMAGE_WIDTH);
    const ILint height = ilGetInteger(IL_IMAGE_HEIGHT);
    const ILint bytes_per_pixel = ilGetInteger(IL_IMAGE_BPP);
    const ILint data_size = ilGetInteger(IL_IMAGE_SIZE_OF_DATA);
    unsigned char* pixels = ilGetData();
    if (!devil_ok(IL_TRUE, &error)) return fail(what, "cannot query the image", error, image);
    if (width < 0 || static_cast<uint32_t>(width) != in.width || height < 0 ||
        static_cast<uint32_t>(height) != in.height || bytes_per_pixel != 3 || pixels == nullptr ||
        data_size < 0 || static_cast<uint64_t>(data_size) != uint64_t{3} * in.width * in.height)
        return fail(what, "DevIL decoded it to an unexpected layout", IL_NO_ERROR, image);

    if (in.bits != 24) {
        const std::string text = std::string(what) + ": converted " + in.kind + " pixels to 24-bit";
        report_notice(text.c_str());
    }
    image->pixels = pixels;
    image->width = width;
    image->height = height;
    return true;
}

}  // namespace

bool load_input_from_memory(const char* what, const unsigned char* data, size_t size,
                            input_image* image) {
    *image = input_image{0, nullptr, 0, 0};
    bmp_input in;
    std::string why;
    if (!guard_bmp(data, size, &in, &why)) {
        report_error(what, why.c_str());
        return false;
    }
    return decode(what, in, image);
}

bool load_input_image(const char* path, input_image* image) {
    *image = input_image{0, nullptr, 0, 0};
    bmp_input in;
    std::string why;
    {
        // The file's bytes go before DevIL decodes, so only one copy is held.
        std::vector<unsigned char> bytes;
        if (!read_file(path, &bytes, &why) || !guard_bmp(bytes.data(), bytes.size(), &in, &why)) {
            report_error(path, why.c_str());
            return false;
        }
    }
    return decode(path, in, image);
}
