// SPDX-License-Identifier: GPL-3.0-or-later
// kestrom-cli.exe: the tag transfer run without windows on Windows. Its
// arguments come as UTF-16 (wmain) and become the program's UTF-8 paths, with
// "/" between names; its output is UTF-8, and a console shows it as such while
// the program runs.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/Cli.h"
#include "platform/Text.h"

namespace {

// Gives the console its code page back however the program ends.
class ConsoleCodePage {
public:
    ConsoleCodePage() : m_old(::GetConsoleOutputCP()) {
        if (m_old != 0) ::SetConsoleOutputCP(CP_UTF8);
    }
    ConsoleCodePage(const ConsoleCodePage&) = delete;
    ConsoleCodePage& operator=(const ConsoleCodePage&) = delete;
    ~ConsoleCodePage() {
        if (m_old != 0) ::SetConsoleOutputCP(m_old);
    }

private:
    UINT m_old;
};

// An argument as the program spells paths: UTF-8, and "/" for "\", which no
// Windows file name holds.
std::string argument(const wchar_t* wide) {
    std::string text = kestrom::platform::toUtf8(std::u16string(wide, wide + std::wcslen(wide)));
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const ConsoleCodePage utf8Console;
    // The bytes go out as they are: the line ends the run writes are its own.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    std::vector<std::string> texts;
    for (int i = 1; i < argc; ++i) texts.push_back(argument(argv[i]));
    const std::vector<std::string_view> args(texts.begin(), texts.end());
    return kestrom::cli::runProgram(args, ::_isatty(::_fileno(stderr)) != 0);
}
