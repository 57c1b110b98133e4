// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 windows, driven from outside as a user would: Kestrom.exe runs as
// its own process, and this test finds its windows and works them with
// messages (texts set, boxes ticked, buttons clicked), then reads what they
// show.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include "support/Mp3Files.h"
#include "support/TempDir.h"
#include "ui/win32/Controls.h"

using namespace kestrom::test;
using namespace kestrom::ui::win32;

namespace {

std::wstring wide(const std::string& utf8) {
    std::wstring text(utf8.size() + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(),
                              static_cast<int>(text.size()))));
    return text;
}

std::wstring shown(std::string path) {
    std::wstring text = wide(path);
    for (wchar_t& c : text)
        if (c == L'/') c = L'\\';
    return text;
}

std::wstring textOf(HWND window) {
    wchar_t text[4096]{};
    ::SendMessageW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text));
    return text;
}

// Waits up to ten seconds for found() to give a window.
HWND waitFor(const std::function<HWND()>& found) {
    for (int i = 0; i < 200; ++i) {
        if (HWND window = found()) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

HWND windowOfClass(const wchar_t* className, DWORD process) {
    return waitFor([&]() -> HWND {
        HWND window = nullptr;
        while ((window = ::FindWindowExW(nullptr, window, className, nullptr)) != nullptr) {
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == process && ::IsWindowVisible(window)) return window;
        }
        return nullptr;
    });
}

bool waitUntilGone(HWND window) {
    return waitFor([&] { return ::IsWindow(window) ? nullptr : ::GetDesktopWindow(); }) != nullptr;
}

// An MP3 file whose ID3v2.3 tag has room for a new one (so it is written in
// place), behind twenty silent frames.
std::string paddedMp3() {
    std::string file("ID3\x03\x00\x00\x00\x00\x20\x00", 10);  // 4096 bytes of room
    file += std::string(4096, '\0');
    return file + silentAudio(20);
}

class Program {
public:
    // The program started as a user of that language starts it (wine takes
    // its Windows display language from LANG).
    explicit Program(const wchar_t* lang = L"ja_JP.UTF-8") {
        ::SetEnvironmentVariableW(L"LC_ALL", nullptr);
        ::SetEnvironmentVariableW(L"LC_MESSAGES", nullptr);
        ::SetEnvironmentVariableW(L"LANG", lang);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" + wide(KESTROM_GUI) + L"\"";
        EXPECT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &m_process));
        main = windowOfClass(kMainClass, m_process.dwProcessId);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program() {
        if (main != nullptr) ::PostMessageW(main, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(m_process.hProcess, 10000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the program did not end when its window was closed";
            ::TerminateProcess(m_process.hProcess, 1);
        }
        ::CloseHandle(m_process.hThread);
        ::CloseHandle(m_process.hProcess);
    }

    HWND item(int id) const { return ::GetDlgItem(main, id); }
    HWND window(const wchar_t* className) const {
        return windowOfClass(className, m_process.dwProcessId);
    }
    // Clicks a button without waiting: the click may open a modal window.
    static void click(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }
    // The text of the message box the program shows, which is then closed.
    std::wstring answerMessage() const {
        const HWND box = window(L"#32770");
        if (box == nullptr) return L"(no message box)";
        std::wstring text = textOf(::GetDlgItem(box, 0xFFFF));
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        waitUntilGone(box);
        return text;
    }

    HWND main = nullptr;

private:
    PROCESS_INFORMATION m_process{};
};

}  // namespace

// The window opens as a fresh start shows it, in the user's language; Execute
// at once stops at the overlap of its two equal boxes.
TEST(Win32Windows, StartFreshAndRefuseEqualFolders) {
    for (const auto& [lang, execute, replace, overlap] :
         {std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*>{
              L"ja_JP.UTF-8", L"実行", L"タグをコピー後、ＭＰ３データをコピー元と置き換える",
              L"指定パスの範囲が重複しています。"},
          {L"en_US.UTF-8", L"Run", L"After tagging, replace the source's MP3 files",
           L"The two folders overlap."}}) {
        Program program(lang);
        ASSERT_NE(program.main, nullptr) << "no main window";
        EXPECT_EQ(textOf(program.main), L"Kestrom Ver." + wide(KESTROM_VERSION));
        EXPECT_EQ(textOf(program.item(kCommand2)), execute);
        EXPECT_EQ(textOf(program.item(kCheck1)), replace);
        EXPECT_EQ(textOf(program.item(kLabel2)), L"0000 / 0000");
        EXPECT_EQ(textOf(program.item(kText1)), textOf(program.item(kText1 + 1)));
        EXPECT_TRUE(textOf(program.item(kText1)).ends_with(L"\\"));
        EXPECT_EQ(::SendMessageW(program.item(kCheck1), BM_GETCHECK, 0, 0), BST_UNCHECKED);
        Program::click(program.item(kCommand2));
        EXPECT_EQ(program.answerMessage(), overlap);
    }
}

// A run: one file tagged and moved into the library, one not found, which the
// error list names; the counters say so.
TEST(Win32Windows, RunCountsTagsMovesAndListsTheFailures) {
    TempDir dir;
    const Mp3Tag tag{"題名", "歌手", "", "2024", "", ""};
    writeMp3(dir / "lib/sub/曲.mp3", silentAudio(20), &tag);
    writeFile(dir / "work/曲.mp3", paddedMp3());
    writeFile(dir / "work/Missing.mp3", paddedMp3());
    Program program;
    ASSERT_NE(program.main, nullptr) << "no main window";
    ::SendMessageW(program.item(kText1), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(shown(dir / "lib").c_str()));
    ::SendMessageW(program.item(kText1 + 1), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(shown(dir / "work\\").c_str()));
    ::SendMessageW(program.item(kCheck1), BM_CLICK, 0, 0);
    Program::click(program.item(kCommand2));
    const HWND errors = program.window(kDialog1Class);
    ASSERT_NE(errors, nullptr) << "no error list";
    EXPECT_EQ(textOf(errors), L"Copy Error List");
    EXPECT_EQ(textOf(::GetDlgItem(errors, kErrList)), L"Missing.mp3\r\n");
    EXPECT_EQ(textOf(program.item(kLabel2)), L"0001 / 0001");
    Program::click(::GetDlgItem(errors, kOKButton));
    EXPECT_TRUE(waitUntilGone(errors));
    EXPECT_EQ(readMp3Tag(dir / "lib/sub/曲.mp3").title, "題名");
    EXPECT_FALSE(exists(dir / "work/曲.mp3"));
    EXPECT_TRUE(exists(dir / "work/Missing.mp3"));
}

// Browse: OK puts the folder open in the picker into its box, in the picker's
// form (no backslash at its end); Cancel leaves the box as it was.
TEST(Win32Windows, BrowseFillsOnlyItsBoxOnOK) {
    TempDir dir;
    makeDirs(dir / "Music/Sub");
    Program program;
    ASSERT_NE(program.main, nullptr) << "no main window";
    const std::wstring first = textOf(program.item(kText1));
    const std::wstring music = shown(dir / "Music");
    for (const auto& [typed, button, expected] :
         {std::tuple<std::wstring, int, std::wstring>{music + L"\\", kOKButton, music},
          {music + L"\\.\\", kCancelButton, music + L"\\.\\"}}) {
        ::SendMessageW(program.item(kText1 + 1), WM_SETTEXT, 0,
                       reinterpret_cast<LPARAM>(typed.c_str()));
        Program::click(program.item(kCommand1 + 1));
        const HWND picker = program.window(kDialogClass);
        ASSERT_NE(picker, nullptr) << "no folder picker";
        EXPECT_EQ(textOf(picker), L"フォルダ選択");
        const HWND list = ::GetDlgItem(picker, kDir1);
        const auto lines = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
        ASSERT_GT(lines, 1);
        wchar_t last[MAX_PATH]{};
        ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(lines - 1),
                       reinterpret_cast<LPARAM>(last));
        EXPECT_TRUE(std::wstring(last).ends_with(L"Sub")) << "the open folder's subfolder";
        Program::click(::GetDlgItem(picker, button));
        EXPECT_TRUE(waitUntilGone(picker));
        EXPECT_EQ(textOf(program.item(kText1 + 1)), expected);
        EXPECT_EQ(textOf(program.item(kText1)), first) << "the other box changed";
    }
}
