#pragma once

// Runs the laplace_bench binary in a fresh folder and collects what it did.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace run_binary {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const fs::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A temporary working folder, removed with everything in it.
struct work_folder {
    fs::path path;
    work_folder() {
        std::string name = (fs::temp_directory_path() / "laplace_bench_e2e_XXXXXX").string();
        path = mkdtemp(name.data());
        // Readable by anyone, for runs that drop root.
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }
    ~work_folder() { fs::remove_all(path); }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path))
            names.push_back(entry.path().filename());
        return names;
    }
};

struct outcome {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// How the child is held back, for runs that must fail.
struct constraints {
    long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, -1 for none
    bool as_nobody = false;     // drop root, so that mode bits apply
};

constexpr uid_t nobody = 65534;

// Runs `binary` with `folder` as its working directory and `extra_env`
// ("NAME=value") added to the environment; stdout and stderr go to files
// outside the folder.
inline outcome run(const std::string& binary, const fs::path& folder,
                   const std::vector<std::string>& extra_env = {}, constraints limits = {}) {
    const fs::path out_file = folder.string() + ".stdout";
    const fs::path err_file = folder.string() + ".stderr";
    std::vector<std::string> env_strings(extra_env);
    for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
    std::vector<char*> env;
    for (std::string& s : env_strings) env.push_back(s.data());
    env.push_back(nullptr);

    outcome result;
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
        if (limits.file_size_limit >= 0) {
            const rlimit size{static_cast<rlim_t>(limits.file_size_limit),
                              static_cast<rlim_t>(limits.file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &size) != 0) _exit(127);
        }
        if (limits.as_nobody && getuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(127);
        if (chdir(folder.c_str()) != 0) _exit(127);
        char* argv[] = {const_cast<char*>(binary.c_str()), nullptr};
        execve(binary.c_str(), argv, env.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.out = read_file(out_file);
    result.err = read_file(err_file);
    fs::remove(out_file);
    fs::remove(err_file);
    return result;
}

// Pixels of a bottom-up 24-bit BMP with a 54-byte header (what the program
// writes), top row first, three bytes per pixel in file order.
inline bool read_bmp24(const std::string& file, int* width, int* height,
                       std::vector<unsigned char>* pixels) {
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') return false;
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(file[at])) |
               static_cast<uint32_t>(static_cast<unsigned char>(file[at + 1])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(file[at + 2])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(file[at + 3])) << 24;
    };
    *width = static_cast<int>(u32(18));
    *height = static_cast<int>(u32(22));
    const size_t offset = u32(10);
    const size_t row = (3 * static_cast<size_t>(*width) + 3) / 4 * 4;
    if ((file[28] != 24) || *width <= 0 || *height <= 0 || file.size() < offset + row * *height)
        return false;
    pixels->assign(3 * static_cast<size_t>(*width) * *height, 0);
    for (int y = 0; y < *height; ++y) {
        const char* src = &file[offset + row * static_cast<size_t>(*height - 1 - y)];
        std::copy(src, src + 3 * *width, pixels->begin() + 3 * static_cast<size_t>(*width) * y);
    }
    return true;
}

}  // namespace run_binary
