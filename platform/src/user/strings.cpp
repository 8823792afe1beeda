// LoadStringA: a module's string in the user's language, in the ANSI code page, which on this
// platform is UTF-8.
#include "internal/faults.h"
#include "internal/kernel_internal.h"

#include <cstring>
#include <string>

namespace {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string to_utf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace

extern "C" int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    return platform::no_throw<int>(0, [&]() -> int {
        // There is no read-only pointer form in the ANSI version: a buffer is required.
        if (lpBuffer == nullptr || cchBufferMax <= 0) {
            return 0;
        }
        lpBuffer[0] = '\0';
        std::u16string text;
        if (!platform::find_string(hInstance, uID, text)) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        const std::string bytes = to_utf8(text);
        // A string longer than the buffer is cut at a character boundary, never inside one.
        std::size_t n = bytes.size();
        if (n > static_cast<std::size_t>(cchBufferMax - 1)) {
            n = static_cast<std::size_t>(cchBufferMax - 1);
            while (n > 0 && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80) {
                --n;
            }
        }
        std::memcpy(lpBuffer, bytes.data(), n);
        lpBuffer[n] = '\0';
        return static_cast<int>(n);
    });
}
