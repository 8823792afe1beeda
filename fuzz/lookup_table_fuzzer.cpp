// The lookup-table file reader on any bytes: a short, long or odd-sized "256lkup.dat" or
// "16lkup.dat" may fill the table only with what the file holds, never past the table's end,
// and entries it names beyond the palette must not be trusted by the dithering that follows.
#include "dither/DitherDibAccess.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader looks in the current directory: give each fuzzing process its own.
    char dir[] = "/tmp/lookup_table_fuzz_XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int bits = (data[0] & 1) ? 8 : 4;
    const char* name = bits == 8 ? "256lkup.dat" : "16lkup.dat";
    std::FILE* file = std::fopen(name, "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    // Guard words on both sides catch a write past either end.
    std::vector<WORD> table(32768 + 2, 0xA5A5);
    CDitherDibAccess::LoadLookUpTable(table.data() + 1, bits, 32768);
    if (table.front() != 0xA5A5 || table.back() != 0xA5A5) {
        std::abort();
    }

    // Then a whole dither with these tables in force, as the first dither of a process would.
    CDitherDibAccess::ForgetProcessTables();
    BYTE header[40 + 1024] = {};
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(header);
    h->biSize = 40;
    h->biWidth = 7;
    h->biHeight = 3;
    h->biPlanes = 1;
    h->biBitCount = 24;
    std::vector<BYTE> pixels(std::size_t(((7 * 24 + 31) / 32) * 4) * 3);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = data[i % size];
    }
    HGLOBAL block = CDitherDibAccess::DitherDIB(h, pixels.data(), bits);
    if (block != nullptr) {
        GlobalFree(block);
    }
    CDitherDibAccess::ForgetProcessTables();
    std::remove(name);
    return 0;
}
