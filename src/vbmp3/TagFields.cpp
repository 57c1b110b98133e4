// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/TagFields.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "vbmp3/BlockText.h"

namespace kestrom::vbmp3 {
namespace {

struct Field {
    std::size_t offset;
    std::size_t size;
};

constexpr Field kTextA{VBMP3_TEXT_A_OFFSET, VBMP3_TEXT_A_SIZE};
constexpr Field kTextB{VBMP3_TEXT_B_OFFSET, VBMP3_TEXT_B_SIZE};
constexpr Field kTextC{VBMP3_TEXT_C_OFFSET, VBMP3_TEXT_C_SIZE};
constexpr Field kShortText{VBMP3_SHORT_TEXT_OFFSET, VBMP3_SHORT_TEXT_SIZE};
constexpr Field kTextD{VBMP3_TEXT_D_OFFSET, VBMP3_TEXT_D_SIZE};
constexpr Field kTextE{VBMP3_TEXT_E_OFFSET, VBMP3_TEXT_E_SIZE};
static_assert(kTextE.offset + kTextE.size == kTagBlockSize);

void putText(unsigned char* block, Field field, std::u16string_view text) {
    std::string bytes = toBlockText(text, field.size);
    // A text cut before its end may now end in blanks, which a write drops; they
    // go here already, so that a file written from this block reads back as it.
    while (!bytes.empty() && bytes.back() == ' ') bytes.pop_back();
    std::memset(block + field.offset, 0, field.size);
    std::copy(bytes.begin(), bytes.end(), block + field.offset);
}

std::u16string getText(const unsigned char* block, Field field) {
    const std::string_view bytes(reinterpret_cast<const char*>(block + field.offset), field.size);
    return trimTrailingBlanks(fromBlockText(bytes));
}

std::u16string yearText(unsigned year) {
    if (year == 0 || year > 9999) return {};
    std::u16string text(4, u'0');
    for (std::size_t i = 4; i-- > 0; year /= 10) text[i] = static_cast<char16_t>(u'0' + year % 10);
    return text;
}

unsigned parseYear(std::u16string_view text) {
    if (text.empty() || text.size() > 4) return 0;
    unsigned year = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return 0;
        year = year * 10 + static_cast<unsigned>(c - u'0');
    }
    return year;
}

unsigned genreFromNumber(std::uint32_t number) {
    return number <= 255 ? number : kNoGenre;
}

// UTF-8 of text up to its first NUL, without the blanks before it (which a
// write drops, so that a file written from a record reads back as it); false
// when that takes more than kTextMax bytes.
bool appendUtf8(std::string& out, std::u16string_view text) {
    const std::size_t start = out.size();
    text = text.substr(0, text.find(u'\0'));
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out.size() - start <= kTextMax;
}

// The text of strictly valid UTF-8 bytes; nothing for any other bytes.
std::optional<std::u16string> fromUtf8(std::string_view bytes) {
    std::u16string text;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        if (length == 0 || i + length > bytes.size()) return std::nullopt;
        std::uint32_t c = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            c = c << 6 | (next & 0x3Fu);
        }
        // The shortest form only, and no surrogate, nothing beyond U+10FFFF.
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return std::nullopt;
        if (c >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            text += static_cast<char16_t>(c);
        }
        i += length;
    }
    return text;
}

}  // namespace

bool TagFields::empty() const {
    return title.empty() && artist.empty() && album.empty() && year == 0 && comment.empty() &&
           genreNumber == kNoGenre && genre.empty();
}

std::u16string trimTrailingBlanks(std::u16string text) {
    while (!text.empty() && text.back() == u' ') text.pop_back();
    return text;
}

void toBlock(const TagFields& fields, unsigned char* block) {
    putText(block, kTextA, fields.title);
    putText(block, kTextB, fields.artist);
    putText(block, kTextC, fields.album);
    putText(block, kShortText, yearText(fields.year));
    putText(block, kTextD, fields.comment);
    const std::uint32_t number = fields.genreNumber;
    for (std::size_t i = 0; i < VBMP3_NUMBER_SIZE; ++i)
        block[VBMP3_NUMBER_OFFSET + i] = static_cast<unsigned char>(number >> (8 * i));
    putText(block, kTextE, fields.genre);
}

TagFields fromBlock(const unsigned char* block) {
    TagFields fields;
    fields.title = getText(block, kTextA);
    fields.artist = getText(block, kTextB);
    fields.album = getText(block, kTextC);
    fields.year = parseYear(getText(block, kShortText));
    fields.comment = getText(block, kTextD);
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < VBMP3_NUMBER_SIZE; ++i)
        number |= std::uint32_t{block[VBMP3_NUMBER_OFFSET + i]} << (8 * i);
    fields.genreNumber = genreFromNumber(number);
    fields.genre = getText(block, kTextE);
    return fields;
}

int toRecord(const TagFields& fields, std::string& record) {
    std::string out;
    for (std::size_t i = 0; i < VBMP3_NUMBER_SIZE; ++i)
        out += static_cast<char>(fields.genreNumber >> (8 * i) & 0xFF);
    const std::u16string year = yearText(fields.year);
    for (const std::u16string* text :
         {&fields.title, &fields.artist, &fields.album, &year, &fields.comment, &fields.genre}) {
        if (!appendUtf8(out, *text)) return EOVERFLOW;
        out += '\0';
    }
    record = std::move(out);
    return 0;
}

std::optional<TagFields> fromRecord(std::string_view record) {
    if (record.size() < VBMP3_NUMBER_SIZE) return std::nullopt;
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < VBMP3_NUMBER_SIZE; ++i)
        number |= std::uint32_t{static_cast<unsigned char>(record[i])} << (8 * i);
    record.remove_prefix(VBMP3_NUMBER_SIZE);
    std::u16string texts[VBMP3_TEXT_COUNT];
    for (std::u16string& text : texts) {
        const std::size_t end = record.find('\0');
        if (end == std::string_view::npos || end > kTextMax) return std::nullopt;
        std::optional<std::u16string> decoded = fromUtf8(record.substr(0, end));
        if (!decoded) return std::nullopt;
        text = trimTrailingBlanks(std::move(*decoded));
        record.remove_prefix(end + 1);
    }
    if (!record.empty()) return std::nullopt;
    TagFields fields;
    fields.title = std::move(texts[0]);
    fields.artist = std::move(texts[1]);
    fields.album = std::move(texts[2]);
    fields.year = parseYear(texts[3]);
    fields.comment = std::move(texts[4]);
    fields.genreNumber = genreFromNumber(number);
    fields.genre = std::move(texts[5]);
    return fields;
}

}  // namespace kestrom::vbmp3
