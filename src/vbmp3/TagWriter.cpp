// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/TagWriter.h"

#include <sys/stat.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <utility>

#include "platform/DirLookup.h"
#include "platform/FileChange.h"
#include "vbmp3/Bytes.h"
#include "vbmp3/ReadAheadStream.h"
#include "vbmp3/TagReader.h"
#include "vbmp3/TagText.h"

namespace kestrom::vbmp3 {
namespace {

namespace ID3v2 = TagLib::ID3v2;

constexpr std::size_t kId3v1CommentSize = 28;
constexpr std::size_t kTagHeaderSize = 10;
// The most an ID3v2 tag holds after its header: four 7-bit bytes of size.
constexpr std::size_t kMostTagBody = (std::size_t{1} << 28) - 1;

std::u16string fourDigits(unsigned year) {
    std::u16string text(4, u'0');
    for (std::size_t i = 4; i-- > 0; year /= 10) text[i] = static_cast<char16_t>(u'0' + year % 10);
    return text;
}

Frame makeFrame(std::string id, std::string content) {
    Frame frame;
    frame.id = std::move(id);
    frame.content = std::move(content);
    return frame;
}

// A text frame of one UTF-16 string, as this library writes every field.
std::string textContent(std::u16string_view text) {
    return std::string(1, static_cast<char>(kUtf16)) + utf16WithBom(text);
}

// A string in a version 2.3 encoding (0 or 1), and its terminator.
std::string encoded(std::u16string_view text, char encoding) {
    if (encoding != static_cast<char>(kUtf16)) {
        std::string bytes;
        for (char16_t unit : text) bytes += static_cast<char>(unit);
        return bytes;
    }
    return utf16WithBom(text);
}

std::string terminated(std::u16string_view text, char encoding) {
    return encoded(text, encoding) +
           std::string(encoding == static_cast<char>(kUtf16) ? 2 : 1, '\0');
}

// A user text frame TXXX named name, holding what a text frame's content (in a
// version 2.3 encoding) holds.
Frame userText(const Frame& from, std::u16string_view name, const std::string& content) {
    Frame frame = from;
    frame.id = "TXXX";
    frame.decompressedSize.reset();
    frame.content = content.substr(0, 1) + terminated(name, content[0]) + content.substr(1);
    return frame;
}

std::u16string asciiText(std::string_view ascii) {
    return {ascii.begin(), ascii.end()};
}

// Version 2.4 frames that version 2.3 has no place for and that hold text: each
// becomes a TXXX named after it.
bool isVersion4Text(std::string_view id) {
    static const std::set<std::string_view> ids = {"TDEN", "TDRL", "TDTG", "TMOO",
                                                   "TPRO", "TSST", "TMCL", "TIPL"};
    return ids.contains(id);
}

// Carries a frame of the old tags over into the new version 2.3 tag (see
// framesFor). False when it cannot be carried over exactly.
bool carry(const Frame& frame, bool iplsFree, std::vector<Frame>& out) {
    const std::optional<std::string> plain = frame.encryption ? std::nullopt : plainContent(frame);
    const std::optional<std::string> content =
        plain ? contentForVersion3(frame.id, *plain) : std::nullopt;
    Frame converted = frame;
    converted.version = 3;
    if (content && *content != *plain) {  // written anew: the new bytes go uncompressed
        converted.decompressedSize.reset();
        converted.content = *content;
    }
    if (frame.version != 4) {
        // A frame of version 2.3 (or 2.2) that does not decode goes as it was.
        out.push_back(std::move(converted));
        return true;
    }
    // Version 2.4 encodings mean nothing to version 2.3 readers: a frame that
    // cannot be converted cannot be carried over, but an encrypted one, which
    // cannot be read, goes as it is.
    if (frame.encryption) {
        out.push_back(std::move(converted));
        return true;
    }
    if (!content) return false;
    if (content->empty()) {  // nothing but its flags: nothing to convert
        out.push_back(std::move(converted));
        return true;
    }
    if (frame.id == "TIPL" && iplsFree) {
        converted.id = "IPLS";
    } else if (frame.id == "TDOR") {
        // The original release time: its year is a TORY, the rest a TXXX.
        const auto strings = textStrings(*content).value_or(std::vector<std::u16string>{});
        const std::u16string whole = strings.empty() ? u"" : strings.front();
        const std::u16string year = whole.substr(0, 4);
        const bool isYear =
            year.size() == 4 && std::all_of(year.begin(), year.end(),
                                            [](char16_t c) { return c >= u'0' && c <= u'9'; });
        if (isYear) {
            Frame original = converted;
            original.id = "TORY";
            original.decompressedSize.reset();
            original.content = content->substr(0, 1) + encoded(year, (*content)[0]);
            out.push_back(original);
        }
        if (!isYear || strings.size() != 1 || whole.size() != 4)
            out.push_back(userText(converted, u"TDOR", *content));
        return true;
    } else if (isVersion4Text(frame.id)) {
        converted = userText(converted, asciiText(frame.id), *content);
    }
    out.push_back(std::move(converted));
    return true;
}

// The day and the time of a version 2.4 date "yyyy-MM-ddTHH:mm:ss" (or a part
// of it) as version 2.3 writes them: TDAT "ddMM", TIME "HHmm".
void addDateFrames(const Frame& date, std::vector<Frame>& out) {
    const auto content = plainContent(date);
    const auto strings = content ? textStrings(*content) : std::nullopt;
    if (!strings || strings->empty()) return;
    const std::u16string& text = strings->front();
    auto digits = [&](std::size_t at) {
        return text.size() >= at + 2 &&
               std::all_of(text.begin() + static_cast<long>(at),
                           text.begin() + static_cast<long>(at) + 2,
                           [](char16_t c) { return c >= u'0' && c <= u'9'; });
    };
    if (text.size() >= 10 && text[4] == u'-' && digits(5) && text[7] == u'-' && digits(8))
        out.push_back(makeFrame("TDAT", textContent(text.substr(8, 2) + text.substr(5, 2))));
    if (text.size() >= 16 && text[10] == u'T' && digits(11) && text[13] == u':' && digits(14))
        out.push_back(makeFrame("TIME", textContent(text.substr(11, 2) + text.substr(14, 2))));
}

// The genre as a name: TextE, else the name of the genre number.
std::u16string genreName(const TagFields& fields) {
    if (!fields.genre.empty()) return fields.genre;
    return toUtf16(TagLib::ID3v1::genre(static_cast<int>(fields.genreNumber)));
}

std::string frameText(const ID3v2::Tag& tag, const char* id) {
    const ID3v2::FrameList& frames = tag.frameList(id);
    return frames.isEmpty() ? std::string() : frames.front()->toString().to8Bit(true);
}

// True when TagLib reads the fields from tag as they were written.
bool holds(const ID3v2::Tag& tag, const TagFields& fields) {
    const ID3v2::CommentsFrame* comment = plainComment(tag);
    auto utf8 = [](std::u16string_view text) { return toTagString(text).to8Bit(true); };
    return frameText(tag, "TIT2") == utf8(fields.title) &&
           frameText(tag, "TPE1") == utf8(fields.artist) &&
           frameText(tag, "TALB") == utf8(fields.album) && tag.year() == fields.year &&
           (comment != nullptr ? comment->text().to8Bit(true) : std::string()) ==
               utf8(fields.comment) &&
           frameText(tag, "TCON") == utf8(genreName(fields));
}

// An ID3v2.3 tag of exactly size bytes: header, frames, NUL padding.
std::string tagOfSize(const std::string& frames, std::size_t size) {
    std::string tag("ID3\x03\0\0", 6);
    const std::size_t body = size - kTagHeaderSize;
    for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>((body >> shift) & 0x7F);
    tag += frames;
    tag.resize(size, '\0');
    return tag;
}

// The size of a tag made anew: its frames with at least 2 KiB of room for a
// later, longer tag to be written in place, and less than a block more, so that
// the audio, which started at audioFrom in the old file, keeps its place within
// a block of the file system (blockSize). Its copy then starts on the old
// file's block boundaries, and a file system with shared extents shares those
// blocks instead of writing them anew (see platform::copyRange).
std::size_t grownTagSize(std::size_t frames, std::size_t audioFrom, std::size_t blockSize) {
    constexpr std::size_t kRoom = 2048;
    const std::size_t least = kTagHeaderSize + frames + kRoom;
    return least + (audioFrom % blockSize + blockSize - least % blockSize) % blockSize;
}

// An ID3v1 tag read from its 128 bytes (none when they hold no tag).
class Id3v1Tag : public TagLib::ID3v1::Tag {
public:
    explicit Id3v1Tag(const TagLib::ByteVector& data) {
        if (data.size() == kId3v1Size && data.startsWith("TAG")) parse(data);
    }
};

// True when the plan's new tag, followed by the start of what the file keeps
// and the new ID3v1 tag, reads back, by this library and by TagLib, as a single
// version 2.3 tag of the head's size holding exactly the frames, and the ID3v1
// tag is found where it is to be.
bool readsBack(const WritePlan& plan, ReadAheadStream& stream, const std::vector<Frame>& frames,
               const TagFields& fields, WriteTargets targets) {
    const long keepEnd = std::min(plan.tailStart, plan.keepFrom + static_cast<long>(kTailRead));
    std::string data = plan.head;
    data += view(stream.bytesAt(plan.keepFrom, keepEnd - plan.keepFrom));
    data += plan.tail;

    TagLib::ByteVectorStream bytes(byteVector(data));
    TagLib::MPEG::File file(&bytes, ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return false;
    if (targets.id3v1 && file.hasID3v1Tag() == plan.tail.empty()) return false;
    if (!targets.id3v2) return true;
    if (!file.hasID3v2Tag() || file.ID3v2Tag()->header()->majorVersion() != 3 ||
        file.ID3v2Tag()->header()->completeTagSize() != plan.head.size() ||
        !holds(*file.ID3v2Tag(), fields))
        return false;

    ReadAheadStream again(std::move(data));
    const LeadingTags tags = readLeadingTags(again);
    if (tags.count != 1 || !tags.damage.empty() || !tags.roomIsPadding ||
        tags.declaredEnd != static_cast<long>(plan.head.size()) ||
        tags.frames.size() != frames.size())
        return false;
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (renderFrame(tags.frames[i]) != renderFrame(frames[i])) return false;
    return true;
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

}  // namespace

std::variant<std::vector<Frame>, std::string> framesFor(const std::vector<Frame>& old,
                                                        const TagFields& fields) {
    const bool sameYear = fields.year != 0 && fields.year == yearOf(old);
    auto has = [&](std::string_view id) {
        return std::any_of(old.begin(), old.end(), [&](const Frame& f) { return f.id == id; });
    };
    const bool hasDay = has("TDAT") || has("TIME");
    const bool iplsFree = !has("IPLS");
    std::string language = "jpn";  // of a comment frame made anew
    if (const auto comment = std::find_if(old.begin(), old.end(), isPlainComment);
        comment != old.end())
        language = plainContent(*comment)->substr(1, 3);

    std::vector<Frame> out;
    std::set<std::string> placed;
    auto place = [&](const std::string& id) {
        if (!placed.insert(id).second) return;
        if (id == "COMM") {
            if (fields.comment.empty()) return;
            out.push_back(makeFrame(id, std::string(1, static_cast<char>(kUtf16)) + language +
                                            terminated(u"", kUtf16) +
                                            utf16WithBom(fields.comment)));
            return;
        }
        const std::u16string text = id == "TIT2"   ? fields.title
                                    : id == "TPE1" ? fields.artist
                                    : id == "TALB" ? fields.album
                                    : id == "TCON" ? genreName(fields)
                                    : fields.year > 0 && fields.year <= 9999
                                        ? fourDigits(fields.year)
                                        : u"";
        if (!text.empty()) out.push_back(makeFrame(id, textContent(text)));
    };

    for (const Frame& frame : old) {
        const std::string& id = frame.id;
        if (id == "TIT2" || id == "TPE1" || id == "TALB" || id == "TCON") {
            place(id);
        } else if (id == "TYER" || id == "TDRC") {
            const bool first = !placed.contains("TYER");
            place("TYER");
            if (first && id == "TDRC" && sameYear && !hasDay) addDateFrames(frame, out);
        } else if (id == "TDAT" || id == "TIME") {
            // A day and a time of another year go with it.
            if (sameYear && !carry(frame, iplsFree, out))
                return "the frame " + id + " cannot be carried over";
        } else if (isPlainComment(frame)) {
            place("COMM");
        } else if (!carry(frame, iplsFree, out)) {
            return "the frame " + id + " cannot be carried over";
        }
    }
    for (const char* id : {"TIT2", "TPE1", "TALB", "TYER", "COMM", "TCON"}) place(id);
    return out;
}

void applyFields(TagLib::ID3v1::Tag& tag, const TagFields& fields) {
    // The string handler cuts title, artist and album to their 30 bytes.
    tag.setTitle(toTagString(fields.title));
    tag.setArtist(toTagString(fields.artist));
    tag.setAlbum(toTagString(fields.album));
    tag.setYear(fields.year);
    tag.setComment(fitForId3v1(toTagString(fields.comment), kId3v1CommentSize));
    const unsigned named = genreNumberOf(toTagString(genreName(fields)));
    tag.setGenreNumber(named != kNoGenre ? named : fields.genreNumber);
}

std::variant<WritePlan, WriteFailure> planWrite(ReadAheadStream& stream, const FileLayout& layout,
                                                const TagFields& fields, WriteTargets targets,
                                                nlink_t linkCount, std::size_t blockSize) {
    const auto audioFrom = static_cast<std::size_t>(layout.audioStart);
    if (!layout.isMpegAudio()) return failure(WriteCheck::NotMpegAudio, ENOEXEC);
    const LeadingTags& leading = layout.leading;
    std::vector<Frame> frames;
    std::string rendered;
    if (targets.id3v2) {
        if (!leading.damage.empty()) return failure(WriteCheck::Damaged, EBADMSG);
        auto made = framesFor(leading.frames, fields);
        if (std::holds_alternative<std::string>(made)) return failure(WriteCheck::Damaged, EBADMSG);
        frames = std::move(std::get<std::vector<Frame>>(made));
        for (const Frame& frame : frames) rendered += renderFrame(frame);
        if (grownTagSize(rendered.size(), audioFrom, blockSize) > kMostTagBody)
            return failure(WriteCheck::TooLarge, EFBIG);
    }

    WritePlan plan;
    plan.tailStart = layout.id3v1Start;
    const std::string oldTail(
        view(stream.bytesAt(layout.id3v1Start, layout.length - layout.id3v1Start)));
    plan.tail = oldTail;
    if (targets.id3v1) {
        Id3v1Tag tag(stream.bytesAt(layout.id3v1Start, kId3v1Size));
        applyFields(tag, fields);
        plan.tail = tag.isEmpty() ? std::string_view() : view(tag.render());
    }

    // In place: the tag over the room of the old ones, when it fits there.
    const long room = leading.declaredEnd;
    const bool fits =
        leading.roomIsPadding &&
        (!targets.id3v2 || kTagHeaderSize + rendered.size() <= static_cast<std::size_t>(room));
    if (fits) {
        plan.head =
            targets.id3v2 ? tagOfSize(rendered, static_cast<std::size_t>(room)) : std::string();
        plan.keepFrom = room;
        if (plan.head == view(stream.bytesAt(0, static_cast<long>(plan.head.size()))) &&
            plan.tail == oldTail) {
            plan.kind = WritePlan::Kind::Unchanged;
            return plan;
        }
    }
    if (fits && linkCount <= 1) {
        plan.kind = WritePlan::Kind::InPlace;
    } else {
        plan.kind = WritePlan::Kind::Rewrite;
        plan.head = targets.id3v2
                        ? tagOfSize(rendered, grownTagSize(rendered.size(), audioFrom, blockSize))
                        : std::string();
        plan.keepFrom = targets.id3v2 ? layout.audioStart : 0;
    }
    if (!readsBack(plan, stream, frames, fields, targets))
        return failure(WriteCheck::Unparsable, EIO);
    if (stream.error() != 0) return failure(WriteCheck::System, stream.error());
    return plan;
}

namespace {

WriteFailure changeFailure(int err) {
    return failure(err == EBUSY ? WriteCheck::Busy : WriteCheck::System, err);
}

// Opens the file at path and plans the write; in Write mode stages the change
// in change (left empty when nothing is to change). The failure, if the write is
// refused or fails before anything is written. batch: the batch the change
// goes into, if any.
std::optional<WriteFailure> stageWrite(platform::Posix& posix, const std::string& path,
                                       const TagFields& fields, WriteTargets targets,
                                       WriteMode mode, std::optional<platform::FileChange>& change,
                                       const platform::ChangeBatch* batch = nullptr) {
    if (!targets.id3v2 && !targets.id3v1) return failure(WriteCheck::NoTarget, EINVAL);
    const auto purpose = mode == WriteMode::Check ? platform::FileChange::Purpose::Check
                                                  : platform::FileChange::Purpose::Change;
    if (int err = platform::FileChange::open(posix, path, change, purpose, batch); err != 0)
        return systemFailure(err);
    ReadAheadStream stream(posix, change->fd(), change->status().st_size, path);
    stream.preloadEnds();
    const FileLayout layout = readLayout(stream);
    if (stream.error() != 0) return failure(WriteCheck::System, stream.error());
    auto planned =
        planWrite(stream, layout, fields, targets, change->status().st_nlink,
                  static_cast<std::size_t>(platform::sharingBlockSize(change->status())));
    if (const auto* refused = std::get_if<WriteFailure>(&planned)) return *refused;
    const WritePlan& plan = std::get<WritePlan>(planned);
    if (mode == WriteMode::Check) {
        // A write makes the journal or a copy in the file's folder.
        if (plan.kind != WritePlan::Kind::Unchanged &&
            posix.access(platform::folderToOpen(change->folder()).c_str(), W_OK) != 0)
            return failure(WriteCheck::System, errno);
        change.reset();
        return std::nullopt;
    }

    int err = 0;
    if (plan.kind == WritePlan::Kind::InPlace) {
        // The old bytes of both regions go into the journal; an ID3v1 tag that
        // goes away is a region of no new bytes.
        const std::string oldHead(view(stream.bytesAt(0, static_cast<long>(plan.head.size()))));
        const std::string oldTail(
            view(stream.bytesAt(plan.tailStart, layout.length - plan.tailStart)));
        if (stream.error() != 0) return failure(WriteCheck::System, stream.error());
        std::vector<platform::Patch> patches;
        if (plan.head != oldHead) patches.push_back({0, plan.head, oldHead});
        if (plan.tail != oldTail) patches.push_back({plan.tailStart, plan.tail, oldTail});
        err = change->stageInPlace(patches, plan.tailStart + static_cast<off_t>(plan.tail.size()));
    } else if (plan.kind == WritePlan::Kind::Rewrite) {
        err = change->stageRewrite(plan.head, plan.keepFrom, plan.tailStart, plan.tail);
    } else {
        change.reset();
    }
    if (err != 0) return changeFailure(err);
    return std::nullopt;
}

// The bound of the journal data a batch holds before it is committed early.
constexpr std::size_t kMostBatchJournalBytes = std::size_t{16} << 20;

}  // namespace

std::optional<WriteFailure> writeFields(platform::Posix& posix, const std::string& path,
                                        const TagFields& fields, WriteTargets targets,
                                        WriteMode mode) {
    std::optional<platform::FileChange> change;
    if (auto refused = stageWrite(posix, path, fields, targets, mode, change)) return refused;
    if (!change) return std::nullopt;
    platform::ChangeBatch batch(posix);
    batch.add(*change);
    batch.commit();
    if (change->error() != 0) return changeFailure(change->error());
    return std::nullopt;
}

std::optional<WriteFailure> WriteBatch::add(const std::string& path, const TagFields& fields,
                                            WriteTargets targets) {
    std::optional<platform::FileChange> change;
    auto refused = stageWrite(m_posix, path, fields, targets, WriteMode::Write, change, &m_batch);
    if (refused && refused->error == EBUSY && !m_pending.empty()) {
        // The file may be one staged already, by another name (a link, a hard
        // link): the batch so far is committed, and the file tried again.
        commitStaged();
        refused = stageWrite(m_posix, path, fields, targets, WriteMode::Write, change, &m_batch);
    }
    m_results.push_back(refused);
    if (refused || !change) return refused;
    if (m_journalBytes + change->journalBytes() > kMostBatchJournalBytes) commitStaged();
    m_journalBytes += change->journalBytes();
    platform::FileChange& staged = m_changes.emplace_back(std::move(*change));
    m_batch.add(staged);
    m_pending.emplace_back(m_results.size() - 1, &staged);
    return std::nullopt;
}

void WriteBatch::commitStaged() {
    m_batch.commit();
    for (const auto& [index, change] : m_pending)
        if (change->error() != 0) m_results[index] = changeFailure(change->error());
    m_pending.clear();
    m_changes.clear();  // the files are closed and unlocked
    m_journalBytes = 0;
}

std::vector<std::optional<WriteFailure>> WriteBatch::commit() {
    commitStaged();
    return std::exchange(m_results, {});
}

}  // namespace kestrom::vbmp3
