// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileError.h"

#include <cerrno>
#include <iterator>

#include "platform/Posix.h"  // the error numbers that not every system has

namespace kestrom::platform {
namespace {

struct Description {
    int number;
    Text text;
};

// clang-format off
constexpr Description kDescriptions[] = {
    {52, {"ファイル名が正しくありません。", "Bad file name."}},
    {53, {"ファイルが見つかりません。", "File not found."}},
    {kBusyFile, {"別のプログラムがこのファイルに書き込み中です。",
                 "Another program is writing to the file."}},
    {57, {"デバイスの入出力エラーです。", "Device I/O error."}},
    {58, {"ファイルは既に存在します。", "File already exists."}},
    {61, {"ディスクの空き容量が足りません。", "Disk full."}},
    {70, {"書き込みできません。", "Permission denied."}},
    {71, {"ディスクの準備ができていません。", "Disk not ready."}},
    {75, {"パスまたはファイルにアクセスできません。", "Path/file access error."}},
    {76, {"パスが見つかりません。", "Path not found."}},
    {kReadOnlyFileSystem, {"読み取り専用のファイル システムです。",
                           "The file system is read-only."}},
    {kSameFile, {"移動先は移動元のファイルそのものです。",
                 "The destination is the source file itself."}},
    {kNotMpegAudio, {"MPEG オーディオのファイルではありません。", "Not an MPEG audio file."}},
    {kNoTag, {"タグがありません。", "The file has no tag."}},
    {kDamagedTag, {"タグに正しく写せない部分があります。",
                   "The tag holds parts that cannot be carried over exactly."}},
    {kTooLarge, {"ファイルまたはタグが大きすぎます。", "The file or its tag is too large."}},
    {kNotPlainFile, {"通常のファイルではありません。", "Not a plain file."}},
    {kTextTooLong, {"タグのテキストが長すぎます。", "A text of the tag is too long."}},
    {kFolderNotWritable, {"フォルダに書き込みできません。", "The folder cannot be written."}},
};
// clang-format on

const Text& describe(int number) {
    for (const Description& d : kDescriptions)
        if (d.number == number) return d.text;
    return describe(75);
}

}  // namespace

FileError fileError(int number) {
    for (const Description& d : kDescriptions)
        if (d.number == number) return {number, d.text.ja};
    return fileError(75);
}

FileError fileErrorFromErrno(int err) {
    switch (err) {
        case ENOENT: return fileError(53);
        case ENOTDIR: return fileError(76);
        case EACCES:
        case EPERM:
        case ETXTBSY: return fileError(70);
        case EROFS: return fileError(kReadOnlyFileSystem);
        case ENOSPC:
        case EDQUOT: return fileError(61);
        case EFBIG: return fileError(kTooLarge);
        case EIO: return fileError(57);
        case ENXIO:
        case ENODEV:
        case ENOMEDIUM:
        case ESTALE:
        case ENOTCONN: return fileError(71);
        case EEXIST:
        case ENOTEMPTY: return fileError(58);
        case ENAMETOOLONG:
        case EILSEQ:
        case EINVAL: return fileError(52);
        case EISDIR: return fileError(kNotPlainFile);
        default: return fileError(75);  // EBUSY, ELOOP, EXDEV, EMFILE and the rest
    }
}

FileError tagErrorFromErrno(int err) {
    switch (err) {
        case EINVAL: return fileError(kNotPlainFile);
        case EBUSY: return fileError(kBusyFile);
        case ENOEXEC: return fileError(kNotMpegAudio);
        case ENODATA: return fileError(kNoTag);
        case EBADMSG: return fileError(kDamagedTag);
        case EOVERFLOW:
        case ERANGE: return fileError(kTextTooLong);
        default: return fileErrorFromErrno(err);
    }
}

std::string numbered(const FileError& error, const Language& language) {
    return "(" + std::to_string(error.number) + ")" + language(describe(error.number));
}

FileError pathNotFound() {
    return fileError(76);
}

FileError folderReadErrorFromErrno(int err) {
    switch (err) {
        case EACCES:
        case EPERM: return fileError(75);
        case ENOENT:
        case ENOTDIR: return fileError(76);
        default: return fileErrorFromErrno(err);
    }
}

std::vector<std::pair<int, Text>> fileErrorTexts() {
    std::vector<std::pair<int, Text>> texts;
    for (const Description& d : kDescriptions) texts.emplace_back(d.number, d.text);
    return texts;
}

}  // namespace kestrom::platform
