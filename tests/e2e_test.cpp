// The laplace_bench binary run as a user runs it, in a folder of its own.
#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include "bmp_bytes.h"
#include "frame_fixture.h"
#include "run_binary.h"

namespace {

using run_binary::outcome;
using run_binary::work_folder;

const std::string binary = LAPLACE_BENCH_BINARY;

struct input_file {
    bmp_bytes::bytes file;
    frame_fixture::bytes expected;  // the filtered picture, top row first, file channel order
};

// A 24-bit input and the edge image the program must save for it.
input_file make_input(int width, int height) {
    const frame_fixture::bytes bgr = frame_fixture::noise_image(width, height, 42);
    bmp_bytes::picture picture{width, height, {}};
    for (size_t i = 0; i < bgr.size(); i += 3)
        picture.pixels.push_back({bgr[i + 2], bgr[i + 1], bgr[i]});
    return {bmp_bytes::encode(picture, bmp_bytes::fields{}, {}),
            frame_fixture::cpu_laplacian(bgr, width, height)};
}

void expect_saved(const work_folder& folder, const input_file& input) {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;
    ASSERT_TRUE(run_binary::read_bmp24(run_binary::read_file(folder.path / "output.bmp"), &width,
                                       &height, &pixels));
    EXPECT_EQ(pixels, input.expected);
}

const std::regex two_lines("CPU TIME: [0-9]+\\.[0-9]{4}\nCUDA time: [0-9]+\\.[0-9]{4}\n");
// Without a driver the runtime says so; a build without the toolkit says that.
const std::regex standin_notice(
    "laplace_bench: no usable CUDA device \\((CUDA driver version is insufficient for CUDA "
    "runtime version|built without the CUDA toolkit)\\); the GPU path runs on the host "
    "stand-in\n");

TEST(EndToEnd, PrintsTwoLinesAndSavesTheEdgeImageOverAnOldOne) {
    work_folder folder;
    const input_file input = make_input(37, 21);
    run_binary::write_file(folder.path / "input.bmp", input.file);
    run_binary::write_file(folder.path / "output.bmp", {'o', 'l', 'd'});
    const outcome run = run_binary::run(binary, folder.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::regex_match(run.out, two_lines)) << run.out;
    EXPECT_TRUE(std::regex_match(run.err, standin_notice)) << run.err;
    expect_saved(folder, input);
    EXPECT_EQ(folder.entries().size(), 2u);  // input.bmp and output.bmp, nothing stray
}

TEST(EndToEnd, MissingInputFailsAndKeepsTheOldOutput) {
    work_folder folder;
    run_binary::write_file(folder.path / "output.bmp", {'o', 'l', 'd'});
    const outcome run = run_binary::run(binary, folder.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("laplace_bench: input.bmp: "), std::string::npos) << run.err;
    EXPECT_EQ(run_binary::read_file(folder.path / "output.bmp"), "old");
    EXPECT_EQ(folder.entries().size(), 1u);
}

// A failing runtime call, injected into the stand-in from the environment:
// the call is named, both lines still come, and the CPU result is saved.
class InjectedFault : public ::testing::TestWithParam<const char*> {};

TEST_P(InjectedFault, ExitsTwoAndSavesTheCpuResult) {
    work_folder folder;
    const input_file input = make_input(20, 18);
    run_binary::write_file(folder.path / "input.bmp", input.file);
    const std::string setting = GetParam();
    const outcome run =
        run_binary::run(binary, folder.path, {"LAPLACE_BENCH_STANDIN_FAULT=" + setting});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(std::regex_match(run.out, two_lines)) << run.out;
    const std::string call = setting.substr(0, setting.find_first_of("#="));
    EXPECT_NE(run.err.find("laplace_bench: " + call), std::string::npos) << run.err;
    expect_saved(folder, input);
    EXPECT_EQ(folder.entries().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Calls, InjectedFault,
                         ::testing::Values("cudaMalloc", "cudaMalloc#2", "cudaMemcpy",
                                           "cudaLaunchKernel=9", "cudaDeviceSynchronize=719",
                                           "cudaMemcpy#2", "cudaFree#2", "cudaDeviceReset"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

// The save fails: the old output.bmp stays exactly as it was, and nothing
// half-written is left beside it.
struct save_failure {
    const char* name;
    bool output_is_directory;
    bool folder_read_only;
    run_binary::constraints limits;
    const char* reason;
};

class SaveFailure : public ::testing::TestWithParam<save_failure> {};

TEST_P(SaveFailure, ExitsOneAndKeepsTheOldOutput) {
    const save_failure failure = GetParam();
    work_folder folder;
    run_binary::write_file(folder.path / "input.bmp", make_input(100, 60).file);
    const run_binary::fs::path output = folder.path / "output.bmp";
    if (failure.output_is_directory) {
        run_binary::fs::create_directory(output);
        run_binary::write_file(output / "keep", {'k'});
    } else {
        run_binary::write_file(output, {'o', 'l', 'd'});
    }
    if (failure.folder_read_only) {
        run_binary::fs::permissions(folder.path,
                                    run_binary::fs::perms::owner_write |
                                        run_binary::fs::perms::group_write |
                                        run_binary::fs::perms::others_write,
                                    run_binary::fs::perm_options::remove);
    }
    const outcome run = run_binary::run(binary, folder.path, {}, failure.limits);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(std::regex_match(run.out, two_lines)) << run.out;
    EXPECT_NE(run.err.find(failure.reason), std::string::npos) << run.err;
    if (failure.output_is_directory) {
        EXPECT_EQ(run_binary::read_file(output / "keep"), "k");
    } else {
        EXPECT_TRUE(run_binary::read_file(output) == "old") << "output.bmp was replaced";
    }
    EXPECT_EQ(folder.entries().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, SaveFailure,
    ::testing::Values(
        save_failure{"output_is_a_directory", true, false, {}, "output.bmp: Is a directory"},
        save_failure{"folder_not_writable", false, true, {-1, true}, "Permission denied"},
        save_failure{"file_size_limit", false, false, {10000, false}, "output.bmp: write error"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, MalformedFaultSettingIsRefused) {
    work_folder folder;
    run_binary::write_file(folder.path / "input.bmp", make_input(4, 4).file);
    const outcome run =
        run_binary::run(binary, folder.path, {"LAPLACE_BENCH_STANDIN_FAULT=cudaNoSuchCall"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("laplace_bench: LAPLACE_BENCH_STANDIN_FAULT: "), std::string::npos)
        << run.err;
}

}  // namespace
