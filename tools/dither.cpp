// talvo dither: reduces a true-colour bitmap file to the 256- or 16-colour palette the way the
// library does on an 8- or 4-bit display, and writes the dithered image as a bitmap file.
#include "commands.h"

#include "dither/DitherDibAccess.h"
#include "output_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] = "IN.bmp OUT.bmp [--colors 256|16] [--repeat N]";

void print_help(std::FILE* out) {
    std::fprintf(
        out,
        "usage: talvo dither %s\n\n"
        "Loads IN.bmp as CDitherDib does, dithers it by error diffusion onto the fixed\n"
        "256-colour palette (8-bit display) or 16-colour palette (4-bit display), and\n"
        "writes OUT.bmp: a file header followed by the dithered image exactly as the\n"
        "library makes it. The lookup-table file (256lkup.dat or 16lkup.dat) is read from\n"
        "the current directory, or computed and written there when missing.\n\n"
        "  --colors 256|16  palette size (default 256)\n"
        "  --repeat N       dither N times and print the best time and its Mpx/s\n"
        "  --help           this text\n",
        kUsage);
}

int fail(const std::string& message) {
    std::fprintf(stderr, "talvo dither: %s\n", message.c_str());
    return 1;
}

// A command line the program cannot take: the reason, the usage line, exit code 2.
int usage_error(const std::string& message) {
    std::fprintf(stderr, "talvo dither: %s\nusage: talvo dither %s\n", message.c_str(), kUsage);
    return 2;
}

bool parse_count(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= low && value <= high;
}

void put16(BYTE* p, unsigned v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}

void put32(BYTE* p, unsigned v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

// A file header, then the block as the library made it (information header, colour table, rows).
bool write_bitmap_file(OutputFile& out, HGLOBAL block, int colours) {
    const SIZE_T size = GlobalSize(block);
    const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(block));
    if (bytes == nullptr) {
        return false;
    }
    BYTE header[14] = {'B', 'M'};
    put32(header + 2, static_cast<unsigned>(14 + size));
    put32(header + 10, static_cast<unsigned>(14 + 40 + 4 * colours));
    const bool ok = out.Write(header, sizeof(header)) && out.Write(bytes, size) && out.Commit();
    GlobalUnlock(block);
    return ok;
}

int run_dither(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    long colours = 256;
    long repeat = 0;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            print_help(stdout);
            return 0;
        }
        if (arg == "--colors" || arg == "--repeat") {
            if (i + 1 >= argc) {
                return usage_error(arg + " needs a value");
            }
            const char* value = argv[++i];
            if (arg == "--colors") {
                if (!parse_count(value, 16, 256, colours) || (colours != 16 && colours != 256)) {
                    return usage_error(std::string("--colors takes 256 or 16, not '") + value +
                                       "'");
                }
            } else if (!parse_count(value, 1, 1000000, repeat)) {
                return usage_error(std::string("--repeat takes a count from 1, not '") + value +
                                   "'");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option '" + arg + "'");
        } else if (in == nullptr) {
            in = argv[i];
        } else if (out == nullptr) {
            out = argv[i];
        } else {
            return usage_error("too many arguments");
        }
    }
    if (in == nullptr || out == nullptr) {
        std::fprintf(stderr, "usage: talvo dither %s\n", kUsage);
        return 2;
    }

    // Fail early, with the system's reason, when the output cannot be created.
    OutputFile file(out);
    if (!file.ok()) {
        return fail(std::string("cannot create '") + out + "': " + file.reason());
    }

    CDitherDib dib;
    ClearFailureReason();
    if (!dib.Create(in)) {
        if (FailedForMemory()) {
            return fail(std::string("out of memory reading '") + in + "'");
        }
        return fail(std::string("cannot read '") + in + "' as a bitmap file");
    }
    const BITMAPINFOHEADER* info = CDitherDibAccess::Info(dib);
    if (info->biBitCount <= 8) {
        return fail(std::string("'") + in + "' has " + std::to_string(info->biBitCount) +
                    " bits per pixel; only images of more than 8 are dithered");
    }
    const int displayBits = colours == 256 ? 8 : 4;

    HGLOBAL block = nullptr;
    double best = 0;
    for (long run = 0; run < (repeat > 0 ? repeat : 1); ++run) {
        const auto start = std::chrono::steady_clock::now();
        ClearFailureReason();
        HGLOBAL made = CDitherDibAccess::DitherDIB(info, CDitherDibAccess::Bits(dib), displayBits);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (made == nullptr) {
            if (block != nullptr) {
                GlobalFree(block);
            }
            return fail(
                std::string(FailedForMemory() ? "out of memory dithering '" : "cannot dither '") +
                in + "'");
        }
        if (block != nullptr) {
            GlobalFree(block);
        }
        block = made;
        if (run == 0 || seconds < best) {
            best = seconds;
        }
    }

    const bool written = write_bitmap_file(file, block, static_cast<int>(colours));
    GlobalFree(block);
    if (!written) {
        return fail(std::string("cannot write '") + out + "': " + file.reason());
    }
    if (repeat > 0) {
        const double pixels =
            static_cast<double>(info->biWidth) * std::abs(static_cast<double>(info->biHeight));
        std::printf("dither: %ldx%ld to %ld colours, best of %ld: %.3f ms, %.1f Mpx/s\n",
                    static_cast<long>(info->biWidth), std::labs(info->biHeight), colours, repeat,
                    best * 1e3, pixels / best / 1e6);
    }
    return 0;
}

} // namespace

extern const Command kDitherCommand = {
    "dither", kUsage, "dither a true-colour bitmap file onto the 256- or 16-colour palette",
    run_dither};
