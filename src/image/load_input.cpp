#include "image/load_input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <IL/ilu.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "image/bmp_guard.h"
#include "image/devil_errors.h"
#include "report.h"

namespace {

// The input file mapped read-only into memory: the page cache is read in
// place, so a large file costs no fresh memory and no copy.
struct mapped_file {
    const unsigned char* data = nullptr;
    size_t size = 0;
    mapped_file() = default;
    mapped_file(const mapped_file&) = delete;
    mapped_file& operator=(const mapped_file&) = delete;
    ~mapped_file() {
        if (size != 0) munmap(const_cast<unsigned char*>(data), size);
    }
};

// Maps the whole file; on failure sets `why`.
bool map_file(const char* path, mapped_file* file, std::string* why) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0;
    if (!ok) {
        *why = std::strerror(errno);
    } else if (S_ISDIR(info.st_mode)) {
        *why = std::strerror(EISDIR);
        ok = false;
    } else if (!S_ISREG(info.st_mode)) {
        *why = "not a regular file";
        ok = false;
    } else if (static_cast<uint64_t>(info.st_size) > bmp_max_file_bytes) {
        *why = "file of " + std::to_string(info.st_size) + " bytes exceeds the limit of " +
               std::to_string(bmp_max_file_bytes) + " bytes";
        ok = false;
    } else if (info.st_size > 0) {
        const size_t size = static_cast<size_t>(info.st_size);
        void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (data == MAP_FAILED) {
            *why = std::strerror(errno);
            ok = false;
        } else {
            file->data = static_cast<const unsigned char*>(data);
            file->size = size;
        }
    }
    close(fd);
    return ok;
}

// Whether a DevIL call that returned `returned` succeeded and left no error.
bool devil_ok(ILboolean returned, ILenum* error) {
    *error = take_il_error();
    return returned == IL_TRUE && *error == IL_NO_ERROR;
}

bool fail(const char* what, const char* step, ILenum error, input_image* image) {
    std::string why = step;
    if (error != IL_NO_ERROR) why += std::string(": ") + iluErrorString(error);
    report_error(what, why.c_str());
    ilDeleteImages(1, &image->name);
    take_il_error();
    *image = input_image{0, nullptr, 0, 0};
    return false;
}

// Decodes `lump`, the file as the guard left it, into a new bound image of BGR
// bytes, top row first.
bool decode(const char* what, const bmp_input& in, const unsigned char* lump, size_t lump_size,
            input_image* image) {
    *image = input_image{0, nullptr, 0, 0};
    take_il_error();  // left by earlier calls
    ILenum error = IL_NO_ERROR;
    ilGenImages(1, &image->name);
    if (!devil_ok(IL_TRUE, &error) || image->name == 0)
        return fail(what, "cannot create a DevIL image", error, image);
    ilBindImage(image->name);
    if (!devil_ok(IL_TRUE, &error)) return fail(what, "cannot bind a DevIL image", error, image);
    // ilLoadL with IL_BMP, not ilLoadImage: the type must not be guessed from
    // the name or the contents.
    if (!devil_ok(ilLoadL(IL_BMP, lump, static_cast<ILuint>(lump_size)), &error))
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
    return decode(what, in, in.as_is ? data : in.bytes.data(), in.as_is ? size : in.bytes.size(),
                  image);
}

bool load_input_image(const char* path, input_image* image) {
    *image = input_image{0, nullptr, 0, 0};
    mapped_file file;
    std::string why;
    if (!map_file(path, &file, &why)) {
        report_error(path, why.c_str());
        return false;
    }
    return load_input_from_memory(path, file.data, file.size, image);
}
