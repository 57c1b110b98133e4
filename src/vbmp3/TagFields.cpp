// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/TagFields.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/LittleEndian.h"
#include "platform/Text.h"
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
    text = text.substr(0, text.find(u'\0'));
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    const std::string bytes = platform::toValidUtf8(text);
    out += bytes;
    return bytes.size() <= kTextMax;
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
    platform::putLittleEndian(block + VBMP3_NUMBER_OFFSET, fields.genreNumber, VBMP3_NUMBER_SIZE);
    putText(block, kTextE, fields.genre);
}

TagFields fromBlock(const unsigned char* block) {
    TagFields fields;
    fields.title = getText(block, kTextA);
    fields.artist = getText(block, kTextB);
    fields.album = getText(block, kTextC);
    fields.year = parseYear(getText(block, kShortText));
    fields.comment = getText(block, kTextD);
    const auto number = static_cast<std::uint32_t>(
        platform::littleEndian(block + VBMP3_NUMBER_OFFSET, VBMP3_NUMBER_SIZE));
    fields.genreNumber = genreFromNumber(number);
    fields.genre = getText(block, kTextE);
    return fields;
}

int toRecord(const TagFields& fields, std::string& record) {
    std::string out;
    platform::putNumber(out, fields.genreNumber, VBMP3_NUMBER_SIZE);
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
    const auto number =
        static_cast<std::uint32_t>(platform::littleEndian(record.substr(0, VBMP3_NUMBER_SIZE)));
    record.remove_prefix(VBMP3_NUMBER_SIZE);
    std::u16string texts[VBMP3_TEXT_COUNT];
    for (std::u16string& text : texts) {
        const std::size_t end = record.find('\0');
        if (end == std::string_view::npos || end > kTextMax) return std::nullopt;
        std::optional<std::u16string> decoded = platform::fromValidUtf8(record.substr(0, end));
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
