// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/TagWriter.h"

#include <sys/stat.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>

#include <cerrno>
#include <filesystem>

#include "platform/FileOps.h"
#include "vbmp3/FileLayout.h"
#include "vbmp3/MpegInfo.h"
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

TagLib::ByteVector tail(TagLib::IOStream& stream, const FileLayout& layout) {
    if (layout.id3v1Start == layout.length) return {};
    stream.seek(layout.id3v1Start);
    return stream.readBlock(static_cast<unsigned long>(layout.length - layout.id3v1Start));
}

// The part from..to of one layout equals the part from..to of the other.
bool samePart(TagLib::IOStream& a, const FileLayout& la, TagLib::IOStream& b, const FileLayout& lb,
              long FileLayout::*from, long FileLayout::*to) {
    const long length = la.*to - la.*from;
    return length == lb.*to - lb.*from && sameBytes(a, la.*from, b, lb.*from, length);
}

// TagLib 1.13 does not check its writes: a save that hits a full disk or a file
// size limit reports success over a truncated file. So the copy is read back
// before it may replace the original.
std::optional<std::string> verify(TagLib::IOStream& original, const FileLayout& before,
                                  const std::string& copyPath, const TagFields& fields,
                                  WriteTargets targets, const TagLib::ByteVector& id3v1) {
    TagLib::FileStream copy(copyPath.c_str(), true);
    if (!copy.isOpen()) return "the new file cannot be opened";
    const FileLayout after = readLayout(copy);
    if (!samePart(original, before, copy, after, &FileLayout::audioStart, &FileLayout::audioEnd))
        return "the audio of the new file differs";
    if (!samePart(original, before, copy, after, &FileLayout::audioEnd, &FileLayout::id3v1Start))
        return "the APE tag of the new file differs";

    if (targets.id3v2) {
        TagLib::MPEG::File file(&copy, ID3v2::FrameFactory::instance(), false);
        const int tags = file.hasID3v2Tag() ? 1 : 0;
        if (!file.isValid() || after.leadingId3v2Tags != tags)
            return "the new file has a stray ID3v2 tag";
        if (tags == 1 && file.ID3v2Tag()->header()->majorVersion() != 3)
            return "the new ID3v2 tag is no version 2.3";
        if (!holds(*file.ID3v2Tag(), fields)) return "the new ID3v2 tag does not read back";
    } else if (after.audioStart != before.audioStart ||
               !sameBytes(original, 0, copy, 0, before.audioStart)) {
        return "the ID3v2 tags of the new file differ";
    }

    if (targets.id3v1 ? tail(copy, after) != id3v1 : tail(copy, after) != tail(original, before))
        return "the ID3v1 tag of the new file does not read back";
    return std::nullopt;
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

std::optional<std::string> writeFields(const std::string& name, const TagFields& fields,
                                       WriteTargets targets, platform::Posix& posix) {
    if (!targets.id3v2 && !targets.id3v1) return "no tag to write";
    // The new file replaces the file itself, not a link that leads to it. Only a
    // link needs resolving, which costs a system call for every folder on its path.
    std::string path = name;
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::error_code ec;
        path = std::filesystem::canonical(name, ec).string();
        if (ec) return platform::fileErrorFromErrno(ec.value()).description;
    }
    if (posix.stat(path.c_str(), &st) != 0) return platform::fileErrorFromErrno(errno).description;
    // Only a plain file: opening a pipe or a device could block or do harm.
    if (!S_ISREG(st.st_mode)) return "not a plain file";

    TagLib::FileStream original(path.c_str(), true);
    if (!original.isOpen()) return "the file cannot be opened";
    const FileLayout before = readLayout(original);

    std::optional<platform::PendingFile> pending;
    if (auto error = platform::FileOps(posix).prepareReplacement(path, path, pending))
        return error->description;

    // TagLib reads and renews the first ID3v2 tag only; the ones behind it go.
    if (targets.id3v2 && before.leadingId3v2Tags > 1) {
        TagLib::FileStream copy(pending->path().c_str());
        if (!copy.isOpen() || copy.readOnly()) return "the copy cannot be written";
        copy.removeBlock(static_cast<unsigned long>(before.firstTagEnd),
                         static_cast<unsigned long>(before.audioStart - before.firstTagEnd));
    }

    TagLib::ByteVector id3v1;  // the ID3v1 tag as it must be found at the end
    {
        TagLib::FileStream copy(pending->path().c_str());
        if (!copy.isOpen() || copy.readOnly()) return "the copy cannot be written";
        // The copy holds the original's audio: checking it spares a reading of the original.
        TagLib::MPEG::File file(&copy, ID3v2::FrameFactory::instance(), false);
        if (!isMpegAudio(file)) return "not MPEG audio";
        int tags = TagLib::MPEG::File::NoTags;
        if (targets.id3v2) {
            applyFields(*file.ID3v2Tag(true), fields);
            tags |= TagLib::MPEG::File::ID3v2;
        }
        if (targets.id3v1) {
            applyFields(*file.ID3v1Tag(true), fields);
            if (!file.ID3v1Tag()->isEmpty()) id3v1 = file.ID3v1Tag()->render();
            tags |= TagLib::MPEG::File::ID3v1;
        }
        if (!file.save(tags, TagLib::File::StripNone, ID3v2::v3, TagLib::File::DoNotDuplicate))
            return "the tags cannot be saved";
    }

    if (auto error = verify(original, before, pending->path(), fields, targets, id3v1))
        return error;
    if (auto error = pending->commit()) return error->description;
    return std::nullopt;
}

}  // namespace kestrom::vbmp3
