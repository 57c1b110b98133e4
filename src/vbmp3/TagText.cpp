// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/TagText.h"

#include <taglib/id3v2tag.h>

#include "platform/Cp932.h"
#include "vbmp3/Bytes.h"

namespace kestrom::vbmp3 {
namespace {

namespace cp932 = platform::cp932;

constexpr std::size_t kId3v1FieldSize = 30;

bool isHalfWidthKatakana(unsigned char b) {
    return b >= 0xA1 && b <= 0xDF;
}
bool isPrivateUse(char16_t c) {
    return c >= 0xE000 && c <= 0xF8FF;
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view upToNul(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

TagLib::String latin1(std::string_view bytes) {
    return TagLib::String(byteVector(bytes), TagLib::String::Latin1);
}

// Shift-JIS text whose last character lost its second byte: the text without it.
std::string_view withoutLoneLeadByte(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) i += cp932::isLeadByte(static_cast<unsigned char>(bytes[i])) ? 2u : 1u;
    return i > bytes.size() ? bytes.substr(0, bytes.size() - 1) : bytes;
}

// Code page 932 as Windows writes it, cut after the last whole character that
// fits in limit bytes; a NUL ends the text.
cp932::Cut encodeCut(const TagLib::String& text, std::size_t limit) {
    const std::u16string units = toUtf16(text);
    return cp932::encodeCut(std::u16string_view(units).substr(0, units.find(u'\0')), limit);
}

class Id3v1Handler final : public TagLib::ID3v1::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        return decodeId3v1Field(view(data));
    }
    // TagLib cuts every field it renders to its length by bytes; the text is cut on
    // a character boundary first, to the longest field (30 bytes). The writer cuts
    // the shorter comment field itself.
    TagLib::ByteVector render(const TagLib::String& text) const override {
        const std::string bytes = encodeForId3v1(text, kId3v1FieldSize);
        return byteVector(bytes);
    }
};

class Id3v2Latin1Handler final : public TagLib::ID3v2::Latin1StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        return decodeLegacy(upToNul(view(data)));
    }
};

// Installs the handlers for as long as the library is loaded: TagLib keeps only
// pointers to them, so they are taken out again before they are destroyed.
struct Handlers {
    Id3v1Handler id3v1;
    Id3v2Latin1Handler id3v2;

    Handlers() {
        TagLib::ID3v1::Tag::setStringHandler(&id3v1);
        TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2);
    }
    ~Handlers() {
        TagLib::ID3v1::Tag::setStringHandler(nullptr);
        TagLib::ID3v2::Tag::setLatin1StringHandler(nullptr);
    }
    Handlers(const Handlers&) = delete;
    Handlers& operator=(const Handlers&) = delete;
};

}  // namespace

std::u16string toUtf16(const TagLib::String& text) {
    const TagLib::wstring units = text.toWString();  // UTF-16 code units, whatever wchar_t's width
    std::u16string out;
    out.reserve(units.size());
    for (wchar_t unit : units) out += static_cast<char16_t>(unit);
    return out;
}

TagLib::String toTagString(std::u16string_view text) {
    TagLib::ByteVector bytes;
    for (char16_t unit : text) {
        bytes.append(static_cast<char>(unit & 0xFF));
        bytes.append(static_cast<char>(unit >> 8));
    }
    return TagLib::String(bytes, TagLib::String::UTF16LE);
}

bool looksLikeShiftJis(std::string_view bytes) {
    bytes = withoutLoneLeadByte(bytes);
    bool japanese = false;
    int katakanaRun = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            katakanaRun = 0;
        } else if (isHalfWidthKatakana(b)) {
            japanese |= ++katakanaRun >= 2;
        } else if (cp932::isLeadByte(b)) {
            const std::u16string c = cp932::decode(bytes.substr(i, 2));
            if (c.size() != 1 || c[0] == 0xFFFD || isPrivateUse(c[0])) return false;
            japanese |= b <= 0x9F;
            katakanaRun = 0;
            ++i;
        } else {
            return false;  // 0x80, 0xA0, 0xFD-0xFF: no character of the code page
        }
    }
    return japanese;
}

TagLib::String decodeLegacy(std::string_view bytes) {
    if (!looksLikeShiftJis(bytes)) return latin1(bytes);
    return toTagString(cp932::decode(withoutLoneLeadByte(bytes)));
}

TagLib::String decodeId3v1Field(std::string_view bytes) {
    bytes = upToNul(bytes);
    while (!bytes.empty() && isBlank(bytes.back())) bytes.remove_suffix(1);
    while (!bytes.empty() && isBlank(bytes.front())) bytes.remove_prefix(1);
    return decodeLegacy(bytes);
}

TagLib::String id3v1Comment(const TagLib::ID3v1::Tag& tag) {
    const TagLib::String comment = tag.comment();
    for (wchar_t unit : comment.toWString())
        if (static_cast<unsigned long>(unit) > 0xFF) return comment;
    return decodeId3v1Field(view(comment.data(TagLib::String::Latin1)));
}

std::string encodeForId3v1(const TagLib::String& text, std::size_t limit) {
    return encodeCut(text, limit).bytes;
}

TagLib::String fitForId3v1(const TagLib::String& text, std::size_t limit) {
    return toTagString(toUtf16(text).substr(0, encodeCut(text, limit).units));
}

void installStringHandlers() {
    static const Handlers handlers;
}

}  // namespace kestrom::vbmp3
