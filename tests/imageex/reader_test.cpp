// Loading a CImageEx from a BMP file: every depth, colour tables and where the rows start, frame
// geometry, what Create stores, names that are not files, image lists, and copies. (Files the
// reader refuses: in the host test, which also counts what they leave behind.)
#include "imageex/imageex_fixture.h"

#include <afxcmn.h>

#include <memory>

using namespace imageex_test;

namespace {

// A colour table of `n` entries: the display's exact colours, repeated as needed.
std::vector<COLORREF> Table(int n) {
    const std::vector<COLORREF> exact = ExactColours();
    std::vector<COLORREF> t;
    for (int i = 0; i < n; ++i) {
        t.push_back(exact[i % exact.size()]);
    }
    return t;
}

// The picture of a 16-bit file as the reader shows it: each channel cut to five bits and
// widened again.
Picture Through555(Picture p) {
    for (COLORREF& c : p.pixels) {
        const auto w = [](int v) { return ((v >> 3) << 3) | (v >> 5); };
        c = RGB(w(GetRValue(c)), w(GetGValue(c)), w(GetBValue(c)));
    }
    return p;
}

// Draws every frame of `image` side by side and checks them against the picture.
void ExpectFrames(CImageEx& image, const Picture& picture, int frames) {
    const int w = picture.width / frames;
    const Picture background =
        RandomPicture(w * frames + 3, picture.height + 2, ExactColours(), 99);
    Canvas canvas(background);
    Picture expected = background;
    for (int k = 0; k < frames; ++k) {
        ASSERT_EQ(image.Draw(canvas.dc(), 1 + k * w, 1, k), 1);
        expected =
            Compose(expected, picture, k, w, 1 + k * w, 1, [](COLORREF f, COLORREF) { return f; });
    }
    EXPECT_TRUE(SamePicture(expected, canvas.Read()));
}

} // namespace

// Each depth the reader takes shows its pixels exactly (colours chosen so that the display
// keeps them), with the colour table's size deciding where the rows start.
TEST(ImageExReader, ReadsEveryDepthWithItsColourTable) {
    const struct {
        const char* name;
        int bits;
        int tableSize; // entries written to the file
        DWORD clrUsed;
        int paletteEntries; // 0: depends on the screen (no table in the file)
    } cases[] = {
        {"1 bit", 1, 2, 0, 2},
        {"4 bits", 4, 16, 0, 16},
        {"4 bits, biClrUsed 3 still takes 16 entries", 4, 16, 3, 16},
        {"8 bits, full table", 8, 256, 0, 256},
        {"8 bits, biClrUsed 16: rows at 118", 8, 16, 16, 16},
        {"4 bits naming 1000 colours takes 16", 4, 16, 1000, 16},
        {"24 bits naming 1000 colours has none", 24, 0, 1000, 0},
        {"16 bits", 16, 0, 0, 0},
        {"24 bits", 24, 0, 0, 0},
        {"32 bits", 32, 0, 0, 0},
    };
    const int screen = DisplayBits();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int frames = 3;
        std::vector<COLORREF> table = Table(c.tableSize);
        // Pictures use only the entries GDI takes from the header: a 4-bit file with
        // biClrUsed 3 names three colours, even though its table holds 16.
        const size_t named = c.clrUsed != 0 && c.clrUsed < table.size()
                                 ? c.clrUsed
                                 : std::min<size_t>(table.size(), 20);
        std::vector<COLORREF> colours =
            c.bits <= 8 ? std::vector<COLORREF>(table.begin(), table.begin() + named)
                        : ExactColours();
        if (c.bits == 16 && screen <= 8) {
            std::erase_if(colours, [](COLORREF v) {
                return Through555(Picture{1, 1, {v}}).pixels[0] != v;
            });
        }
        Picture picture = RandomPicture(7 * frames + 2, 5, colours, c.bits);
        const std::vector<BYTE> bytes = StripFile(picture, c.bits, table, c.clrUsed);
        if (c.bits == 8 && c.clrUsed == 16) {
            ASSERT_EQ(bytes.size(), 118u + 24 * 5); // rows follow the 16 entries
        }
        if (c.bits == 16) {
            picture = Through555(picture); // exact on palette screens: channels 0 and 255 only
        }
        CImageEx image;
        ASSERT_EQ(image.Create(nullptr, WriteFile("depth.bmp", bytes).c_str(), frames, 0, 0, 0), 1);
        EXPECT_EQ(CImageExProbe::Width(image), 7);
        EXPECT_EQ(CImageExProbe::Height(image), 5);
        EXPECT_EQ(CImageExProbe::BitCount(image), c.bits);
        EXPECT_EQ(CImageExProbe::WidthBytes(image), ((c.bits * 7 + 31) / 32) * 4);
        EXPECT_EQ(CImageExProbe::SystemBitCount(image), screen);
        const int entries =
            c.paletteEntries != 0 ? c.paletteEntries : (screen <= 8 ? 1 << screen : 0);
        EXPECT_EQ(PaletteEntries(CImageExProbe::Palette(image)), entries);
        BITMAP bm = {};
        ASSERT_NE(GetObjectA(CImageExProbe::Bitmap(image), sizeof(bm), &bm), 0);
        EXPECT_EQ(bm.bmWidth, 7 * frames + 2);
        EXPECT_EQ(bm.bmHeight, 5);
        EXPECT_EQ(bm.bmBitsPixel, screen);
        if (ValuesComparable()) {
            ExpectFrames(image, picture, frames);
        }
    }
}

// The palette follows the last file that has a colour table; a file without one keeps it.
TEST(ImageExReader, FileWithoutColourTableKeepsTheEarlierPalette) {
    const Picture picture = RandomPicture(4, 2, Table(2), 1);
    CImageEx image;
    ASSERT_EQ(image.Create(nullptr, WriteFile("one.bmp", StripFile(picture, 1, Table(2))).c_str(),
                           1, 0, 0, 0),
              1);
    const HPALETTE hPalette = CImageExProbe::Palette(image);
    ASSERT_EQ(PaletteEntries(hPalette), 2);
    ASSERT_EQ(
        image.Create(nullptr, WriteFile("rgb.bmp", StripFile(picture, 24)).c_str(), 1, 0, 0, 0), 1);
    EXPECT_EQ(CImageExProbe::Palette(image), hPalette);
}

TEST(ImageExReader, FrameGeometry) {
    const Picture picture = RandomPicture(100, 4, ExactColours(), 5);
    const std::string name = WriteFile("hundred.bmp", StripFile(picture, 24));
    const struct {
        int nImageNum;
        int frames;
        int width;
    } cases[] = {{3, 3, 33}, {1, 1, 100}, {0, 1, 100}, {-2, 1, 100}, {100, 100, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nImageNum);
        CImageEx image;
        ASSERT_EQ(image.Create(nullptr, name.c_str(), c.nImageNum, 0, 0, 0), 1);
        EXPECT_EQ(CImageExProbe::ImageNum(image), c.frames);
        EXPECT_EQ(CImageExProbe::Width(image), c.width);
    }

    // Frame indices: beyond the last draws the last; negative ones draw frame 0. The column
    // left over by 100 / 3 is never drawn.
    CImageEx image;
    ASSERT_EQ(image.Create(nullptr, name.c_str(), 3, 0, 0, 0), 1);
    const struct {
        int nImage;
        int frame;
    } indices[] = {{0, 0}, {2, 2}, {3, 2}, {1000, 2}, {-1, 0}, {-1000000, 0}};
    for (const auto& i : indices) {
        SCOPED_TRACE(i.nImage);
        const Picture background = RandomPicture(40, 6, ExactColours(), 6);
        Canvas canvas(background);
        ASSERT_EQ(image.Draw(canvas.dc(), 2, 1, i.nImage), 1);
        EXPECT_TRUE(SamePicture(
            Compose(background, picture, i.frame, 33, 2, 1, [](COLORREF f, COLORREF) { return f; }),
            canvas.Read()));
    }
}

// Create stores the window, name, frame count, key and mode before it reads the file, and keeps
// them when the read fails; names that are not files are refused. A path too long for the name
// field is refused too: the count and key are stored, the field keeps the last name (never
// overrun).
TEST(ImageExReader, NamesThatAreNotFilesKeepTheNewSettings) {
    CreateDirectoryA("a directory.bmp", nullptr);
    CImageEx image;
    EXPECT_EQ(image.Create(nullptr, "a directory.bmp", 1, 0, 0, 0), 0);
    EXPECT_EQ(image.Create(nullptr, "", 1, 0, 0, 0), 0);
    RemoveDirectoryA("a directory.bmp");

    const HWND hWnd = reinterpret_cast<HWND>(0x1234);
    const std::string fits(MAX_PATH - 1, 'x'); // no such file
    EXPECT_EQ(image.Create(hWnd, fits.c_str(), 4, RGB(1, 2, 3), 1, 1), 0);
    EXPECT_STREQ(CImageExProbe::FileName(image), fits.c_str());
    EXPECT_EQ(CImageExProbe::Wnd(image), hWnd);
    EXPECT_EQ(CImageExProbe::ImageNum(image), 4);
    EXPECT_EQ(CImageExProbe::Transparent(image), RGB(1, 2, 3));
    EXPECT_EQ(CImageExProbe::ImageListMethod(image), 1);
    EXPECT_EQ(CImageExProbe::Bitmap(image), nullptr);
    EXPECT_EQ(CImageExProbe::Palette(image), nullptr);
    EXPECT_EQ(CImageExProbe::Width(image), 0);
    Canvas canvas(4, 4);
    EXPECT_EQ(image.Draw(canvas.dc(), 0, 0, 0), 0);
    for (size_t length : {size_t{MAX_PATH}, size_t{MAX_PATH + 1}, size_t{5000}}) {
        const std::string tooLong(length, 'y');
        EXPECT_EQ(image.Create(nullptr, tooLong.c_str(), 3, RGB(9, 9, 9), 0, 0), 0);
        EXPECT_STREQ(CImageExProbe::FileName(image), fits.c_str());
        EXPECT_EQ(CImageExProbe::ImageNum(image), 3);
        EXPECT_EQ(CImageExProbe::Transparent(image), RGB(9, 9, 9));
    }
    EXPECT_EQ(image.Create(nullptr, nullptr, 1, 0, 0, 0), 0);
}

// A failed Create stores its frame count but keeps the strip it had: an index beyond the frames
// that strip holds draws its last frame, in both modes, never columns beyond it. The largest
// counts make every operation's source column a product far past an int.
TEST(ImageExReader, FailedCreateKeepsDrawingTheFramesOfTheStripItHolds) {
    std::vector<COLORREF> colours = ExactColours();
    const COLORREF key = colours.back(); // in no pixel: the list draws the frame unmasked
    colours.pop_back();
    const Picture picture = RandomPicture(12, 3, colours, 31);
    const std::string name = WriteFile("held.bmp", StripFile(picture, 24));
    for (int listMode : {0, 1}) {
        SCOPED_TRACE(listMode);
        for (int count : {5, 0x7FFFFFFF}) {
            SCOPED_TRACE(count);
            CImageEx image;
            ASSERT_EQ(image.Create(nullptr, name.c_str(), 2, key, 0, listMode), 1);
            ASSERT_EQ(image.Create(nullptr, "no such strip.bmp", count, key, 0, listMode), 0);
            ASSERT_EQ(CImageExProbe::ImageNum(image), count);
            const Picture background = RandomPicture(9, 5, ExactColours(), 32);
            for (const DrawOperation& op : kDrawOperations) {
                SCOPED_TRACE(op.name);
                Canvas canvas(background);
                op.run(image, canvas.dc(), count - 1);
                if (op.run == kDrawOperations[0].run && ValuesComparable()) {
                    EXPECT_TRUE(SamePicture(Compose(background, picture, 1, 6, 1, 1,
                                                    [](COLORREF f, COLORREF) { return f; }),
                                            canvas.Read()));
                }
            }
        }
    }
}

// In image-list mode the list holds one masked image per frame, made in the screen's colour
// format: 16 bits with ILC_COLOR16 | ILC_MASK (0x0011), palette screens with ILC_COLORDDB |
// ILC_MASK (0x00FF), a device bitmap of the display's depth.
TEST(ImageExReader, ImageListModeBuildsOneMaskedImagePerFrame) {
    const Picture picture = RandomPicture(12, 3, ExactColours(), 8);
    CImageEx image;
    ASSERT_EQ(image.Create(nullptr, WriteFile("list.bmp", StripFile(picture, 24)).c_str(), 4,
                           picture.at(0, 0), 0, 7),
              1);
    EXPECT_EQ(CImageExProbe::ImageListMethod(image), 1); // exactly 1, whatever was passed
    ASSERT_NE(CImageExProbe::ImageListBitmap(image), nullptr);
    EXPECT_NE(CImageExProbe::ImageListBitmap(image), CImageExProbe::Bitmap(image));
    CImageList* list = CImageExProbe::ImageList(image);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(list->m_hImageList), 4);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(list->m_hImageList, &cx, &cy);
    EXPECT_EQ(cx, 3);
    EXPECT_EQ(cy, 3);
    IMAGEINFO info = {};
    ASSERT_TRUE(ImageList_GetImageInfo(list->m_hImageList, 0, &info));
    EXPECT_NE(info.hbmMask, nullptr);
#ifndef _WIN32 // how the list stores its images is the platform's; Wine's comctl32 differs
    DIBSECTION ds = {};
    const int got = GetObjectA(info.hbmImage, sizeof(ds), &ds);
    const int screen = DisplayBits();
    // A device bitmap (ILC_COLORDDB) on palette screens.
    EXPECT_EQ(got, static_cast<int>(screen <= 8 ? sizeof(BITMAP) : sizeof(DIBSECTION)));
    EXPECT_EQ(ds.dsBm.bmBitsPixel, screen);
#endif
}

// Copies hold the same objects; each object is released once, by the last holder, whichever
// order copies are assigned, reloaded and destroyed in.
TEST(ImageExReader, CopiesShareTheStripSafely) {
    const Picture a = RandomPicture(6, 2, ExactColours(), 21);
    const Picture b = RandomPicture(4, 3, Table(20), 22);
    const std::string fileA = WriteFile("copy_a.bmp", StripFile(a, 24));
    const std::string fileB = WriteFile("copy_b.bmp", StripFile(b, 8, Table(20)));

    auto original = std::make_unique<CImageEx>();
    ASSERT_EQ(original->Create(nullptr, fileA.c_str(), 2, a.at(0, 0), 0, 1), 1);
    CImageEx copy(*original);
    EXPECT_EQ(CImageExProbe::Bitmap(copy), CImageExProbe::Bitmap(*original));
    EXPECT_EQ(CImageExProbe::ImageList(copy), CImageExProbe::ImageList(*original));
    EXPECT_STREQ(CImageExProbe::FileName(copy), fileA.c_str());
    CImageEx assigned;
    ASSERT_EQ(assigned.Create(nullptr, fileB.c_str(), 1, 0, 0, 0), 1);
    assigned = copy;
    CImageEx& alias = assigned;
    assigned = alias; // assignment to itself keeps the strip
    CImageEx chain(assigned);
    original.reset();

    for (CImageEx* image : {&copy, &assigned, &chain}) {
        SCOPED_TRACE(image == &copy ? "copy" : image == &assigned ? "assigned" : "chain");
        ExpectFrames(*image, a, 2);
    }
    // A reload in one copy replaces only its own objects.
    ASSERT_EQ(chain.Create(nullptr, fileB.c_str(), 1, 0, 0, 0), 1);
    {
        SCOPED_TRACE("after the reload");
        ExpectFrames(copy, a, 2);
        ExpectFrames(chain, b, 1);
    }
    copy = chain;
    SCOPED_TRACE("after assigning the reloaded copy");
    ExpectFrames(copy, b, 1);
    ExpectFrames(assigned, a, 2);
}

// Strips kept in globals are released by the C++ runtime after main has returned; this one and a
// copy of it are still loaded then, the copy still animating, and each shared object must still
// be released once and the animation timer stopped (run under ASan).
CImageEx g_loadedAtExit;
CImageEx g_copyAtExit;

TEST(ImageExReader, StripsWithStaticStorageAreReleasedAtExit) {
    const Picture a = RandomPicture(4, 2, ExactColours(), 23);
    const std::string file = WriteFile("exit.bmp", StripFile(a, 24));
    ASSERT_EQ(g_loadedAtExit.Create(nullptr, file.c_str(), 2, a.at(0, 0), 0, 1), 1);
    g_copyAtExit = g_loadedAtExit;
    EXPECT_EQ(CImageExProbe::Bitmap(g_copyAtExit), CImageExProbe::Bitmap(g_loadedAtExit));
    ASSERT_EQ(InitializeAnimation(1), 1);
    ASSERT_EQ(g_copyAtExit.PlayAni(0, 10, nullptr, 0, 0, 11, 0), 1);
}
