// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Drives.h"
#include "platform/MountTable.h"

namespace kestrom::platform {

std::vector<std::string> systemDrives(Posix& posix, std::string_view home) {
    return drivesFromMountInfo(readMountInfo(posix), home);
}

}  // namespace kestrom::platform
