// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace kestrom::engine {
namespace {

// "/a/b/c" gives "/", "/a", "/a/b".
std::vector<std::string> ancestors(const std::string& path) {
    std::vector<std::string> out;
    for (std::size_t slash = path.find('/'); slash != std::string::npos && slash + 1 < path.size();
         slash = path.find('/', slash + 1))
        out.push_back(slash == 0 ? "/" : path.substr(0, slash));
    return out;
}

}  // namespace

std::optional<std::string> RunLock::acquire(platform::Posix& posix, const std::string& library,
                                            const std::string& work) {
    m_held.clear();
    for (const std::string& text : {library, work}) {
        std::string folder;
        if (posix.realpath(text.c_str(), folder) != 0) continue;  // the folder check reports it
        std::vector<std::string> shared = ancestors(folder);
        shared.push_back(folder);
        for (std::size_t i = 0; i < shared.size(); ++i) {
            platform::Fd fd(posix, posix.open(shared[i].c_str(), O_RDONLY | O_DIRECTORY, 0));
            if (!fd.valid()) continue;  // a folder above that cannot be opened is not locked
            const int operation = (i + 1 == shared.size() ? LOCK_EX : LOCK_SH) | LOCK_NB;
            if (posix.flock(fd.get(), operation) != 0) {
                if (errno == EWOULDBLOCK) {
                    m_held.clear();
                    return text;
                }
                continue;  // no locks on this file system
            }
            m_held.push_back(std::move(fd));
        }
    }
    return std::nullopt;
}

}  // namespace kestrom::engine
