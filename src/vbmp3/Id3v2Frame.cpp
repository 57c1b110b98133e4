// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/Id3v2Frame.h"

#include <zlib.h>

#include <array>
#include <map>

#include "platform/Text.h"
#include "vbmp3/TagText.h"

namespace kestrom::vbmp3 {
namespace {

constexpr unsigned char kUtf16BigEndian = 2;
constexpr unsigned char kUtf8 = 3;
// More than any frame a tagger writes inflates to: a frame claiming more is
// taken for damaged, so that a few bytes cannot fill the memory.
constexpr std::size_t kMostInflatedBytes = std::size_t{64} << 20;

void putBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

bool isWide(unsigned char encoding) {
    return encoding == kUtf16 || encoding == kUtf16BigEndian;
}

// One string of a frame: from `at` to its terminator (one NUL, or two on a
// two-byte boundary for UTF-16), or to the end. Moves at past the terminator.
struct Piece {
    std::string_view bytes;
    bool terminated = false;
};

Piece takeString(std::string_view content, std::size_t& at, unsigned char encoding) {
    const std::size_t start = std::min(at, content.size());
    const std::size_t width = isWide(encoding) ? 2 : 1;
    std::size_t end = start;
    while (end + width <= content.size() &&
           content.substr(end, width) != std::string_view("\0\0", width))
        end += width;
    if (end + width > content.size()) {  // no terminator: the rest
        at = content.size();
        return {content.substr(start), false};
    }
    at = end + width;
    return {content.substr(start, end - start), true};
}

char16_t unitAt(std::string_view bytes, std::size_t i, bool bigEndian) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
}

std::u16string utf16Units(std::string_view bytes, bool bigEndian) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) text += unitAt(bytes, i, bigEndian);
    return text;
}

// How likely a unit is in a tag's text: letters and digits of the scripts that
// tags are written in score, control codes and unassigned areas cost. Text read
// in the wrong byte order turns ASCII into rare CJK extension characters and
// kana into CJK ones, so the right order scores higher.
int likelihood(char16_t unit) {
    if (unit >= 0x20 && unit < 0x7F) return 3;
    if (unit >= 0x3040 && unit <= 0x30FF) return 3;  // kana
    if ((unit >= 0x4E00 && unit <= 0x9FFF) || (unit >= 0x3000 && unit <= 0x303F) ||
        (unit >= 0xFF00 && unit <= 0xFFEF) || (unit >= 0xAC00 && unit <= 0xD7A3))
        return 2;
    if (unit >= 0xA0 && unit <= 0x24F) return 1;
    if (unit < 0x20 || unit == 0x7F || (unit >= 0xD800 && unit <= 0xF8FF) || unit >= 0xFFF0)
        return -3;
    return 0;
}

int likelihood(std::u16string_view text) {
    int score = 0;
    for (char16_t unit : text) score += likelihood(unit);
    return score;
}

bool hasByteOrderMark(std::string_view bytes) {
    return bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
}

// UTF-16 bytes of encoding 1: in the byte order their mark gives, else in the
// order bigEndian gives (an earlier string's of the frame), else in the likelier
// one, which then holds for the frame's later strings.
std::u16string decodeUtf16(std::string_view bytes, std::optional<bool>& bigEndian) {
    if (hasByteOrderMark(bytes)) {
        bigEndian = bytes[0] == '\xFE';
        return utf16Units(bytes.substr(2), *bigEndian);
    }
    if (bytes.empty()) return {};
    if (!bigEndian) {
        const std::u16string little = utf16Units(bytes, false);
        const std::u16string big = utf16Units(bytes, true);
        bigEndian = likelihood(big) > likelihood(little);
    }
    return utf16Units(bytes, *bigEndian);
}

std::u16string decodeString(std::string_view bytes, unsigned char encoding,
                            std::optional<bool>& bigEndian) {
    switch (encoding) {
        case kLatin1: return toUtf16(decodeLegacy(bytes));
        case kUtf16: return decodeUtf16(bytes, bigEndian);
        case kUtf16BigEndian: return utf16Units(bytes, true);
        default: {
            // A tagger's broken UTF-8 still shows what it can.
            if (auto text = platform::fromValidUtf8(bytes)) return *text;
            return toUtf16(TagLib::String(std::string(bytes), TagLib::String::UTF8));
        }
    }
}

// What follows the encoding byte in the frames that hold encoded strings:
//   E  a string in the frame's encoding, up to its terminator
//   *  strings in the frame's encoding to the end
//   L  an ISO-8859-1 string, up to its NUL
//   1, 3, 8  that many bytes
//   P  to the end: pairs of a string and a 4-byte time stamp
//   R  the rest, bytes
const std::map<std::string_view, std::string_view>& layouts() {
    static const std::map<std::string_view, std::string_view> table = {
        {"WXXX", "ER"},   {"COMM", "3*"},   {"USLT", "3*"},  {"USER", "3*"},       {"APIC", "L1ER"},
        {"GEOB", "LEER"}, {"SYLT", "31EP"}, {"OWNE", "L8*"}, {"COMR", "L8L1EELR"},
    };
    return table;
}

// Writes a string of encoding 2 or 3, or of encoding 1 without its byte order
// mark, anew as UTF-16 with its mark; copies any other as it is.
bool reencode(Piece piece, unsigned char encoding, std::string& out,
              std::optional<bool>& bigEndian) {
    std::optional<std::u16string> text;
    if (encoding == kUtf8) {
        text = platform::fromValidUtf8(piece.bytes);
    } else if (piece.bytes.size() % 2 != 0) {
        return false;
    } else if (encoding == kUtf16BigEndian) {
        text = utf16Units(piece.bytes, true);
    } else if (piece.bytes.empty() || hasByteOrderMark(piece.bytes)) {
        decodeUtf16(piece.bytes, bigEndian);  // a later string without a mark takes its order
        out += piece.bytes;
        if (piece.terminated) out.append(2, '\0');
        return true;
    } else {
        text = decodeUtf16(piece.bytes, bigEndian);
    }
    if (!text) return false;
    out += utf16WithBom(*text);
    if (piece.terminated) out.append(2, '\0');
    return true;
}

}  // namespace

std::string renderFrame(const Frame& frame) {
    std::string additions;
    unsigned char format = 0;
    if (frame.decompressedSize) {
        format |= 0x80;
        putBigEndian(additions, *frame.decompressedSize);
    }
    if (frame.encryption) {
        format |= 0x40;
        additions += static_cast<char>(*frame.encryption);
    }
    if (frame.group) {
        format |= 0x20;
        additions += static_cast<char>(*frame.group);
    }
    std::string out = frame.id;
    putBigEndian(out, static_cast<std::uint32_t>(additions.size() + frame.content.size()));
    out += static_cast<char>(frame.status);
    out += static_cast<char>(format);
    return out + additions + frame.content;
}

std::optional<std::string> plainContent(const Frame& frame) {
    if (frame.encryption) return std::nullopt;
    if (!frame.decompressedSize) return frame.content;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return std::nullopt;
    std::string out;
    std::array<char, 16384> buffer{};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(frame.content.data()));
    stream.avail_in = static_cast<uInt>(frame.content.size());
    int result = Z_OK;
    while (result == Z_OK && out.size() <= kMostInflatedBytes) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer.data(), buffer.size() - stream.avail_out);
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
    return out;
}

bool isTextFrame(std::string_view id) {
    return (id.starts_with('T') && id.size() == 4) || id == "IPLS";
}

std::optional<std::vector<std::u16string>> textStrings(std::string_view content) {
    if (content.empty() || static_cast<unsigned char>(content[0]) > kUtf8) return std::nullopt;
    const auto encoding = static_cast<unsigned char>(content[0]);
    std::vector<std::u16string> strings;
    std::optional<bool> bigEndian;
    for (std::size_t at = 1; at < content.size();) {
        const Piece piece = takeString(content, at, encoding);
        if (std::u16string text = decodeString(piece.bytes, encoding, bigEndian); !text.empty())
            strings.push_back(std::move(text));
    }
    return strings;
}

std::optional<CommentText> commentText(std::string_view content) {
    if (content.size() < 4 || static_cast<unsigned char>(content[0]) > kUtf8) return std::nullopt;
    const auto encoding = static_cast<unsigned char>(content[0]);
    std::size_t at = 4;  // past the encoding and the language
    std::optional<bool> bigEndian;
    CommentText comment;
    comment.description =
        decodeString(takeString(content, at, encoding).bytes, encoding, bigEndian);
    comment.text = decodeString(takeString(content, at, encoding).bytes, encoding, bigEndian);
    return comment;
}

std::string utf16WithBom(std::u16string_view text) {
    std::string out = "\xFF\xFE";
    for (char16_t unit : text) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

std::optional<std::string> contentForVersion3(std::string_view id, std::string content) {
    if (content.empty()) return content;
    const auto encoding = static_cast<unsigned char>(content[0]);
    const bool text = isTextFrame(id) || id == "TIPL" || id == "TMCL";
    const auto layout = layouts().find(id);
    if (!text && layout == layouts().end()) return content;  // no encoding byte of its own
    if (encoding == kLatin1) return content;
    if (encoding > kUtf8) return std::nullopt;
    std::optional<bool> bigEndian;

    const std::string_view steps = text ? "*" : layout->second;
    std::string out(1, static_cast<char>(kUtf16));
    std::size_t at = 1;
    for (const char step : steps) {
        switch (step) {
            case 'E':
                if (!reencode(takeString(content, at, encoding), encoding, out, bigEndian))
                    return std::nullopt;
                break;
            case '*':
                while (at < content.size())
                    if (!reencode(takeString(content, at, encoding), encoding, out, bigEndian))
                        return std::nullopt;
                break;
            case 'L': {
                const Piece piece = takeString(content, at, kLatin1);
                out.append(piece.bytes);
                if (piece.terminated) out += '\0';
                break;
            }
            case 'P':
                while (at < content.size()) {
                    if (!reencode(takeString(content, at, encoding), encoding, out, bigEndian) ||
                        at + 4 > content.size())
                        return std::nullopt;
                    out.append(content, at, 4);
                    at += 4;
                }
                break;
            case 'R':
                out.append(content, std::min(at, content.size()));
                at = content.size();
                break;
            default: {  // a count of bytes
                const auto count = static_cast<std::size_t>(step - '0');
                if (at + count > content.size()) return std::nullopt;
                out.append(content, at, count);
                at += count;
            }
        }
    }
    return out;
}

}  // namespace kestrom::vbmp3
