// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the tables of code page 932 (see Cp932.h) as C++ source to standard
// output, from the C library's "CP932" converter. It runs on the build machine
// at build time, for every platform's build, so that a tag reads and writes the
// same everywhere, whatever converter the platform itself has.
#include <iconv.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr unsigned kTrailFirst = 0x40;
constexpr unsigned kTrailEnd = 0xFD;
constexpr unsigned kInvalid = 0xFFFD;

bool isLeadByte(unsigned byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

unsigned toUnicode(iconv_t cd, const char* bytes, std::size_t len) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes);
    unsigned char out[8];
    char* outp = reinterpret_cast<char*>(out);
    std::size_t inLeft = len, outLeft = sizeof out;
    if (iconv(cd, &in, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0 ||
        sizeof out - outLeft != 2)
        return kInvalid;
    return out[0] | (out[1] << 8u);
}

unsigned fromUnicode(iconv_t cd, unsigned ch) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in[2] = {static_cast<char>(ch & 0xFF), static_cast<char>(ch >> 8)};
    char* inp = in;
    unsigned char out[4];
    char* outp = reinterpret_cast<char*>(out);
    std::size_t inLeft = 2, outLeft = sizeof out;
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1)) return 0;
    const std::size_t n = sizeof out - outLeft;
    if (n == 1) return out[0];
    if (n == 2) return static_cast<unsigned>(out[0] << 8u | out[1]);
    return 0;
}

void item(unsigned value, unsigned& column) {
    std::printf("0x%04X,%s", value, ++column % 12 == 0 ? "\n" : " ");
}

}  // namespace

int main() {
    const iconv_t toUnicodeCd = iconv_open("UTF-16LE", "CP932");
    const iconv_t fromUnicodeCd = iconv_open("CP932", "UTF-16LE");
    if (toUnicodeCd == reinterpret_cast<iconv_t>(-1) ||
        fromUnicodeCd == reinterpret_cast<iconv_t>(-1)) {
        std::fputs("the CP932 converter of the C library is missing\n", stderr);
        return 1;
    }
    std::puts("// Made at build time by Cp932TableGen from the C library's CP932 converter.");
    std::puts("// The character of each single byte; U+FFFD for lead bytes and holes.");
    std::puts("constexpr char16_t kSingleBytes[256] = {");
    unsigned column = 0;
    for (unsigned b = 0; b < 256; ++b) {
        const char in[1] = {static_cast<char>(b)};
        item(isLeadByte(b) ? kInvalid : toUnicode(toUnicodeCd, in, 1), column);
    }
    std::puts("};");
    std::puts("// The character of each lead and second byte, [lead][second - 0x40].");
    std::puts("constexpr char16_t kDoubleBytes[] = {");
    column = 0;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!isLeadByte(lead)) continue;
        for (unsigned trail = kTrailFirst; trail < kTrailEnd; ++trail) {
            const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            item(toUnicode(toUnicodeCd, in, 2), column);
        }
    }
    std::puts("};");
    std::puts("// The code of every character of the Basic Multilingual Plane that has one:");
    std::puts("// character, code.");
    std::puts("constexpr std::uint16_t kEncodings[][2] = {");
    for (unsigned c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        if (const unsigned code = fromUnicode(fromUnicodeCd, c); code != 0)
            std::printf("{0x%04X, 0x%04X},\n", c, code);
    }
    std::puts("};");
    iconv_close(toUnicodeCd);
    iconv_close(fromUnicodeCd);
    return std::ferror(stdout) != 0 ? 1 : 0;
}
