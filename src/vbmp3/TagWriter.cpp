// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/TagWriter.h"

#include <sys/stat.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>

#include <cerrno>
#include <vector>

#include "platform/FileChange.h"
#include "vbmp3/FileLayout.h"
#include "vbmp3/MpegInfo.h"
#include "vbmp3/SeamStream.h"
#include "vbmp3/TagReader.h"
#include "vbmp3/TagText.h"

namespace kestrom::vbmp3 {
namespace {

using TagLib::String;
namespace ID3v2 = TagLib::ID3v2;

constexpr std::size_t kId3v1CommentSize = 28;

String fourDigits(unsigned year) {
    String text = String::number(static_cast<int>(year));
    while (text.size() < 4) text = "0" + text;
    return text;
}

// True when text holds count digits from start on.
bool isDigits(std::u16string_view text, std::size_t start, std::size_t count) {
    if (text.size() < start + count) return false;
    for (char16_t c : text.substr(start, count))
        if (c < u'0' || c > u'9') return false;
    return true;
}

String frameText(const ID3v2::Tag& tag, const char* id) {
    const ID3v2::FrameList& frames = tag.frameList(id);
    return frames.isEmpty() ? String() : frames.front()->toString();
}

void setTextFrame(ID3v2::Tag& tag, const char* id, const String& text) {
    tag.removeFrames(id);
    if (text.isEmpty()) return;
    auto* frame = new ID3v2::TextIdentificationFrame(id, String::UTF16);
    frame->setText(text);
    tag.addFrame(frame);  // the tag owns it
}

// TagLib keeps the year in a v2.4 TDRC frame, which it writes into ID3v2.3 as a
// TYER frame of ISO-8859-1 text; TYER is written directly here, as UTF-16.
void setYear(ID3v2::Tag& tag, unsigned year) {
    const std::u16string date =
        toUtf16(frameText(tag, "TDRC"));  // YYYY-MM-DDTHH:MM:SS, or a part of it
    if (tag.year() != year) {
        tag.removeFrames("TDAT");  // a day and a time of another year
        tag.removeFrames("TIME");
    } else if (tag.frameList("TDAT").isEmpty() && isDigits(date, 0, 4) && date.size() >= 10 &&
               date[4] == u'-' && isDigits(date, 5, 2) && date[7] == u'-' && isDigits(date, 8, 2)) {
        setTextFrame(tag, "TDAT", toTagString(date.substr(8, 2) + date.substr(5, 2)));
    }
    tag.removeFrames("TDRC");
    setTextFrame(tag, "TYER", year > 0 ? fourDigits(year) : String());
}

void setComment(ID3v2::Tag& tag, const String& text) {
    ID3v2::CommentsFrame* frame = plainComment(tag);
    if (text.isEmpty()) {
        if (frame != nullptr) tag.removeFrame(frame);
        return;
    }
    if (frame == nullptr) {
        frame = new ID3v2::CommentsFrame(String::UTF16);
        frame->setLanguage("jpn");
        tag.addFrame(frame);  // the tag owns it
    }
    frame->setTextEncoding(String::UTF16);
    frame->setText(text);
}

// The genre as a name: TextE, else the name of the genre number.
String genreName(const TagFields& fields) {
    if (!fields.genre.empty()) return toTagString(fields.genre);
    return TagLib::ID3v1::genre(static_cast<int>(fields.genreNumber));
}

// True when tag holds the fields as applyFields put them there.
bool holds(const ID3v2::Tag& tag, const TagFields& fields) {
    const ID3v2::CommentsFrame* comment = plainComment(tag);
    return frameText(tag, "TIT2") == toTagString(fields.title) &&
           frameText(tag, "TPE1") == toTagString(fields.artist) &&
           frameText(tag, "TALB") == toTagString(fields.album) && tag.year() == fields.year &&
           (comment != nullptr ? comment->text() : String()) == toTagString(fields.comment) &&
           frameText(tag, "TCON") == genreName(fields);
}

// The frames of a rendered tag, without its header and its padding. A frame
// that ends in NUL bytes loses them here and gets them back as padding: the
// bytes that land in the file are the same.
TagLib::ByteVector framesOf(const TagLib::ByteVector& rendered) {
    if (rendered.size() <= ID3v2::Header::size()) return {};
    unsigned int end = rendered.size();
    while (end > ID3v2::Header::size() && rendered[static_cast<int>(end - 1)] == '\0') --end;
    return rendered.mid(ID3v2::Header::size(), end - ID3v2::Header::size());
}

// TagLib 1.13 builds the genre frame anew when it writes version 2.3, as
// ISO-8859-1 text whenever the name fits; it becomes UTF-16 here, as every other
// text frame this library writes. Frames are walked by their version 2.3
// headers; anything past the last whole frame stays as it is.
TagLib::ByteVector genreInUtf16(const TagLib::ByteVector& frames) {
    constexpr unsigned int kFrameHeader = 10;
    TagLib::ByteVector out;
    unsigned int pos = 0;
    while (pos + kFrameHeader <= frames.size()) {
        const unsigned int size = frames.toUInt(pos + 4, true);
        if (size > frames.size() - pos - kFrameHeader) break;
        const TagLib::ByteVector id = frames.mid(pos, 4);
        if (id == "TCON" && size > 0 && frames.at(pos + kFrameHeader) == '\0') {
            TagLib::ByteVector body(1, '\x01');
            body.append(TagLib::String(frames.mid(pos + kFrameHeader + 1, size - 1), String::Latin1)
                            .data(String::UTF16));
            out.append(id);
            out.append(TagLib::ByteVector::fromUInt(body.size(), true));
            out.append(frames.mid(pos + 8, 2));  // the flags
            out.append(body);
        } else {
            out.append(frames.mid(pos, kFrameHeader + size));
        }
        pos += kFrameHeader + size;
    }
    out.append(frames.mid(pos));
    return out;
}

// An ID3v2.3 tag of exactly size bytes: header, frames, NUL padding.
TagLib::ByteVector tagOfSize(const TagLib::ByteVector& frames, std::size_t size) {
    TagLib::ByteVector tag("ID3\x03\0\0", 6);
    const auto body = static_cast<unsigned int>(size - ID3v2::Header::size());
    for (int shift = 21; shift >= 0; shift -= 7)
        tag.append(static_cast<char>((body >> shift) & 0x7F));
    tag.append(frames);
    tag.resize(static_cast<unsigned int>(size), '\0');
    return tag;
}

// The size of a tag made anew: its frames with room for a later, longer tag to
// be written in place, rounded to whole blocks of the file system.
std::size_t grownTagSize(std::size_t frames) {
    constexpr std::size_t kRoom = 2048;
    constexpr std::size_t kBlock = 4096;
    return (ID3v2::Header::size() + frames + kRoom + kBlock - 1) / kBlock * kBlock;
}

// True when tag, followed by the first audio and the ID3v1 tag, reads back as a
// single version 2.3 tag of its full size holding the fields, and the ID3v1 tag
// is found where it is to be.
bool readsBack(const TagLib::ByteVector& tag, const TagLib::ByteVector& audio,
               const TagLib::ByteVector& id3v1, const TagFields& fields, WriteTargets targets) {
    TagLib::ByteVector data = tag;
    data.append(audio);
    data.append(id3v1);
    TagLib::ByteVectorStream stream(data);
    TagLib::MPEG::File file(&stream, ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return false;
    if (targets.id3v1 && file.hasID3v1Tag() == id3v1.isEmpty()) return false;
    if (!targets.id3v2) return true;
    return file.hasID3v2Tag() && file.ID3v2Tag()->header()->majorVersion() == 3 &&
           file.ID3v2Tag()->header()->completeTagSize() == tag.size() &&
           holds(*file.ID3v2Tag(), fields);
}

WriteFailure failure(WriteCheck check, int error) {
    return {check, error};
}

WriteFailure systemFailure(int error) {
    switch (error) {
        case EINVAL: return failure(WriteCheck::NotPlainFile, EINVAL);
        case EACCES: return failure(WriteCheck::ReadOnly, EACCES);
        case EBUSY: return failure(WriteCheck::Busy, EBUSY);
        default: return failure(WriteCheck::System, error);
    }
}

std::string_view view(const TagLib::ByteVector& bytes) {
    return {bytes.data(), bytes.size()};
}

}  // namespace

void applyFields(ID3v2::Tag& tag, const TagFields& fields) {
    setTextFrame(tag, "TIT2", toTagString(fields.title));
    setTextFrame(tag, "TPE1", toTagString(fields.artist));
    setTextFrame(tag, "TALB", toTagString(fields.album));
    setYear(tag, fields.year);
    setComment(tag, toTagString(fields.comment));
    setTextFrame(tag, "TCON", genreName(fields));
}

void applyFields(TagLib::ID3v1::Tag& tag, const TagFields& fields) {
    // The string handler cuts title, artist and album to their 30 bytes.
    tag.setTitle(toTagString(fields.title));
    tag.setArtist(toTagString(fields.artist));
    tag.setAlbum(toTagString(fields.album));
    tag.setYear(fields.year);
    tag.setComment(fitForId3v1(toTagString(fields.comment), kId3v1CommentSize));
    const unsigned named = genreNumberOf(genreName(fields));
    tag.setGenreNumber(named != kNoGenre ? named : fields.genreNumber);
}

std::optional<WriteFailure> writeFields(platform::Posix& posix, const std::string& path,
                                        const TagFields& fields, WriteTargets targets,
                                        WriteMode mode) {
    if (!targets.id3v2 && !targets.id3v1) return failure(WriteCheck::NoTarget, EINVAL);
    std::optional<platform::FileChange> change;
    const auto purpose = mode == WriteMode::Check ? platform::FileChange::Purpose::Check
                                                  : platform::FileChange::Purpose::Change;
    if (int err = platform::FileChange::open(posix, path, change, purpose); err != 0)
        return systemFailure(err);
    const off_t length = change->status().st_size;

    SeamStream stream(posix, change->fd(), length, path);
    stream.preloadEnds();
    const FileLayout layout = readLayout(stream);
    if (layout.audioStart + kTailRead > kHeadRead) stream.preload(0, layout.audioStart + kTailRead);

    TagLib::MPEG::File file(&stream, ID3v2::FrameFactory::instance(), false);
    const bool mpeg = isMpegAudio(file);
    if (stream.error() != 0) return failure(WriteCheck::System, stream.error());
    if (!mpeg) return failure(WriteCheck::NotMpegAudio, ENOEXEC);

    TagLib::ByteVector frames;
    if (targets.id3v2) {
        applyFields(*file.ID3v2Tag(true), fields);
        frames = genreInUtf16(framesOf(file.ID3v2Tag()->render(ID3v2::v3)));
    }
    TagLib::ByteVector id3v1;  // what the file ends with from id3v1Start on
    if (targets.id3v1) {
        applyFields(*file.ID3v1Tag(true), fields);
        if (!file.ID3v1Tag()->isEmpty()) id3v1 = file.ID3v1Tag()->render();
    } else {
        id3v1 = stream.bytesAt(layout.id3v1Start, layout.length - layout.id3v1Start);
    }
    const off_t space = layout.audioStart;
    const bool fits =
        !targets.id3v2 ||
        static_cast<off_t>(ID3v2::Header::size()) + static_cast<off_t>(frames.size()) <= space;
    const TagLib::ByteVector tag = !targets.id3v2
                                       ? stream.bytesAt(0, space)
                                       : tagOfSize(frames, fits ? static_cast<std::size_t>(space)
                                                                : grownTagSize(frames.size()));
    if (!readsBack(tag, stream.bytesAt(layout.audioStart, kTailRead), id3v1, fields, targets))
        return failure(WriteCheck::Unparsable, EIO);
    if (mode == WriteMode::Check) return std::nullopt;

    int err = 0;
    if (fits) {
        // The old bytes of both regions go into the undo record; an ID3v1 tag that
        // goes away is a region of no new bytes.
        const TagLib::ByteVector oldHead = stream.bytesAt(0, space);
        const TagLib::ByteVector oldTail =
            stream.bytesAt(layout.id3v1Start, length - layout.id3v1Start);
        std::vector<platform::Patch> patches;
        if (targets.id3v2) patches.push_back({0, view(tag), view(oldHead)});
        if (targets.id3v1) patches.push_back({layout.id3v1Start, view(id3v1), view(oldTail)});
        if (stream.error() != 0) return failure(WriteCheck::System, stream.error());
        err = change->writeInPlace(patches, layout.id3v1Start + static_cast<off_t>(id3v1.size()));
    } else {
        err = change->rewrite(view(tag), layout.audioStart, layout.id3v1Start, view(id3v1));
    }
    if (err != 0) return failure(err == EBUSY ? WriteCheck::Busy : WriteCheck::System, err);
    return std::nullopt;
}

}  // namespace kestrom::vbmp3
