#include "image/save_output.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/devil_errors.h"
#include "report.h"

namespace {

// Size of the 24-bit BMP DevIL writes: two headers, then rows padded to four
// bytes.
off_t expected_bmp_size() {
    const off_t width = ilGetInteger(IL_IMAGE_WIDTH);
    const off_t height = ilGetInteger(IL_IMAGE_HEIGHT);
    return 54 + ((3 * width + 3) / 4 * 4) * height;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// DevIL shares one code between read and write errors; on a save it is a
// write error.
const char* il_save_error_text(ILenum error) {
    return error == IL_FILE_WRITE_ERROR ? "write error" : iluErrorString(error);
}

// A BMP is stored bottom-up, and DevIL writes an image held top row first by
// flipping a whole new copy of it. Turning the rows over in place, and saying
// so in the origin, spares that copy: for a large image, touching fresh memory
// costs more than the flip.
void hold_bottom_up() {
    if (ilGetInteger(IL_IMAGE_ORIGIN) != IL_ORIGIN_UPPER_LEFT) return;
    if (iluFlipImage()) ilRegisterOrigin(IL_ORIGIN_LOWER_LEFT);
}

}  // namespace

bool write_bmp_checked(const char* file, const char* name) {
    hold_bottom_up();
    take_il_error();
    ilEnable(IL_FILE_OVERWRITE);
    const ILboolean saved = ilSave(IL_BMP, file);
    const ILenum error = take_il_error();
    if (!saved || error != IL_NO_ERROR) {
        report_error(name,
                     error != IL_NO_ERROR ? il_save_error_text(error) : "DevIL could not save it");
        return false;
    }
    // DevIL reports success on a short write, so look at what landed.
    struct stat written {};
    if (stat(file, &written) != 0) {
        report_error(name, std::strerror(errno));
        return false;
    }
    if (written.st_size != expected_bmp_size()) {
        const std::string why = "short write: " + std::to_string(written.st_size) + " of " +
                                std::to_string(expected_bmp_size()) + " bytes";
        report_error(name, why.c_str());
        return false;
    }
    return true;
}

bool save_output_image(const char* path) {
    std::string temp = folder_of(path) + "/.laplace_bench-XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        report_error(
            path, (std::string("cannot create a file beside it: ") + std::strerror(errno)).c_str());
        return false;
    }
    // mkstemp makes the file private; give it the mode a plain new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    const bool prepared = fchmod(fd, 0666 & ~mask) == 0;
    const int prepare_errno = errno;
    close(fd);
    if (!prepared) {
        report_error(path, std::strerror(prepare_errno));
        unlink(temp.c_str());
        return false;
    }
    if (!write_bmp_checked(temp.c_str(), path)) {
        unlink(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path) != 0) {
        report_error(path, std::strerror(errno));
        unlink(temp.c_str());
        return false;
    }
    return true;
}
