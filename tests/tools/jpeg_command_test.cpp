// `talvo jpeg`: BMP files of several depths become the same bytes as the literal encoder gives
// for their pixels, and every failure is reported with the exit code of its kind.
#include "capture/jpeg_reference.h"
#include "capture/test_images.h"
#include "support/bmp_builder.h"
#include "tools/run_talvo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A bottom-up BMP file of the image at 24 or 32 bits, or at 8 bits through a palette that holds
// every colour the image uses (the image must have at most 256 of them).
void WriteBmp(testimages::Image& img, int bits, const std::string& path) {
    const auto colour = [&](int x, int y) {
        return RGB(img.At(x, y)[2], img.At(x, y)[1], img.At(x, y)[0]);
    };
    std::vector<COLORREF> table;
    for (int i = 0; bits == 8 && i < img.width * img.height; ++i) {
        const COLORREF c = colour(i % img.width, i / img.width);
        if (std::find(table.begin(), table.end(), c) == table.end()) {
            table.push_back(c);
        }
    }
    ASSERT_LE(table.size(), 256u);
    table.resize(bits == 8 ? 256 : 0, RGB(0, 0, 0));
    bmpfile::write(path, bmpfile::from_pixels(img.width, img.height, bits, colour, table));
}

TEST(JpegCommand, EncodesBmpFilesOfEveryDepthLikeTheLiteralEncoder) {
    struct Case {
        testimages::Kind kind;
        int width, height, bits;
    } cases[] = {
        {testimages::Kind::Photo, 203, 117, 24}, {testimages::Kind::Photo, 64, 48, 32},
        {testimages::Kind::Edges, 37, 21, 8},    {testimages::Kind::Flat, 1, 1, 24},
        {testimages::Kind::Noise, 17, 9, 24},
    };
    unsigned seed = 70;
    for (const Case& c : cases) {
        auto img = testimages::Make(c.kind, c.width, c.height, seed++);
        std::string name = std::string(testimages::Name(c.kind)) + std::to_string(c.bits);
        WriteBmp(img, c.bits, name + ".bmp");
        std::string err;
        ASSERT_EQ(Talvo("jpeg " + name + ".bmp " + name + ".jpg", nullptr, &err), 0) << err;
        EXPECT_EQ(err, "");
        EXPECT_TRUE(bmpfile::ReadAll(name + ".jpg") ==
                    reference::Encode(img.width, img.height, img.bits.data()))
            << name;
    }
    // A name as long as the system takes: the temporary beside it gets a shorter one.
    const std::string longest = std::string(251, 'n') + ".jpg";
    std::string err;
    ASSERT_EQ(Talvo("jpeg flat24.bmp " + longest, nullptr, &err), 0) << err;
    EXPECT_TRUE(bmpfile::ReadAll(longest) == bmpfile::ReadAll("flat24.jpg"));
}

// A target that is a link keeps its link, and the file it names gets the picture (made here);
// a pipe is not replaced by a file: the encoder's file cannot be written into it, so it is
// refused, and the bitmap writer of the dither command writes into it.
TEST(JpegCommand, WritesThroughLinksAndLeavesPipes) {
    auto img = testimages::Make(testimages::Kind::Photo, 24, 16, 9);
    WriteBmp(img, 24, "through.bmp");
    std::remove("real.jpg");
    std::remove("link.jpg");
    ASSERT_EQ(symlink("real.jpg", "link.jpg"), 0);
    std::string err;
    ASSERT_EQ(Talvo("jpeg through.bmp link.jpg", nullptr, &err), 0) << err;
    struct stat st;
    ASSERT_EQ(lstat("link.jpg", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(bmpfile::ReadAll("real.jpg") == reference::Encode(24, 16, img.bits.data()));
    // The file replaced keeps its permissions, private ones too.
    ASSERT_EQ(chmod("real.jpg", 0600), 0);
    ASSERT_EQ(Talvo("jpeg through.bmp link.jpg", nullptr, &err), 0) << err;
    ASSERT_EQ(stat("real.jpg", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    std::remove("pipe.out");
    ASSERT_EQ(mkfifo("pipe.out", 0600), 0);
    EXPECT_EQ(Talvo("jpeg through.bmp pipe.out", nullptr, &err), 1);
    EXPECT_NE(err.find("cannot write 'pipe.out': not a regular file"), std::string::npos) << err;
    const std::string cmd = std::string("timeout 20 cat pipe.out > piped.bmp & ") + TALVO_PROGRAM +
                            " dither through.bmp pipe.out 2>cmd.err; r=$?; wait; exit $r";
    const int status = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText("cmd.err");
    ASSERT_EQ(lstat("pipe.out", &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(bmpfile::Load("piped.bmp").BitCount(), 8);
    std::remove("pipe.out");
}

TEST(JpegCommand, RepeatReportsSpeed) {
    auto img = testimages::Make(testimages::Kind::Photo, 48, 32, 5);
    WriteBmp(img, 24, "repeat.bmp");
    std::string out;
    ASSERT_EQ(Talvo("jpeg repeat.bmp repeat.jpg --repeat 3", &out), 0);
    EXPECT_NE(out.find("48 x 32: best of 3:"), std::string::npos) << out;
    EXPECT_NE(out.find("Mpx/s"), std::string::npos) << out;
    EXPECT_TRUE(bmpfile::ReadAll("repeat.jpg") == reference::Encode(48, 32, img.bits.data()));
    ASSERT_EQ(Talvo("jpeg --help", &out), 0);
    EXPECT_NE(out.find("usage: talvo jpeg IN.bmp OUT.jpg [--repeat N]"), std::string::npos);
}

TEST(JpegCommand, FailuresGoToStandardErrorWithTheirExitCode) {
    auto img = testimages::Make(testimages::Kind::Flat, 8, 8, 6);
    WriteBmp(img, 24, "ok.bmp");
    std::ofstream("not-a-bitmap.bmp") << "this is text, not a bitmap";
    struct Case {
        const char* args;
        int code; // 2 for a usage error, 1 for a failure
        const char* message;
    } cases[] = {
        {"jpeg", 2, "usage: talvo jpeg"},
        {"jpeg ok.bmp", 2, "usage: talvo jpeg"},
        {"jpeg ok.bmp a.jpg b.jpg", 2, "too many arguments"},
        {"jpeg ok.bmp a.jpg --repeat", 2, "--repeat needs a count"},
        {"jpeg ok.bmp a.jpg --repeat 0", 2, "--repeat needs a count"},
        {"jpeg ok.bmp a.jpg --fast", 2, "unknown option"},
        {"jpeg missing.bmp a.jpg", 1, "cannot load 'missing.bmp'"},
        {"jpeg not-a-bitmap.bmp a.jpg", 1, "cannot load 'not-a-bitmap.bmp'"},
        {"jpeg ok.bmp no-such-folder/a.jpg", 1,
         "cannot create 'no-such-folder/a.jpg': No such file or directory"},
        {"jpeg ok.bmp .", 1, "cannot create '.'"},
        {"jpeg ok.bmp ''", 1, "cannot create '': No such file or directory"},
    };
    for (const Case& c : cases) {
        std::string out, err;
        EXPECT_EQ(Talvo(c.args, &out, &err), c.code) << c.args;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << ": " << err;
        EXPECT_EQ(out, "") << c.args;
    }
}

} // namespace
