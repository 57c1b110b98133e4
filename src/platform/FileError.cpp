// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileError.h"

#include <cerrno>

#include "platform/Posix.h"  // the error numbers that not every system has

namespace kestrom::platform {
namespace {

FileError make(int number) {
    switch (number) {
        case 52: return {52, "ファイル名が正しくありません。"};
        case 53: return {53, "ファイルが見つかりません。"};
        case 57: return {57, "デバイスの入出力エラーです。"};
        case 58: return {58, "ファイルは既に存在します。"};
        case 61: return {61, "ディスクの空き容量が足りません。"};
        case 70: return {70, "書き込みできません。"};
        case 71: return {71, "ディスクの準備ができていません。"};
        case 76: return {76, "パスが見つかりません。"};
        default: return {75, "パスまたはファイルにアクセスできません。"};
    }
}

}  // namespace

FileError fileErrorFromErrno(int err) {
    switch (err) {
        case ENOENT: return make(53);
        case ENOTDIR: return make(76);
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY: return make(70);
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return make(61);
        case EIO: return make(57);
        case ENXIO:
        case ENODEV:
        case ENOMEDIUM:
        case ESTALE:
        case ENOTCONN: return make(71);
        case EEXIST:
        case ENOTEMPTY: return make(58);
        case ENAMETOOLONG:
        case EILSEQ:
        case EINVAL: return make(52);
        default: return make(75);  // EISDIR, EBUSY, ELOOP, EXDEV, EMFILE and the rest
    }
}

std::string numbered(const FileError& error) {
    return "(" + std::to_string(error.number) + ")" + error.description;
}

FileError pathNotFound() {
    return make(76);
}

FileError folderReadErrorFromErrno(int err) {
    switch (err) {
        case EACCES:
        case EPERM: return make(75);
        case ENOENT:
        case ENOTDIR: return make(76);
        default: return fileErrorFromErrno(err);
    }
}

}  // namespace kestrom::platform
