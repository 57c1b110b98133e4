// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SharedLibrary.h"

#include <dlfcn.h>

namespace kestrom::platform {

void* loadLibrary(const std::string& path, std::string& reason) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* error = ::dlerror();
        reason = error != nullptr ? error : "";
    }
    return library;
}

void* librarySymbol(void* library, const char* name) {
    return ::dlsym(library, name);
}

}  // namespace kestrom::platform
