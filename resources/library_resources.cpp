#include "resources/library_resources.h"

#include <cstring>

#ifndef _WIN32
#include <platform/host.h>
#endif

const LibraryString kLibraryStrings[] = {
    {11001, 1033, "Notice"},
    {11002, 1033, "Minimum display resolution must be set to 800x600."},
    {11001, 1041, "お知らせ"},
    {11002, 1041, "画面の画像度が最小にも800x600以上でなければなりません。"},
    {11001, 1042, "알림"},
    {11002, 1042, "화면해상도가 최소한 800x600 이 되어야 합니다."},
    {11001, 2052, "提示"},
    {11002, 2052, "您需要至少800*600的屏幕分辨率进行游戏"},
    {11001, 3076, "告示"},
    {11002, 3076, "須要至少800*600的螢幕解析度進行遊戲"},
};
const std::size_t kLibraryStringCount = sizeof(kLibraryStrings) / sizeof(kLibraryStrings[0]);

namespace {

void put16(std::vector<BYTE>& out, std::size_t at, DWORD v) {
    out[at] = static_cast<BYTE>(v);
    out[at + 1] = static_cast<BYTE>(v >> 8);
}

void put32(std::vector<BYTE>& out, std::size_t at, DWORD v) {
    put16(out, at, v & 0xFFFF);
    put16(out, at + 2, v >> 16);
}

} // namespace

std::vector<BYTE> PatternBitmapFile() {
    constexpr int kSide = 8;
    constexpr std::size_t kOffBits = 14 + 40 + 256 * 4;
    std::vector<BYTE> file(kOffBits + kSide * kSide, 0);
    put16(file, 0, 0x4D42);
    put32(file, 2, static_cast<DWORD>(file.size()));
    put32(file, 10, kOffBits);
    put32(file, 14, 40);
    put32(file, 18, kSide);
    put32(file, 22, kSide); // positive: bottom-up
    put16(file, 26, 1);
    put16(file, 28, 8);
    put32(file, 34, kSide * kSide);
    file[54 + 1] = 0xFF; // entry 0: green
    file[58 + 2] = 0xFF; // entry 1: red
    for (int row = 0; row < kSide; ++row) {
        const int y = kSide - 1 - row; // the first stored row is the bottom one
        for (int x = 0; x < kSide; ++x) {
            file[kOffBits + row * kSide + x] = (x + y) % 2 == 0 ? 1 : 0;
        }
    }
    return file;
}

#ifndef _WIN32
void AddLibraryResources(HMODULE module) {
    for (std::size_t i = 0; i < kLibraryStringCount; ++i) {
        const LibraryString& s = kLibraryStrings[i];
        host::add_string_resource(module, s.id, s.language, s.utf8);
    }
    const std::vector<BYTE> pattern = PatternBitmapFile();
    host::add_bitmap_resource(module, MAKEINTRESOURCE(kPatternBitmapId), pattern.data(),
                              pattern.size());
}
#endif
