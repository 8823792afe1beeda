#include <windows.h>
#include <stdlib.h>
#include <mbstring.h>

#include <gtest/gtest.h>

TEST(Runtime, SplitPathGivesTheFourParts) {
    struct Case {
        const char* path;
        const char* drive;
        const char* dir;
        const char* fname;
        const char* ext;
    };
    const Case cases[] = {
        {"c:\\shots\\shot.jpg", "c:", "\\shots\\", "shot", ".jpg"},
        {"shot", "", "", "shot", ""},
        {"dir.x/shot", "", "dir.x/", "shot", ""},
        {"a/b.c.d", "", "a/", "b.c", ".d"},
        {".hidden", "", "", "", ".hidden"},
    };
    for (const Case& c : cases) {
        char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
        _splitpath(c.path, drive, dir, fname, ext);
        EXPECT_STREQ(drive, c.drive) << c.path;
        EXPECT_STREQ(dir, c.dir) << c.path;
        EXPECT_STREQ(fname, c.fname) << c.path;
        EXPECT_STREQ(ext, c.ext) << c.path;
    }
}

TEST(Runtime, MakePathAddsSeparatorAndDot) {
    char path[_MAX_PATH];
    _makepath(path, "c:", "\\shots", "shot", "bmp");
    EXPECT_STREQ(path, "c:\\shots\\shot.bmp");
    _makepath(path, "", "out/", "shot", ".bmp");
    EXPECT_STREQ(path, "out/shot.bmp");
    _makepath(path, nullptr, nullptr, "shot", nullptr);
    EXPECT_STREQ(path, "shot");
}

TEST(Runtime, MbscmpComparesUnsignedBytes) {
    const unsigned char a[] = "#", b[] = "#", c[] = "\xff";
    EXPECT_EQ(_mbscmp(a, b), 0);
    EXPECT_LT(_mbscmp(a, c), 0);
    EXPECT_GT(_mbscmp(c, a), 0);
}
