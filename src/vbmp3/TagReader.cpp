// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/TagReader.h"

#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mpegfile.h>

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

TagFields fieldsOf(const TagLib::ID3v2::Tag& tag) {
    TagFields fields = commonFields(tag);
    if (const auto* comment = plainComment(tag)) fields.comment = text(comment->text());
    fields.genre = text(tag.genre());
    fields.genreNumber = genreNumberOf(tag.genre());
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

std::optional<FileInfo> readFileInfo(TagLib::IOStream& stream) {
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), true);
    if (!isMpegAudio(file)) return std::nullopt;

    std::optional<TagFields> fields;
    if (file.hasID3v2Tag()) fields = fieldsOf(*file.ID3v2Tag());
    if ((!fields || fields->empty()) && file.hasID3v1Tag()) fields = fieldsOf(*file.ID3v1Tag());
    if ((!fields || fields->empty()) && file.hasAPETag()) fields = fieldsOf(*file.APETag());
    if (!fields || fields->empty()) return std::nullopt;

    return FileInfo{*fields, mpegInfo(file, readLayout(stream))};
}

}  // namespace kestrom::vbmp3
