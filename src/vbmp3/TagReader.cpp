// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/TagReader.h"

#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mpegfile.h>

#include <algorithm>

#include "vbmp3/FileLayout.h"
#include "vbmp3/TagText.h"

namespace kestrom::vbmp3 {
namespace {

std::u16string text(const TagLib::String& s) {
    return trimTrailingBlanks(toUtf16(s));
}

// The fields every kind of tag reads alike.
TagFields commonFields(const TagLib::Tag& tag) {
    TagFields fields;
    fields.title = text(tag.title());
    fields.artist = text(tag.artist());
    fields.album = text(tag.album());
    fields.year = tag.year() <= 9999 ? tag.year() : 0;
    return fields;
}

const Frame* firstFrame(const std::vector<Frame>& frames, std::string_view id) {
    const auto it =
        std::find_if(frames.begin(), frames.end(), [&](const Frame& f) { return f.id == id; });
    return it == frames.end() ? nullptr : &*it;
}

std::vector<std::u16string> stringsOf(const Frame* frame) {
    if (frame == nullptr) return {};
    const auto content = plainContent(*frame);
    if (!content) return {};
    return textStrings(*content).value_or(std::vector<std::u16string>{});
}

std::u16string joined(const std::vector<std::u16string>& strings) {
    std::u16string out;
    for (const std::u16string& s : strings) out += (out.empty() ? u"" : u" ") + s;
    return out;
}

// A number of 0 to 255 that a whole string gives, else -1.
int genreReference(std::u16string_view s) {
    if (s.empty() || s.size() > 3) return -1;
    int number = 0;
    for (char16_t c : s) {
        if (c < u'0' || c > u'9') return -1;
        number = number * 10 + (c - u'0');
    }
    return number <= 255 ? number : -1;
}

// The genre of a TCON frame: each string a genre, "(13)" or "13" the ID3v1
// genre of that number, "(13)Refinement" the refinement where it names another
// genre; each name once, joined by blanks.
std::u16string genreOf(const std::vector<std::u16string>& strings) {
    std::vector<std::u16string> genres;
    auto add = [&](std::u16string genre) {
        if (const int number = genreReference(genre); number >= 0)
            genre = toUtf16(TagLib::ID3v1::genre(number));
        if (!genre.empty() && std::find(genres.begin(), genres.end(), genre) == genres.end())
            genres.push_back(std::move(genre));
    };
    for (const std::u16string& s : strings) {
        const std::size_t close = s.find(u')');
        if (!s.starts_with(u'(') || close == std::u16string::npos || close == 1) {
            add(s);
            continue;
        }
        const std::u16string reference = s.substr(1, close - 1), refinement = s.substr(close + 1);
        const int number = genreReference(reference);
        if (number >= 0 && toUtf16(TagLib::ID3v1::genre(number)) != refinement) add(reference);
        if (!refinement.empty()) add(refinement);
    }
    return joined(genres);
}

}  // namespace

unsigned genreNumberOf(const TagLib::String& name) {
    const int index = TagLib::ID3v1::genreIndex(name);
    return index >= 0 && index < 255 ? static_cast<unsigned>(index) : kNoGenre;
}

TagLib::ID3v2::CommentsFrame* plainComment(const TagLib::ID3v2::Tag& tag) {
    for (TagLib::ID3v2::Frame* frame : tag.frameList("COMM")) {
        auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame);
        if (comment != nullptr && comment->description().isEmpty()) return comment;
    }
    return nullptr;
}

bool isPlainComment(const Frame& frame) {
    if (frame.id != "COMM") return false;
    const auto content = plainContent(frame);
    const auto comment = content ? commentText(*content) : std::nullopt;
    return comment && comment->description.empty();
}

unsigned yearOf(const std::vector<Frame>& frames) {
    const auto it = std::find_if(frames.begin(), frames.end(),
                                 [](const Frame& f) { return f.id == "TYER" || f.id == "TDRC"; });
    if (it == frames.end()) return 0;
    const std::u16string date = joined(stringsOf(&*it));
    unsigned year = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(date.size(), 4); ++i) {
        if (date[i] < u'0' || date[i] > u'9') break;
        year = year * 10 + static_cast<unsigned>(date[i] - u'0');
    }
    return year;
}

TagFields fieldsOf(const std::vector<Frame>& frames) {
    TagFields fields;
    fields.title = trimTrailingBlanks(joined(stringsOf(firstFrame(frames, "TIT2"))));
    fields.artist = trimTrailingBlanks(joined(stringsOf(firstFrame(frames, "TPE1"))));
    fields.album = trimTrailingBlanks(joined(stringsOf(firstFrame(frames, "TALB"))));
    fields.year = yearOf(frames);
    const auto comment = std::find_if(frames.begin(), frames.end(), isPlainComment);
    if (comment != frames.end())
        fields.comment = trimTrailingBlanks(commentText(*plainContent(*comment))->text);
    fields.genre = trimTrailingBlanks(genreOf(stringsOf(firstFrame(frames, "TCON"))));
    fields.genreNumber = genreNumberOf(toTagString(fields.genre));
    return fields;
}

TagFields fieldsOf(const TagLib::ID3v1::Tag& tag) {
    TagFields fields = commonFields(tag);
    fields.comment = text(id3v1Comment(tag));
    fields.genreNumber = tag.genreNumber();
    fields.genre = text(TagLib::ID3v1::genre(static_cast<int>(fields.genreNumber)));
    return fields;
}

TagFields fieldsOf(const TagLib::APE::Tag& tag) {
    TagFields fields = commonFields(tag);
    fields.comment = text(tag.comment());
    fields.genre = text(tag.genre());
    fields.genreNumber = genreNumberOf(tag.genre());
    return fields;
}

std::optional<FileInfo> readFileInfo(ReadAheadStream& stream) {
    const FileLayout layout = readLayout(stream);
    if (!layout.isMpegAudio()) return std::nullopt;
    // TagLib reads the tags behind the audio; the stream's properties come from
    // the first frame that the layout found (see mpegInfo), which spares
    // TagLib's own search for the first and the last frame.
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);

    std::optional<TagFields> fields;
    if (layout.leading.count > 0) fields = fieldsOf(layout.leading.frames);
    if ((!fields || fields->empty()) && file.hasID3v1Tag()) fields = fieldsOf(*file.ID3v1Tag());
    if ((!fields || fields->empty()) && file.hasAPETag()) fields = fieldsOf(*file.APETag());
    if (!fields || fields->empty()) return std::nullopt;

    return FileInfo{*fields, mpegInfo(file, layout)};
}

}  // namespace kestrom::vbmp3
