// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// GoogleTest's port layer calls, on mingw-w64, the C library's old POSIX names
// (and its semaphores speak of mode_t), which the Windows build leaves out (see
// cmake/ProjectOptions.cmake). The test programs declare them ahead of it.
#include "platform/win32/PosixTypes.h"

extern "C" {
int __cdecl chdir(const char* path);
int __cdecl read(int fd, void* buffer, unsigned int count);
int __cdecl write(int fd, const void* buffer, unsigned int count);
int __cdecl close(int fd);
}
