// Every public operation of CImage, CImageEx and CDitherDib, the capture and the animation slots,
// with each creation the platform makes for it, and each of the platform's heap allocations,
// failing in turn (native only; heap_hook.cpp watches the heap). For every failure point: no
// crash, the result the operation gives without a fault or the one it documents for a failure,
// the object as that failure leaves it, and every GDI object, memory block, open file, image
// list and platform heap block made along the way released. At 32, 16 and 8 bits per pixel. The
// program prints how many failure points it visited.
//
// The finer promises (which failure an operation reports, which it absorbs, what a destination
// shows afterwards) are checked here for the Create and drawing operations of CImage and CImageEx,
// for the colour-key blit they draw with, and for the BMP writer.
#include "fault_sweep.h"
#include "image/draw_operations.h"
#include "image/strip_host_fixture.h"
#include "imageex/animation_test_util.h"
#include "support/host_display.h"

#include "dither/DitherDibAccess.h"

#include <DitherDib.h>
#include <Image.h>
#include <ImageEx.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

using strip_fixtures::Canvas;
using strip_fixtures::PaletteDisplay;
using strip_fixtures::StripProbe;
using namespace strip_host;
using testhost::Pass;
using testhost::SetDepth;

namespace {

unsigned g_operations = 0;
int g_boxes = 0; // message boxes shown since the last setup

class Tally : public ::testing::Environment {
public:
    void TearDown() override {
        std::printf("fault sweep: %u failure points visited (%u operations in the table)\n",
                    fault_sweep::swept_total, g_operations);
    }
};
[[maybe_unused]] ::testing::Environment* const kTally =
    ::testing::AddGlobalTestEnvironment(new Tally);

constexpr COLORREF kKey = RGB(255, 0, 255);

// What an operation works on, made anew before every run and released after it.
struct Subject {
    std::optional<StripProbe> strip;
    std::optional<CImageEx> ex, other;
    std::optional<CDitherDib> dib;
    std::optional<Canvas> canvas;
    std::optional<imageex_test::Canvas> exCanvas;
    std::optional<animation_test::Window> window;
    bool animation = false;
    PBITMAPINFO info = nullptr;
    HBITMAP oldBitmap = nullptr; // a CImageEx's strip and palette as setup left them
    HPALETTE oldPalette = nullptr;

    std::vector<COLORREF> before; // the canvas as setup left it

    CDC* dc() { return canvas->dc(); }
    HDC hdc() { return canvas->dc()->GetSafeHdc(); }
    HBITMAP bitmap() { return static_cast<HBITMAP>(GetCurrentObject(hdc(), OBJ_BITMAP)); }
    // Read from the bitmap, not through the DC: a draw may have selected another palette into it.
    std::vector<COLORREF> Pixels() { return bmpfile::colours_of(bitmap()); }
    void Release() {
        // The wrappers MFC made for handles it was given back go at idle time; now here.
        CGdiObject::DeleteTempMap();
        CDC::DeleteTempMap();
        if (animation) {
            TerminateAnimation();
            animation = false;
        }
        strip.reset();
        ex.reset();
        other.reset();
        dib.reset();
        canvas.reset();
        exCanvas.reset();
        window.reset();
        if (info != nullptr) {
            LocalFree(info);
            info = nullptr;
        }
        std::remove("capture.jpg");
        std::remove("capture.bmp");
    }
};

struct Operation {
    std::string name;
    std::function<void(Subject&)> setup;
    std::function<int(Subject&)> run;
    // The failure result; a failure the operation absorbs gives the result of a run without one.
    int failure = 0;
    // What a reported failure leaves of the object.
    std::function<void(Subject&)> failed_state = nullptr;
    // Finer checks where one of the platform's objects fails (`failed` counts among them); an
    // operation that has them is swept for its objects and its heap blocks apart.
    std::function<void(Subject&, unsigned failed, int result)> object_failure = nullptr;
    // How many failed objects give the result of a run without a fault, where that is pinned.
    int absorbed = -1;
};

// Runs every operation's sweep: the result of the faultless run is the success to expect.
void SweepAll(const std::vector<Operation>& operations) {
    for (const Operation& op : operations) {
        SCOPED_TRACE(op.name);
        const std::vector<unsigned> passes =
            op.object_failure ? std::vector<unsigned>{fault_sweep::objects, host::heap}
                              : std::vector<unsigned>{host::all};
        for (const unsigned kinds : passes) {
            Subject s;
            int result = 0, success = 0, absorbed = 0;
            sweep_creations([&] { op.setup(s); }, [&] { result = op.run(s); },
                            [&](unsigned failed) {
                                if (failed == 0) {
                                    success = result;
                                } else {
                                    EXPECT_TRUE(result == success || result == op.failure)
                                        << "result " << result;
                                    if (result != success && op.failed_state) {
                                        op.failed_state(s);
                                    }
                                    if (kinds == fault_sweep::objects) {
                                        absorbed += result == success ? 1 : 0;
                                        op.object_failure(s, failed, result);
                                    }
                                }
                                s.Release();
                            },
                            kinds);
            if (kinds == fault_sweep::objects && op.absorbed >= 0) {
                EXPECT_EQ(absorbed, op.absorbed) << "failures that give a complete result";
            }
        }
        ++g_operations;
    }
}

void ExpectEmptyDib(Subject& s) {
    EXPECT_EQ(CDitherDibAccess::Bits(*s.dib), nullptr);
    EXPECT_EQ(CDitherDibAccess::Info(*s.dib), nullptr);
}

class ApiFaults : public AtDepth {
protected:
    void SetUp() override {
        AtDepth::SetUp();
        host::set_message_box_handler([](HWND, const char* text, const char*, UINT) {
            g_boxes += std::string(text) == "write error" ? 1 : 100;
            return IDOK;
        });
        m_section.Attach(strip_fixtures::MakeClientSection(kWidth, kHeight, BusyStrip(kKey)));
        m_ddb.Attach(strip_fixtures::MakeDdb(kWidth, kHeight, BusyStrip(kKey)));
        m_background.Attach(strip_fixtures::MakeDdb(40, 20, BusyStrip(kBlue)));
        const imageex_test::Picture picture = animation_test::StripPicture(3);
        m_file24 = imageex_test::WriteFile("faults24.bmp", imageex_test::StripFile(picture, 24));
        // The platform's file table takes its room at the first open of the process and keeps
        // it: taken here, so that an operation whose failure path opens a file leaks nothing.
        CloseHandle(CreateFileA(kStripFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr));
        // The first dither of the process reads or writes the lookup-table file and keeps the
        // table: done here, so that every run of a sweep makes the same creations.
        StripProbe warm;
        ASSERT_EQ(warm.Create(&m_section, 3, kKey, 0, 0), 1);
    }
    void TearDown() override {
        host::clear_faults();
        host::set_message_box_handler(nullptr);
        m_section.DeleteObject();
        m_ddb.DeleteObject();
        m_background.DeleteObject();
        std::remove(m_file24.c_str());
        AtDepth::TearDown();
    }

    // A strip loaded from the section (semi-transparent, in `mode`), and a destination.
    std::function<void(Subject&)> Loaded(int mode) {
        return [this, mode](Subject& s) {
            s.strip.emplace();
            ASSERT_EQ(s.strip->Create(&m_section, 3, kKey, 1, mode), 1);
            s.canvas.emplace(40, 20, BusyStrip(kBlue));
            s.before = s.Pixels();
        };
    }
    std::function<void(Subject&)> LoadedEx(int mode) {
        return [this, mode](Subject& s) {
            s.ex.emplace();
            ASSERT_EQ(s.ex->Create(nullptr, m_file24.c_str(), animation_test::kFrames,
                                   animation_test::kKey, 0, mode),
                      1);
            s.canvas.emplace(40, 20, BusyStrip(kBlue));
        };
    }

    CBitmap m_section;
    CBitmap m_ddb;
    CBitmap m_background;
    std::string m_file24;
};

// Create over a strip already made; every drawing operation in the modes it draws in; the copy.
TEST_P(ApiFaults, CImage) {
    std::vector<Operation> ops;
    for (int mode : {0, 1}) {
        const std::string m = mode ? " (image list)" : " (bitmap)";
        // A strip made before in the same mode, which a failed Create keeps (and its geometry,
        // when the failure comes before the new one is set).
        const auto made = [this, mode](Subject& s) {
            s.strip.emplace();
            ASSERT_EQ(s.strip->Create(&m_section, 2, kBlue, 0, mode), 1);
        };
        const auto from = [mode](auto source) {
            return [mode, source](CImage& i, int semi) {
                return i.Create(source, 3, kKey, semi, mode);
            };
        };
        const std::pair<const char*, std::function<int(CImage&, int semi)>> creates[] = {
            {"Create(number)", from(kStripResource)},
            {"Create(name)", from(kStripName)},
            {"Create(file)", from(kStripFile)},
            {"Create(device bitmap)", from(&m_ddb)},
            {"Create(section)", from(&m_section)}};
        for (int semi : {0, 1}) {
            // The failures Create does not report, which still give a complete strip: the
            // screen DC through which each image-list step asks the display's depth (without it
            // the lists take the device-dependent format), and on palette displays the dithered
            // screen bitmap, which falls back to the undithered one. A colour-key draw that makes
            // the half-transparent bitmap and cannot finish fails the Create: a strip it reports
            // made holds the checkerboard.
            const int absorbed = PaletteDisplay() ? -1 : mode != 0 ? 1 + semi : 0;
            for (const auto& create : creates) {
                const auto& run = create.second;
                ops.push_back(
                    {create.first + m + (semi ? ", half-transparent" : ""), made,
                     [run, semi](Subject& s) { return run(*s.strip, semi); }, 0,
                     [mode](Subject& s) {
                         EXPECT_TRUE(s.strip->Empty());
                         EXPECT_EQ(s.strip->m_bImageListMethod, mode);
                         const bool set = s.strip->m_nImageNum == 3;
                         EXPECT_EQ(s.strip->m_crTransparent, set ? kKey : kBlue);
                         EXPECT_EQ(s.strip->GetImageSize(), CSize(set ? 10 : 15, kHeight));
                     },
                     [semi, mode](Subject& s, unsigned, int result) {
                         if (result != 0) {
                             EXPECT_EQ(s.strip->m_pBitmap != nullptr, mode == 0);
                             EXPECT_EQ(s.strip->m_pSemiBitmap != nullptr, semi && mode == 0);
                             // (On palette displays one of the two loads may fall back to
                             // the undithered bitmap, and the other not.)
                             if (s.strip->m_pSemiBitmap != nullptr && !PaletteDisplay()) {
                                 const CSize size = s.strip->GetBitmapSize();
                                 EXPECT_EQ(strip_fixtures::PixelsOf(s.strip->m_pSemiBitmap),
                                           strip_fixtures::SemiStripModel(
                                               strip_fixtures::PixelsOf(s.strip->m_pBitmap),
                                               size.cx, size.cy, strip_fixtures::StoredColour(kKey),
                                               strip_fixtures::StoredColour(strip_fixtures::kRed)));
                             }
                             EXPECT_EQ(s.strip->m_pImageList != nullptr, mode != 0);
                             EXPECT_EQ(s.strip->m_pSemiImageList != nullptr, semi && mode != 0);
                             EXPECT_EQ(s.strip->m_bImageListMethod, mode);
                         }
                     },
                     absorbed});
            }
        }
        for (const drawtest::DrawOperation& draw : drawtest::DrawOperations()) {
            if (!draw.RunsIn(mode != 0)) {
                continue;
            }
            // A failure among the operation's own working objects ends the call with 0, and so
            // does one in the image list's draw of a frame; a call that gives 0 has drawn nothing.
            const unsigned own = mode != 0 && !draw.offscreen ? 0 : draw.own;
            const bool listDraw = mode != 0 && !draw.animation;
            ops.push_back({draw.name + m, Loaded(mode),
                           [this, &draw](Subject& s) {
                               return draw.run(*s.strip, s.dc(), 2, 1, 1, &m_background);
                           },
                           0, nullptr,
                           [own, listDraw](Subject& s, unsigned failed, int result) {
                               if (failed <= own || listDraw) {
                                   EXPECT_EQ(result, 0);
                               }
                               if (result == 0) {
                                   EXPECT_EQ(s.Pixels(), s.before) << "a failed draw drew";
                               }
                           }});
        }
        ops.push_back({"copy" + m, Loaded(mode), [](Subject& s) {
                           return CImage(*s.strip).GetBitmap() == s.strip->GetBitmap();
                       }});
    }
    SweepAll(ops);
}

// The colour-key blit, each of its creations failing in turn: the frame draw stops with 0 at a
// working context it cannot create, in the order image, mask, cut-out, composite; a working
// bitmap it cannot make goes unreported (1). Either way the destination is untouched. The
// whole-bitmap draw reports nothing.
TEST_P(ApiFaults, ColourKeyBlit) {
    const int frameWidth = kWidth / 3;
    const std::vector<COLORREF> source = strip_fixtures::PixelsOf(&m_ddb);
    for (bool wholeBitmap : {false, true}) {
        SCOPED_TRACE(wholeBitmap ? "whole bitmap" : "frame 1");
        const int w = wholeBitmap ? kWidth : frameWidth;
        std::optional<Canvas> canvas;
        std::vector<COLORREF> before;
        int result = -1;
        StripProbe strip;
        strip.m_sizeImage = CSize(frameWidth, kHeight);
        strip.m_sizeBitmap = CSize(kWidth, kHeight);
        strip.m_crTransparent = kKey;
        const unsigned count = sweep_creations(
            [&] {
                canvas.emplace(w + 4, kHeight + 2, BusyStrip(kBlue));
                before = canvas->Pixels();
            },
            [&] {
                result = wholeBitmap ? strip.DrawBitmapTransparent(&m_ddb, canvas->dc(), 2, 1)
                                     : strip.DrawBitmapTransparent(&m_ddb, canvas->dc(), 2, 1, 1);
            },
            [&](unsigned failed) {
                if (failed == 0) {
                    EXPECT_EQ(result, 1);
                    EXPECT_EQ(canvas->Pixels(),
                              strip_fixtures::KeyedBlitModel(
                                  source, kWidth, wholeBitmap ? 0 : frameWidth, before, w + 4, 2, 1,
                                  w, kHeight, strip_fixtures::StoredColour(kKey)));
                } else {
                    const bool context = failed == 1 || failed == 2 || failed == 4 || failed == 6;
                    EXPECT_EQ(result, wholeBitmap || !context ? 1 : 0);
                    EXPECT_EQ(canvas->Pixels(), before);
                }
                canvas.reset();
            },
            fault_sweep::objects);
        EXPECT_EQ(count, 7u);
    }
}

// The static members: display queries, colours, the bitmap header and file, and the capture.
TEST_P(ApiFaults, CImageStatics) {
    const auto none = [](Subject&) {};
    const auto bitmap = [](Subject& s) { s.canvas.emplace(13, 5, BusyStrip(kBlue)); };
    std::vector<Operation> ops = {
        {"GetSystemBitCount", none, [](Subject&) { return CImage::GetSystemBitCount(); }},
        {"CheckResolutionAndColor", none,
         [](Subject&) {
             CRect r(0, 0, 0, 0);
             return CImage::CheckResolutionAndColor(r, 0);
         }},
        {"GetColorFromHTMLFormat", none,
         [](Subject&) { return int(CImage::GetColorFromHTMLFormat(CString("#FF8000"))); }},
        {"CreateBitmapInfoStruct", bitmap,
         [](Subject& s) {
             s.info = CImage::CreateBitmapInfoStruct(s.bitmap());
             return s.info != nullptr;
         }},
        {"CreateBMPFile",
         [bitmap](Subject& s) {
             bitmap(s);
             s.info = CImage::CreateBitmapInfoStruct(s.bitmap());
             ASSERT_NE(s.info, nullptr);
         },
         [](Subject& s) {
             const int r = CImage::CreateBMPFile(const_cast<char*>("capture.bmp"), s.info,
                                                 s.bitmap(), s.hdc());
             EXPECT_EQ(bmpfile::Exists("capture.bmp"), r == 1) << "a partial file";
             return r;
         },
         0, nullptr, [](Subject&, unsigned, int) {}, 0}, // the buffer and the file: each gives 0
    };
    // The capture at the run's depth, and with the 8-bit run at 4 bits (converted through
    // GetDIBits). A failure returns 1 and writes no file; on a palette display the file's open is
    // the last creation and its failure the one "write error" box.
    std::vector<int> depths = {GetParam()};
    if (GetParam() == 8) {
        depths.push_back(4);
    }
    for (const int depth : depths) {
        const std::string written = depth == 8 ? "capture.bmp" : "capture.jpg";
        const auto setup = [depth](Subject&) {
            SetDepth(depth);
            g_boxes = 0;
        };
        const auto capture = [](Subject&) {
            RECT r{3, 5, 43, 25};
            return CImage::CaptureWindowToFile(nullptr, &r, const_cast<char*>("capture.jpg"));
        };
        Subject dry;
        setup(dry);
        host::reset_creation_count();
        capture(dry);
        const unsigned total = host::creations_counted(fault_sweep::objects);
        dry.Release();
        // The screen and memory contexts, the copy, the two buffers and the file; on palette
        // displays the palette's entries too.
        EXPECT_EQ(total, depth <= 8 ? 7u : 6u);
        ops.push_back({"CaptureWindowToFile at " + std::to_string(depth) + " bpp", setup, capture,
                       1, nullptr, [=](Subject&, unsigned failed, int result) {
                           EXPECT_EQ(result, 1);
                           EXPECT_FALSE(bmpfile::Exists(written)) << "a failed capture wrote";
                           EXPECT_EQ(g_boxes, depth == 8 && failed == total ? 1 : 0);
                       }});
    }
    SweepAll(ops);
}

// CImageEx's Create and drawing operations at the run's depth and one more (24 bits with the
// 32-bit run, 4 with the 8-bit one), drawing also across a change of depth, whose reload is swept
// too. Where an object fails, Create reports it and keeps the old strip and palette, or (only the
// image list failed) the new bitmaps without a list; a drawing operation gives what it gives
// without a fault (the image-list draws: or 0, what ImageList_Draw returned) and leaves the whole
// picture, the untouched destination or, after a failed reload, what the old strip draws: never
// part of one. Heap failures get the leak checks and results only: the library does not check
// every step it draws or converts through.
TEST_P(ApiFaults, CImageEx) {
    using imageex_test::Picture;
    const std::vector<COLORREF> table = {RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 255, 0),
                                         RGB(0, 0, 255), RGB(255, 255, 255)};
    const Picture picture = imageex_test::RandomPicture(12, 3, table, 4);
    const std::vector<BYTE> bytes24 = imageex_test::StripFile(picture, 24);
    const std::string files[] = {
        imageex_test::WriteFile("fault8.bmp", imageex_test::StripFile(picture, 8, table)),
        imageex_test::WriteFile("fault24.bmp", bytes24)};
    const std::string earlier = imageex_test::WriteFile(
        "earlier.bmp", imageex_test::StripFile(imageex_test::RandomPicture(4, 2, table, 1), 24));
    const Picture background = imageex_test::RandomPicture(8, 5, table, 9);
    std::vector<int> depths = {GetParam()};
    if (GetParam() != 16) {
        depths.push_back(GetParam() == 32 ? 24 : 4);
    }
    std::vector<Operation> ops;
    for (const int depth : depths) {
        for (int list : {0, 1}) {
            const std::string at = std::to_string(depth) + " bpp" + (list ? ", image list" : "");
            for (const std::string& file : files) {
                for (bool loaded : {false, true}) {
                    ops.push_back(
                        {at + ", Create(" + file + (loaded ? ") over a strip" : ")"),
                         [=](Subject& s) {
                             SetDepth(depth);
                             s.ex.emplace();
                             if (loaded) {
                                 ASSERT_EQ(s.ex->Create(nullptr, earlier.c_str(), 2, 0, 0, 0), 1);
                             }
                             s.oldBitmap = CImageExProbe::Bitmap(*s.ex);
                             s.oldPalette = CImageExProbe::Palette(*s.ex);
                         },
                         [=](Subject& s) {
                             return s.ex->Create(nullptr, file.c_str(), 3, table[1], 0, list);
                         },
                         0, nullptr,
                         [=](Subject& s, unsigned, int) {
                             if (CImageExProbe::Bitmap(*s.ex) != s.oldBitmap) {
                                 EXPECT_EQ(list, 1); // only the image list could not be built
                                 EXPECT_EQ(CImageExProbe::ImageList(*s.ex), nullptr);
                                 EXPECT_EQ(CImageExProbe::Width(*s.ex), 4);
                             } else {
                                 EXPECT_EQ(CImageExProbe::Palette(*s.ex), s.oldPalette);
                                 EXPECT_EQ(CImageExProbe::Width(*s.ex), loaded ? 2 : 0);
                             }
                         },
                         0});
                }
            }
            for (bool change : {false, true}) {
                for (const imageex_test::DrawOperation& op : imageex_test::kDrawOperations) {
                    const std::string name = op.name;
                    const auto draw = [run = op.run](CImageEx& i, HDC dc) { return run(i, dc, 1); };
                    const auto prepare = [=](Subject& s) {
                        SetDepth(change ? (depth == 32 ? 16 : 32) : depth);
                        s.ex.emplace();
                        ASSERT_EQ(s.ex->Create(nullptr, files[1].c_str(), 3, table[1], 0, list), 1);
                        SetDepth(depth);
                        s.exCanvas.emplace(background);
                    };
                    // The run without a fault, and what the strip built for the other depth
                    // draws when the reload fails (it goes on with the old bitmaps).
                    Subject pre;
                    prepare(pre);
                    const Picture untouched = pre.exCanvas->Read();
                    const int whole = draw(*pre.ex, pre.exCanvas->dc());
                    const Picture drawn = pre.exCanvas->Read();
                    pre.Release();
                    Picture stale = untouched;
                    if (change) {
                        prepare(pre);
                        DeleteFileA(files[1].c_str());
                        draw(*pre.ex, pre.exCanvas->dc());
                        stale = pre.exCanvas->Read();
                        imageex_test::WriteFile(files[1], bytes24);
                        pre.Release();
                    }
                    const bool listDraw =
                        list == 1 && (name == "Draw" || name == "DrawTransparent");
                    ops.push_back(
                        {at + (change ? ", after a change of depth, " : ", ") + name, prepare,
                         [draw](Subject& s) { return draw(*s.ex, s.exCanvas->dc()); }, 0, nullptr,
                         [=](Subject& s, unsigned, int result) {
                             if (!listDraw) {
                                 EXPECT_EQ(result, whole);
                             }
                             const Picture now = s.exCanvas->Read();
                             EXPECT_TRUE(imageex_test::SamePicture(drawn, now) ||
                                         imageex_test::SamePicture(untouched, now) ||
                                         imageex_test::SamePicture(stale, now))
                                 << "a part of the picture was drawn";
                         }});
                }
            }
        }
    }
    SweepAll(ops);
}

// The copy and the assignment of a CImageEx.
TEST_P(ApiFaults, CImageExCopy) {
    std::vector<Operation> ops;
    for (int mode : {0, 1}) {
        const std::string m = mode ? " (image list)" : " (bitmap)";
        ops.push_back({"copy" + m, LoadedEx(mode), [](Subject& s) {
                           return CImageExProbe::Bitmap(CImageEx(*s.ex)) ==
                                  CImageExProbe::Bitmap(*s.ex);
                       }});
        // Over an object with a strip of its own, which goes.
        const auto two = [this, mode](Subject& s) {
            LoadedEx(mode)(s);
            s.other.emplace();
            ASSERT_EQ(s.other->Create(nullptr, m_file24.c_str(), 2, 0, 0, 0), 1);
        };
        ops.push_back({"assignment" + m, two, [](Subject& s) {
                           *s.other = *s.ex;
                           return CImageExProbe::Bitmap(*s.other) == CImageExProbe::Bitmap(*s.ex);
                       }});
    }
    SweepAll(ops);
}

// Taking a slot and drawing its first frames in every mode, stopping it, and the tables.
TEST_P(ApiFaults, AnimationSlots) {
    std::vector<Operation> ops;
    const auto slots = [this](Subject& s) {
        LoadedEx(0)(s);
        s.window.emplace(80, 40);
        ASSERT_EQ(InitializeAnimation(2), 1);
        s.animation = true;
    };
    // A table that cannot be made leaves none.
    ops.push_back({"InitializeAnimation", [](Subject& s) { s.animation = true; },
                   [](Subject&) { return InitializeAnimation(4); }, 0,
                   [](Subject&) { EXPECT_EQ(TerminateAnimation(), 0); }});
    for (int mode : {1, 2, 3, 11, 12, 13, 14}) {
        ops.push_back({"PlayAni mode " + std::to_string(mode), slots, [mode](Subject& s) {
                           const int r = s.ex->PlayAni(0, 0, s.window->hwnd(), 3, 2, mode, 100);
                           Pass(10);
                           Pass(10);
                           return r;
                       }});
    }
    // A slot taken in `mode` before the operation.
    const auto playing = [slots](int mode) {
        return [slots, mode](Subject& s) {
            slots(s);
            ASSERT_EQ(s.ex->PlayAni(1, 0, s.window->hwnd(), 3, 2, mode, 100), 1);
        };
    };
    ops.push_back({"StopAni", playing(12), [](Subject& s) { return s.ex->StopAni(1); }});
    ops.push_back({"DrawAnimation", playing(13), [](Subject& s) {
                       s.ex->DrawAnimation(1);
                       return 0;
                   }});
    ops.push_back({"TerminateAnimation", slots, [](Subject& s) {
                       s.animation = false;
                       return TerminateAnimation();
                   }});
    SweepAll(ops);
}

TEST_P(ApiFaults, CDitherDib) {
    const auto fresh = [](Subject& s) { s.dib.emplace(); };
    const auto loaded = [this](Subject& s) {
        s.dib.emplace();
        ASSERT_TRUE(s.dib->Create(&m_section));
    };
    const auto create = [](auto source) {
        return [source](Subject& s) { return s.dib->Create(source); };
    };
    const std::vector<Operation> ops = {
        {"Create(number)", fresh, create(kStripResource), 0, ExpectEmptyDib},
        {"Create(file)", fresh, create(kStripFile), 0, ExpectEmptyDib},
        {"Create(section)", fresh, create(&m_section), 0, ExpectEmptyDib},
        {"CreateBitmap", loaded,
         [](Subject& s) {
             std::unique_ptr<CPalette> palette(CDitherDib::CreateDitherPalette());
             std::unique_ptr<CBitmap> bitmap(s.dib->CreateBitmap(palette.get()));
             return bitmap != nullptr;
         }},
        {"CreateDitherPalette", [](Subject&) {},
         [](Subject&) {
             return std::unique_ptr<CPalette>(CDitherDib::CreateDitherPalette()) != nullptr;
         }},
        {"copy", loaded,
         [](Subject& s) { return CDitherDibAccess::Bits(CDitherDib(*s.dib)) != nullptr; }},
        {"assignment", loaded,
         [](Subject& s) {
             CDitherDib other;
             other = *s.dib;
             return CDitherDibAccess::Bits(other) != nullptr;
         }},
    };
    SweepAll(ops);
}

// The platform's loaders and creators, with each of their heap allocations failing in turn: the
// Win32 failure result with ERROR_NOT_ENOUGH_MEMORY, never an exception, nothing left behind.
// (ImageList_Create goes on when only the blackening of its fresh, already black bitmaps fails.)
TEST_P(ApiFaults, PlatformCreatorsFailForWantOfMemory) {
    HDC screen = GetDC(nullptr);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 9, -5, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<BYTE> pixels(9 * 3 * 5 + 5 * 3, 0x5A);
    // Each makes its object and releases it; null (or INVALID_HANDLE_VALUE) when making failed.
    const auto gdi = [](HGDIOBJ h) { return DeleteObject(h) ? h : nullptr; };
    const struct {
        const char* name;
        std::function<HANDLE()> make;
    } creators[] = {
        {"LoadImageA(file)",
         [&] {
             return gdi(LoadImageA(nullptr, kStripFile, IMAGE_BITMAP, 0, 0,
                                   LR_LOADFROMFILE | LR_CREATEDIBSECTION));
         }},
        {"LoadImageA(resource)",
         [&] {
             return gdi(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(kStripResource),
                                   IMAGE_BITMAP, 0, 0, 0));
         }},
        {"CreateDIBSection",
         [&] {
             void* bits = nullptr;
             return gdi(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
         }},
        {"CreateDIBitmap",
         [&] {
             return gdi(CreateDIBitmap(screen, &info.bmiHeader, CBM_INIT, pixels.data(), &info,
                                       DIB_RGB_COLORS));
         }},
        {"CreateCompatibleBitmap", [&] { return gdi(CreateCompatibleBitmap(screen, 9, 5)); }},
        {"CreateBitmap", [&] { return gdi(CreateBitmap(9, 5, 1, 1, nullptr)); }},
        {"CreateCompatibleDC", [&] { return gdi(CreateCompatibleDC(screen)); }},
        {"GetDC",
         [] {
             HDC dc = GetDC(nullptr);
             return dc != nullptr && ReleaseDC(nullptr, dc) ? dc : nullptr;
         }},
        {"CreateSolidBrush", [&] { return gdi(CreateSolidBrush(0x123456)); }},
        {"CreatePalette",
         [&] {
             LOGPALETTE pal = {0x300, 1, {{1, 2, 3, 0}}};
             return gdi(CreatePalette(&pal));
         }},
        {"ImageList_Create",
         [] {
             HIMAGELIST list = ImageList_Create(9, 5, ILC_COLOR24, 2, 2);
             return list != nullptr && ImageList_Destroy(list) ? HANDLE(list) : nullptr;
         }},
        {"CreateFileA",
         [] {
             HANDLE file = CreateFileA(kStripFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
             return file != INVALID_HANDLE_VALUE && CloseHandle(file) ? file : nullptr;
         }},
        {"GetDIBits",
         [&] {
             HBITMAP bmp = CreateCompatibleBitmap(screen, 9, 5);
             const int lines = GetDIBits(screen, bmp, 0, 5, pixels.data(), &info, DIB_RGB_COLORS);
             DeleteObject(bmp);
             return lines != 0 ? HANDLE(bmp) : nullptr;
         }},
    };
    for (const auto& c : creators) {
        SCOPED_TRACE(c.name);
        const bool absorbs = std::string(c.name) == "ImageList_Create";
        HANDLE made = nullptr;
        DWORD error = 0;
        const unsigned count =
            sweep_creations([] { SetLastError(0); },
                            [&] {
                                made = c.make();
                                error = GetLastError();
                            },
                            [&](unsigned n) {
                                if (n == 0 || !absorbs) {
                                    EXPECT_EQ(made == nullptr, n != 0);
                                }
                                if (made == nullptr) {
                                    EXPECT_EQ(error, DWORD(ERROR_NOT_ENOUGH_MEMORY));
                                }
                            },
                            host::heap);
        EXPECT_GT(count, 0u) << "no heap allocation seen: is the heap watched?";
    }
    ReleaseDC(nullptr, screen);
}

INSTANTIATE_TEST_SUITE_P(Depths, ApiFaults, ::testing::Values(32, 16, 8), DepthName);

} // namespace
