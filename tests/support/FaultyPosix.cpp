// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FaultyPosix.h"

#include <cerrno>
#include <utility>

namespace kestrom::test {

void FaultyPosix::failAt(Call call, int nth, int err) {
    m_failCall = call;
    m_failNth = nth;
    m_failErrno = err;
}

void FaultyPosix::beforeCall(Call call, int nth, std::function<void()> action) {
    m_actionCall = call;
    m_actionNth = nth;
    m_action = std::move(action);
}

bool FaultyPosix::fails(Call call) {
    const int nth = ++m_calls[static_cast<std::size_t>(call)];
    const int any = ++m_calls[static_cast<std::size_t>(Call::Any)];
    if (m_action && ((m_actionCall == call && nth == m_actionNth) ||
                     (m_actionCall == Call::Any && any == m_actionNth)))
        std::exchange(m_action, nullptr)();
    if ((m_failCall == call && nth == m_failNth) || (m_failCall == Call::Any && any == m_failNth)) {
        errno = m_failErrno;
        return true;
    }
    return false;
}

// A failed close still releases the descriptor, as the real call does.
int FaultyPosix::close(int fd) {
    if (!fails(Call::Close)) return Posix::close(fd);
    const int err = errno;
    Posix::close(fd);
    errno = err;
    return -1;
}

}  // namespace kestrom::test
