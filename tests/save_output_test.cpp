#include "image/save_output.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "run_binary.h"

namespace {

class SaveOutput : public ::testing::Test {
protected:
    void SetUp() override {
        ilInit();
        iluInit();
        ilGenImages(1, &image_);
        ilBindImage(image_);
        std::vector<unsigned char> pixels(3 * 10 * 7, 0x40);
        ASSERT_TRUE(ilTexImage(10, 7, 1, 3, IL_BGR, IL_UNSIGNED_BYTE, pixels.data()));
    }
    void TearDown() override { ilDeleteImages(1, &image_); }
    ILuint image_ = 0;
};

TEST_F(SaveOutput, WritesACompleteFileWithTheUsualMode) {
    run_binary::work_folder folder;
    const mode_t old_mask = umask(022);
    const std::string path = (folder.path / "output.bmp").string();
    EXPECT_TRUE(save_output_image(path.c_str()));
    umask(old_mask);
    struct stat saved {};
    ASSERT_EQ(stat(path.c_str(), &saved), 0);
    EXPECT_EQ(saved.st_size, 54 + 32 * 7);  // rows of 30 bytes padded to 32
    EXPECT_EQ(saved.st_mode & 0777, 0644u);
    EXPECT_EQ(folder.entries().size(), 1u);
}

// DevIL reports success when the device is full; the size check does not.
TEST_F(SaveOutput, AFullDeviceIsAFailedWrite) {
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(write_bmp_checked("/dev/full", "output.bmp"));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("laplace_bench: output.bmp: "),
              std::string::npos);
}

}  // namespace
