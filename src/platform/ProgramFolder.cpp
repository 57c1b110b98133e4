// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ProgramFolder.h"

namespace kestrom::platform {

std::string programFolder(Posix& posix) {
    std::string path;
    if (posix.realpath("/proc/self/exe", path) != 0) return {};
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace kestrom::platform
