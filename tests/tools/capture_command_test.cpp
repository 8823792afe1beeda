// `talvo capture`: the test card captured at each depth (a JPEG the decoders read, or an 8-bit BMP
// under the name with "bmp" as its extension), and failures reported with the right exit code and
// no file, partial or whole, left behind.
#include "support/bmp_builder.h"
#include "tools/run_talvo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// djpeg's decoding of a JPEG file: width, height and RGB bytes; empty when it complains.
struct Decoded {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    const std::uint8_t* At(int x, int y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }
};

Decoded Djpeg(const std::string& path) {
    Decoded d;
    const std::string cmd = "djpeg -outfile " + path + ".ppm " + path + " 2>djpeg.err";
    if (std::system(cmd.c_str()) != 0 || !ReadText("djpeg.err").empty()) {
        return d;
    }
    std::ifstream in(path + ".ppm", std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> d.width >> d.height >> maxval;
    in.get();
    d.rgb.resize(std::size_t(d.width) * d.height * 3);
    in.read(reinterpret_cast<char*>(d.rgb.data()), std::streamsize(d.rgb.size()));
    return d;
}

std::vector<std::string> TemporaryFiles() {
    std::vector<std::string> found;
    if (DIR* dir = opendir(".")) {
        while (dirent* e = readdir(dir)) {
            // Temporary files are hidden: a dot, the target's name and a suffix.
            if (e->d_name[0] == '.' && std::string(e->d_name).size() > 2) {
                found.push_back(e->d_name);
            }
        }
        closedir(dir);
    }
    return found;
}

// The colour bars, left to right, sampled in the middle of each bar, 100 rows down.
const COLORREF kBars[] = {RGB(255, 255, 255), RGB(255, 255, 0), RGB(0, 255, 255), RGB(0, 255, 0),
                          RGB(255, 0, 255),   RGB(255, 0, 0),   RGB(0, 0, 255),   RGB(0, 0, 0)};

TEST(CaptureCommand, CapturesTheTestCardAtEachDepth) {
    std::string out, err;
    for (const char* bpp : {"32", "16"}) {
        SCOPED_TRACE(bpp);
        const std::string name = std::string("card") + bpp + ".jpg";
        ASSERT_EQ(Talvo("capture " + name + " --bpp " + bpp, &out, &err), 0) << err;
        EXPECT_EQ(out, name + ": JPEG file at " + bpp + " bits per pixel\n");
        EXPECT_EQ(err, "");
        const Decoded d = Djpeg(name);
        ASSERT_EQ(d.width, 1024);
        ASSERT_EQ(d.height, 768);
        for (int i = 0; i < 8; ++i) {
            const std::uint8_t* p = d.At(64 + 128 * i, 100);
            // A 16-bit display drops the low bits of each channel, and the capture keeps them 0.
            const bool sixteen = std::string(bpp) == "16";
            const int want[3] = {GetRValue(kBars[i]) & (sixteen ? 0xF8 : 0xFF),
                                 GetGValue(kBars[i]) & (sixteen ? 0xFC : 0xFF),
                                 GetBValue(kBars[i]) & (sixteen ? 0xF8 : 0xFF)};
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(p[c], want[c], 8) << "bar " << i << " channel " << c;
            }
        }
    }

    // A file whose name the temporary's with "bmp" as its extension would have is someone
    // else's: the capture neither writes it nor takes it.
    std::ofstream(".eight.bmp.bmp") << "not ours";
    ASSERT_EQ(Talvo("capture eight.jpg --bpp 8", &out, &err), 0) << err;
    EXPECT_EQ(out, "eight.bmp: 8-bit BMP file at 8 bits per pixel\n");
    EXPECT_EQ(ReadText(".eight.bmp.bmp"), "not ours");
    std::remove(".eight.bmp.bmp");
    EXPECT_FALSE(bmpfile::Exists("eight.jpg"));
    const bmpfile::File f = bmpfile::Load("eight.bmp");
    ASSERT_TRUE(f.HasHeaders());
    EXPECT_EQ(f.BitCount(), 8);
    EXPECT_EQ(f.OffBits(), 1078u);
    ASSERT_EQ(f.Width(), 1024);
    ASSERT_EQ(f.Height(), 768);
    ASSERT_TRUE(f.RowsFit());
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(f.Color(64 + 128 * i, 100), kBars[i]) << "bar " << i;
    }

    ASSERT_EQ(Talvo("capture part.jpg --bpp 16 --rect 1,2,103,50", &out, &err), 0) << err;
    const Decoded part = Djpeg("part.jpg");
    EXPECT_EQ(part.width, 100);
    EXPECT_EQ(part.height, 48);
    EXPECT_EQ(TemporaryFiles(), std::vector<std::string>());
}

TEST(CaptureCommand, FailuresLeaveNoFile) {
    mkdir("folder", 0755);
    mkdir("folder.bmp", 0755);
    struct Case {
        const char* args;
        const char* shell; // run first, in the same shell
        int code;
        const char* message;
        const char* file; // must not exist afterwards
    } cases[] = {
        {"capture", "", 2, "no output file", nullptr},
        {"capture a.jpg --bpp 24", "", 2, "--bpp takes 32, 16 or 8", "a.jpg"},
        {"capture a.jpg --rect 1,2,3", "", 2, "--rect needs four integers", "a.jpg"},
        {"capture a.jpg --fast", "", 2, "unknown option '--fast'", "a.jpg"},
        {"capture no-such-dir/a.jpg", "", 1,
         "cannot create 'no-such-dir/a.jpg': No such file or directory", nullptr},
        {"capture folder", "", 1, "cannot create 'folder': Is a directory", nullptr},
        {"capture folder.jpg --bpp 8", "", 1, "cannot create 'folder.bmp': Is a directory",
         nullptr},
        {"capture off.jpg --rect 2000,0,3000,10", "", 1,
         "nothing to capture in the rectangle 2000,0,3000,10 (rounded to 2000,0,3000,8) on the "
         "1024 x 768 screen",
         "off.jpg"},
        {"capture off.jpg --rect 0,0,100,3 --bpp 8", "", 1,
         "nothing to capture in the rectangle 0,0,100,3 (rounded to 0,0,100,0)", "off.bmp"},
        {"capture full.jpg", "ulimit -f 8", 1, "cannot write 'full.jpg': File too large",
         "full.jpg"},
        {"capture full.jpg --bpp 8", "ulimit -f 8", 1, "cannot write 'full.bmp': File too large",
         "full.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        std::string out, err;
        EXPECT_EQ(Talvo(c.args, &out, &err, c.shell), c.code);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(out, "");
        if (c.file != nullptr) {
            EXPECT_FALSE(bmpfile::Exists(c.file));
        }
        EXPECT_EQ(TemporaryFiles(), std::vector<std::string>());
    }
    rmdir("folder");
    rmdir("folder.bmp");
}

} // namespace
