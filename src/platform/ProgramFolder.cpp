// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ProgramFolder.h"

#include <unistd.h>

namespace kestrom::platform {

std::string programFolder() {
    std::string path(4096, '\0');
    const ssize_t len = ::readlink("/proc/self/exe", path.data(), path.size());
    if (len <= 0 || static_cast<std::size_t>(len) == path.size()) return {};
    path.resize(static_cast<std::size_t>(len));
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace kestrom::platform
