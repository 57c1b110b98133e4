// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Text.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/Normalization.h"

namespace kestrom::platform {
namespace {

struct UpcaseRun {
    char16_t first;
    char16_t last;
    int step;
    int delta;
};

constexpr UpcaseRun kUpcaseRuns[] = {
#include "platform/UpcaseTable.inc"
};

constexpr std::array<char16_t, 0x10000> buildUpcaseTable() {
    std::array<char16_t, 0x10000> table{};
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<char16_t>(i);
    for (const UpcaseRun& run : kUpcaseRuns) {
        for (int c = run.first; c <= run.last; c += run.step)
            table[static_cast<std::size_t>(c)] = static_cast<char16_t>(c + run.delta);
    }
    return table;
}

// The simple upper case of every UTF-16 code unit; surrogates map to themselves.
constexpr std::array<char16_t, 0x10000> kUpcase = buildUpcaseTable();

constexpr char16_t kEscapeBase = 0xDC00;  // raw byte b is kept as U+DC00 + b (b >= 0x80)

// Length of the valid UTF-8 sequence at the start of s and its code point, or 0.
std::size_t decodeOne(std::string_view s, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t len = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, cp = b0 & 0x1Fu, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, cp = b0 & 0x0Fu, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, cp = b0 & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

// Appends the text of UTF-8 bytes to out. A byte that is not part of valid
// UTF-8 becomes its escape unit when escapeInvalid is set; else the decoding
// stops there, and returns false.
bool decodeUtf8(std::string_view bytes, bool escapeInvalid, std::u16string& out) {
    out.reserve(out.size() + bytes.size());
    while (!bytes.empty()) {
        char32_t cp = 0;
        std::size_t len = decodeOne(bytes, cp);
        if (len != 0) {
            appendUtf16(out, cp);
        } else if (escapeInvalid) {
            out += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[0]));
            len = 1;
        } else {
            return false;
        }
        bytes.remove_prefix(len);
    }
    return true;
}

// The UTF-8 of text. A lone surrogate becomes U+FFFD, except the escape units
// of undecodable bytes (see toUtf16), which become those bytes again when
// keepEscapes is set.
std::string encodeUtf8(std::u16string_view text, bool keepEscapes) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else if (keepEscapes && u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF) {
            out += static_cast<char>(u - kEscapeBase);
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

// Appends the folded form of a run of valid UTF-8: its canonical decomposition,
// upper-cased code point by code point, then composed again. Decomposing first
// makes every canonically equivalent spelling (a composed "é" or "e" and the
// combining acute, "が" or "か" and the combining voiced mark, a Hangul syllable
// or its jamo) give the same code points before anything else is done to them;
// composing again keeps the folded form of a composed name as the upper-casing
// of its characters alone makes it, and so the order of listings. This is the
// one place that normalises text, with the system's normalisation
// (Normalization.h).
void appendFolded(std::u16string& out, std::string_view utf8) {
    if (utf8.empty()) return;
    thread_local std::u32string points;
    if (decomposeCanonically(utf8, points)) {
        for (char32_t& c : points)
            if (c < 0x10000) c = kUpcase[static_cast<std::size_t>(c)];
        if (composeCanonically(points)) {
            for (const char32_t c : points) appendUtf16(out, c);
            return;
        }
    }
    // Not expected of valid UTF-8: folded unit by unit, unnormalised.
    for (const char16_t u : toUtf16(utf8)) out += kUpcase[u];
}

}  // namespace

std::u16string toUtf16(std::string_view bytes) {
    std::u16string text;
    decodeUtf8(bytes, true, text);
    return text;
}

std::string toUtf8(std::u16string_view text) {
    return encodeUtf8(text, true);
}

std::optional<std::u16string> fromValidUtf8(std::string_view bytes) {
    std::u16string text;
    if (!decodeUtf8(bytes, false, text)) return std::nullopt;
    return text;
}

std::string toValidUtf8(std::u16string_view text) {
    return encodeUtf8(text, false);
}

std::u16string foldName(std::string_view bytes) {
    std::u16string folded;
    folded.reserve(bytes.size());
    // Most names are plain ASCII, which normalisation leaves as it is.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; })) {
        for (const char c : bytes) folded += kUpcase[static_cast<unsigned char>(c)];
        return folded;
    }
    // Each run of valid UTF-8 is folded on its own; a byte that is not UTF-8
    // keeps its escape unit (see toUtf16), so it folds together with nothing.
    std::size_t run = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        if (const std::size_t len = decodeOne(bytes.substr(i), cp); len != 0) {
            i += len;
            continue;
        }
        appendFolded(folded, bytes.substr(run, i - run));
        folded += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[i]));
        run = ++i;
    }
    appendFolded(folded, bytes.substr(run));
    return folded;
}

// Upper-casing keeps ASCII within ASCII, so an ASCII name folds byte by byte.
static_assert([] {
    for (std::size_t c = 0; c < 0x80; ++c)
        if (kUpcase[c] >= 0x80) return false;
    return true;
}());

std::string foldNameUtf8(std::string_view bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; })) {
        std::string folded(bytes);
        for (char& c : folded) c = static_cast<char>(kUpcase[static_cast<unsigned char>(c)]);
        return folded;
    }
    return toUtf8(foldName(bytes));
}

std::string_view trimBlanks(std::string_view bytes) {
    constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
    for (;;) {
        if (bytes.starts_with(' ')) {
            bytes.remove_prefix(1);
        } else if (bytes.starts_with(kIdeographicSpace)) {
            bytes.remove_prefix(kIdeographicSpace.size());
        } else if (bytes.ends_with(' ')) {
            bytes.remove_suffix(1);
        } else if (bytes.ends_with(kIdeographicSpace)) {
            bytes.remove_suffix(kIdeographicSpace.size());
        } else {
            return bytes;
        }
    }
}

std::string displayName(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        char32_t cp = 0;
        std::size_t len = decodeOne(bytes, cp);
        // Undecodable bytes and control characters (a newline in a name would
        // split a list of names) are shown as escapes.
        if (len == 0 || cp < 0x20 || cp == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            const auto b = static_cast<unsigned char>(bytes[0]);
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
            len = 1;
#ifdef _WIN32
        } else if (cp == '/') {
            out += '\\';  // the program's separator, shown as Windows spells it
#endif
        } else {
            out.append(bytes.substr(0, len));
        }
        bytes.remove_prefix(len);
    }
    return out;
}

}  // namespace kestrom::platform
