// Display utilities of CImage: the screen's depth, the minimum-resolution check with its notice
// and the main-window rectangle, and HTML colour texts.
#include <Image.h>

#include <cstdlib>
#include <mbstring.h>

namespace {

constexpr int kMinimumWidth = 800;
constexpr int kWindowWidth = 800;
constexpr int kWindowHeight = 572;
constexpr int kLayout1Width = 790;
constexpr int kLayout1Height = 574;

constexpr UINT kNoticeCaption = 11001;
constexpr UINT kNoticeText = 11002;

} // namespace

int CImage::GetSystemBitCount() {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return 0;
    }
    const int planes = GetDeviceCaps(screen, PLANES);
    const int bits = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    return planes * bits;
}

int CImage::CheckResolutionAndColor(CRect& rect, int nMode) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    if (width < kMinimumWidth) {
        // The strings come through the client's module chain in the user's language; one that
        // cannot be found leaves its part of the notice empty.
        CString caption;
        CString text;
        caption.LoadString(kNoticeCaption);
        text.LoadString(kNoticeText);
        MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    SystemParametersInfoA(SPI_GETWORKAREA, 0, static_cast<LPRECT>(&rect), 0);
    // Only the width is tested. The centring divisions truncate toward zero, so a screen lower
    // than the window gets a negative top.
    if (width != kMinimumWidth) {
        const int left = (width - kWindowWidth) / 2;
        const int top = (height - kWindowHeight) / 2;
        rect.SetRect(left, top, left + kWindowWidth, top + kWindowHeight);
    }
    if (nMode == 1) {
        const int left = (width - kLayout1Width) / 2;
        const int top = (height - kLayout1Height) / 2;
        rect.SetRect(left, top, left + kLayout1Width, top + kLayout1Height);
    }
    return 1;
}

COLORREF CImage::GetColorFromHTMLFormat(CString strColor) {
    if (strColor.GetLength() != 7) {
        return 0;
    }
    const CString prefix = strColor.Left(1);
    if (_mbscmp(reinterpret_cast<const unsigned char*>(static_cast<LPCSTR>(prefix)),
                reinterpret_cast<const unsigned char*>("#")) != 0) {
        return 0;
    }
    // Each piece is converted on its own as strtol reads it: white space, a sign and a 0x prefix
    // are taken, the first non-digit ends it, and a piece with no digit is 0.
    const auto piece = [&](int first) {
        const CString text = strColor.Mid(first, 2);
        return static_cast<DWORD>(std::strtol(text, nullptr, 16)) & 0xFF;
    };
    return piece(1) | piece(3) << 8 | piece(5) << 16;
}
