// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "platform/Posix.h"

namespace kestrom::platform {

// The folder of the running executable, with links resolved, ending in "/"; empty
// when the system cannot tell. The programs find their own files from here, in
// the build folder and wherever an installation has been put.
std::string programFolder(Posix& posix);

}  // namespace kestrom::platform
