// The lookup-table files: 32768 little-endian 16-bit palette indices, one per colour reduced to
// 5 bits a channel, found through OpenFile's search and written to the current directory when
// missing. They spare each new process 32768 nearest-colour searches.
#include <DitherDib.h>

#include <bit>

namespace {

// The file is little-endian whatever the machine; the cache is kept in native order.
void swap_to_little_endian(WORD* table, int entries) {
    if constexpr (std::endian::native == std::endian::big) {
        for (int i = 0; i < entries; ++i) {
            table[i] = static_cast<WORD>((table[i] >> 8) | (table[i] << 8));
        }
    } else {
        (void)table;
        (void)entries;
    }
}

} // namespace

BOOL CDitherDib::LoadLookUpTable(WORD* table, int bitCount, int entries) {
    const char* name;
    int colours;
    if (bitCount == 8) {
        name = "256lkup.dat";
        colours = 256;
    } else if (bitCount == 4) {
        name = "16lkup.dat";
        colours = 16;
    } else {
        return 0;
    }
    if (entries <= 0 || entries > 32768) {
        return 0;
    }
    const UINT bytes = static_cast<UINT>(entries) * 2;

    OFSTRUCT ofs;
    HFILE file = OpenFile(name, &ofs, OF_READ);
    if (file != HFILE_ERROR) {
        // A short file leaves the rest of the table as the caller set it (empty marks), to be
        // filled by the search as colours turn up; what was read is not checked here, the
        // dithering loop refuses any index outside the palette.
        const UINT got = _lread(file, table, bytes);
        _lclose(file);
        if (got != static_cast<UINT>(HFILE_ERROR) && got > 0) {
            swap_to_little_endian(table, static_cast<int>(got / 2));
        }
        return 1;
    }

    // Each 5-bit level stands for the top value of its range of eight.
    for (int i = 0; i < 32; ++i) {
        for (int j = 0; j < 32; ++j) {
            for (int k = 0; k < 32; ++k) {
                const int entry = (i << 10) | (j << 5) | k;
                if (entry < entries) {
                    table[entry] = static_cast<WORD>(
                        Closest(s_sortedPal, s_redIndex, colours, 8 * i + 7, 8 * j + 7, 8 * k + 7));
                }
            }
        }
    }

    file = OpenFile(name, &ofs, OF_CREATE | OF_WRITE);
    if (file == HFILE_ERROR) {
        return 1; // used as computed, only not saved
    }
    swap_to_little_endian(table, entries);
    _lwrite(file, reinterpret_cast<LPCSTR>(table), bytes);
    swap_to_little_endian(table, entries);
    _lclose(file);
    return 1;
}
