// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Cp932.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace kestrom::platform::cp932 {
namespace {

constexpr char16_t kInvalid = 0xFFFD;
constexpr unsigned kTrailFirst = 0x40;
constexpr std::size_t kTrailCount = 0xFD - kTrailFirst;

unsigned leadIndex(unsigned char lead) {
    return lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31u;
}

// An iconv conversion, closed when it goes out of scope, also when the tables
// are left by an exception.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("the CP932 converter of the C library is missing");
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() { iconv_close(m_cd); }

    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

struct Tables {
    std::array<char16_t, 256> single{};             // kInvalid for lead bytes and holes
    std::array<char16_t, 60 * kTrailCount> pair{};  // [lead][trail - 0x40]
    std::array<std::uint16_t, 0x10000> encoded{};   // code, 0 = none (U+0000 aside)
    std::array<bool, 0x10000> exact{};              // decoding the code gives it back

    Tables() {
        const Converter toUnicode("UTF-16LE", "CP932");
        const Converter fromUnicode("CP932", "UTF-16LE");

        single.fill(kInvalid);
        pair.fill(kInvalid);
        for (unsigned b = 0; b < 256; ++b) {
            if (isLeadByte(static_cast<unsigned char>(b))) continue;
            const char in[1] = {static_cast<char>(b)};
            single[b] = convertToUnicode(toUnicode.get(), in, 1);
        }
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (!isLeadByte(static_cast<unsigned char>(lead))) continue;
            for (unsigned trail = kTrailFirst; trail < 0xFD; ++trail) {
                const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                pair[leadIndex(static_cast<unsigned char>(lead)) * kTrailCount + trail -
                     kTrailFirst] = convertToUnicode(toUnicode.get(), in, 2);
            }
        }
        for (unsigned c = 1; c < 0x10000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const std::uint16_t code =
                convertFromUnicode(fromUnicode.get(), static_cast<char16_t>(c));
            encoded[c] = code;
            exact[c] = code != 0 && decodeCode(code) == c;
        }
        exact[0] = true;
    }

    char16_t decodeCode(std::uint16_t code) const {
        if (code < 0x100) return single[code];
        return pair[leadIndex(static_cast<unsigned char>(code >> 8)) * kTrailCount +
                    (code & 0xFFu) - kTrailFirst];
    }

    static char16_t convertToUnicode(iconv_t cd, const char* bytes, std::size_t len) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(bytes);
        unsigned char out[8];
        char* outp = reinterpret_cast<char*>(out);
        std::size_t inLeft = len, outLeft = sizeof out;
        if (iconv(cd, &in, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1) ||
            inLeft != 0 || sizeof out - outLeft != 2)
            return kInvalid;
        return static_cast<char16_t>(out[0] | (out[1] << 8));
    }

    static std::uint16_t convertFromUnicode(iconv_t cd, char16_t ch) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in[2] = {static_cast<char>(ch & 0xFF), static_cast<char>(ch >> 8)};
        char* inp = in;
        unsigned char out[4];
        char* outp = reinterpret_cast<char*>(out);
        std::size_t inLeft = 2, outLeft = sizeof out;
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1)) return 0;
        const std::size_t n = sizeof out - outLeft;
        if (n == 1) return out[0];
        if (n == 2) return static_cast<std::uint16_t>(out[0] << 8 | out[1]);
        return 0;
    }
};

const Tables& tables() {
    static const std::unique_ptr<const Tables> instance = std::make_unique<const Tables>();
    return *instance;
}

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void appendCode(std::string& out, std::uint16_t code) {
    if (code >= 0x100) out += static_cast<char>(code >> 8);
    out += static_cast<char>(code & 0xFF);
}

}  // namespace

bool isLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::u16string decode(std::string_view bytes) {
    const Tables& t = tables();
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (!isLeadByte(b)) {
            out += t.single[b];
            continue;
        }
        if (i + 1 == bytes.size()) {
            out += kInvalid;
            break;
        }
        const auto trail = static_cast<unsigned char>(bytes[i + 1]);
        if (trail < kTrailFirst || trail >= 0xFD) {
            out += kInvalid;  // the second byte starts over as a character of its own
            continue;
        }
        out += t.decodeCode(static_cast<std::uint16_t>(b << 8 | trail));
        ++i;
    }
    return out;
}

std::string encode(std::u16string_view text) {
    return encodeCut(text, std::string::npos).bytes;
}

std::string encodeCharacter(std::u16string_view character) {
    const char16_t ch = character.front();
    if (ch == 0) return std::string(1, '\0');
    const std::uint16_t code = character.size() == 1 ? tables().encoded[ch] : 0;
    if (code == 0) return "?";
    std::string out;
    appendCode(out, code);
    return out;
}

Cut encodeCut(std::u16string_view text, std::size_t limit, CharacterEncoder encodeChar) {
    Cut cut;
    while (cut.units < text.size()) {
        const bool pair = cut.units + 1 < text.size() && isHighSurrogate(text[cut.units]) &&
                          isLowSurrogate(text[cut.units + 1]);
        const std::size_t units = pair ? 2 : 1;
        const std::string bytes = encodeChar(text.substr(cut.units, units));
        if (bytes.size() > limit - cut.bytes.size()) break;
        cut.bytes += bytes;
        cut.units += units;
    }
    return cut;
}

std::string encodeExact(char16_t ch) {
    const Tables& t = tables();
    if (!t.exact[ch]) return {};
    if (ch == 0) return std::string(1, '\0');
    std::string out;
    appendCode(out, t.encoded[ch]);
    return out;
}

}  // namespace kestrom::platform::cp932
