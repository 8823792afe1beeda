// The display through the host API: modes, the framebuffer and the screen DC drawing into it.
#include <windows.h>

#include "platform/host.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct DisplayReset {
    ~DisplayReset() { host::reset_display(); }
};

} // namespace

TEST(HostDisplay, DefaultModeAndRefusedModes) {
    DisplayReset reset;
    host::reset_display();
    host::DisplayMode m = host::display_mode();
    EXPECT_EQ(m.width, 1024);
    EXPECT_EQ(m.height, 768);
    EXPECT_EQ(m.bits_per_pixel, 32);
    const host::DisplayMode bad[] = {
        {0, 10, 32, {}}, {10, -1, 32, {}}, {16385, 10, 32, {}}, {10, 10, 15, {}}, {10, 10, 2, {}}};
    for (const auto& mode : bad) {
        EXPECT_FALSE(host::set_display_mode(mode));
    }
    EXPECT_EQ(host::display_mode().width, 1024); // unchanged
}

TEST(HostDisplay, ScreenDcDrawsIntoTheFramebufferInDeviceFormat) {
    DisplayReset reset;
    struct Case {
        int bpp;
        COLORREF color;
        std::uint32_t raw; // little-endian bytes of the pixel
    };
    const Case cases[] = {
        {32, RGB(0x12, 0x34, 0x56), 0x00123456}, {24, RGB(0x12, 0x34, 0x56), 0x123456},
        {16, RGB(0xFF, 0x80, 0x08), 0xFC01}, // 5-6-5: 11111 100000 00001
        {8, RGB(0xFF, 0x00, 0x00), 249},     // static red
        {4, RGB(0x00, 0x00, 0xFF), 12},      // standard blue
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(host::set_display_mode({64, 32, c.bpp, {}}));
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 64);
        SetPixel(screen, 2, 3, c.color);
        host::Framebuffer fb = host::screen_framebuffer();
        ASSERT_EQ(fb.bits_per_pixel, c.bpp);
        std::uint32_t raw = 0;
        if (c.bpp >= 8) {
            std::memcpy(&raw, fb.bits + 3 * fb.stride + 2 * c.bpp / 8, c.bpp / 8);
        } else {
            raw = fb.bits[3 * fb.stride + 1] >> 4; // pixel 2 is the high nibble of byte 1
        }
        EXPECT_EQ(raw, c.raw) << c.bpp;
        ReleaseDC(nullptr, screen);
    }
}
