// SPDX-License-Identifier: GPL-3.0-or-later
#include <shlobj.h>

#include <algorithm>
#include <optional>

#include "engine/Run.h"
#include "platform/Drives.h"
#include "platform/Text.h"
#include "ui/win32/Controls.h"
#include "ui/win32/Texts.h"
#include "ui/win32/Windows.h"

namespace kestrom::ui::win32 {

std::wstring PickedPath;

namespace {

// A path as the lists take it: "/" between names, absolute (a drive, "C:/",
// or a share), "." and ".." and doubled separators folded, no "/" at its end
// but a drive's root's. Nothing for a text that is no absolute path.
std::optional<std::string> cleanPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    std::string root;
    if (path.size() >= 3 && path[1] == ':' && path[2] == '/' && std::isalpha(path[0] & 0xFF)) {
        root = path.substr(0, 3);
        root[0] = static_cast<char>(std::toupper(root[0] & 0xFF));
    } else if (path.size() == 2 && path[1] == ':' && std::isalpha(path[0] & 0xFF)) {
        root = path + "/";  // a bare drive: its root
        root[0] = static_cast<char>(std::toupper(root[0] & 0xFF));
    } else {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (std::size_t start = root.size(); start < path.size();) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string name = path.substr(start, slash - start);
        start = slash + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!names.empty()) names.pop_back();
            continue;
        }
        names.push_back(name);
    }
    std::string clean = root;
    for (std::size_t i = 0; i < names.size(); ++i) clean += (i == 0 ? "" : "/") + names[i];
    return clean;
}

std::string currentFolder() {
    std::wstring folder(MAX_PATH, L'\0');
    const DWORD size = ::GetCurrentDirectoryW(MAX_PATH, folder.data());
    folder.resize(size < MAX_PATH ? size : 0);
    return cleanPath(programPath(folder)).value_or("");
}

std::string desktop() {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path)))
        folder = programPath(path);
    ::CoTaskMemFree(path);
    return folder;
}

// The parent of a clean path; the root stays itself.
std::string parentOf(const std::string& path) {
    if (path.size() <= 3) return path;
    const std::size_t slash = path.rfind('/');
    return slash < 3 ? path.substr(0, 3) : path.substr(0, slash);
}

}  // namespace

Dialog::Dialog(HWND owner, platform::Posix& posix)
    : m_posix(posix), m_owner(owner), m_drives(platform::systemDrives(posix, {})) {
    const HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(2));
    create(kDialogClass, say(texts::kChooseFolder).c_str(), layout::kDialog, owner,
           WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, WS_EX_DLGMODALFRAME, true, icon);
    const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
    addControl(L"Button", L"OK", button, kOKButton, layout::kOKButton);
    addControl(L"Button", say(texts::kCancel).c_str(), button, kCancelButton,
               layout::kCancelButton);
    const HWND drives =
        addControl(L"ComboBox", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, kDrive1,
                   {layout::kDrive1.left, layout::kDrive1.top, layout::kDrive1.width, 3000});
    for (const std::string& drive : m_drives)
        ::SendMessageW(drives, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shownPath(drive).c_str()));
    addControl(L"ListBox", L"", WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY, kDir1,
               layout::kDir1);

    // Before loading, the lists show the process's current drive and folder.
    const std::string current = currentFolder();
    selectDriveOf(current);
    m_shownDrive = static_cast<int>(::SendMessageW(drives, CB_GETCURSEL, 0, 0));
    if (!setDir1Path(current) && m_shownDrive >= 0)
        setDir1Path(m_drives[static_cast<std::size_t>(m_shownDrive)]);
    Form_Load();
}

void Dialog::exec() {
    ::SetFocus(item(kOKButton));
    runModal(m_owner);
}

void Dialog::Form_Load() {
    // Every step that fails is skipped: its list keeps what it showed.
    m_loading = true;
    const std::string start = PickedPath.empty() ? desktop() : programPath(PickedPath);
    // The drive list takes the first two characters, the drive's letter and colon.
    selectDriveOf(start.substr(0, 2));
    setDir1Path(start);
    PickedPath.clear();
    m_loading = false;
}

bool Dialog::selectDriveOf(const std::string& path) {
    if (path.size() < 2 || path[1] != ':') return false;
    const char letter = static_cast<char>(std::toupper(path[0] & 0xFF));
    for (std::size_t i = 0; i < m_drives.size(); ++i) {
        if (std::toupper(m_drives[i][0] & 0xFF) != letter) continue;
        const HWND drives = item(kDrive1);
        if (static_cast<int>(::SendMessageW(drives, CB_GETCURSEL, 0, 0)) != static_cast<int>(i)) {
            ::SendMessageW(drives, CB_SETCURSEL, i, 0);
            Drive1_Change();  // a change made by the program is a change too
        }
        return true;
    }
    return false;
}

std::string Dialog::currentFolderOf(int drive) const {
    const std::string current = currentFolder();
    const std::string& root = m_drives[static_cast<std::size_t>(drive)];
    if (!current.empty() && std::toupper(current[0] & 0xFF) == std::toupper(root[0] & 0xFF))
        return current;
    return root;
}

bool Dialog::setDir1Path(const std::string& text) {
    const std::optional<std::string> path = cleanPath(text);
    if (!path) return false;
    std::vector<platform::DirEntry> entries;
    if (m_posix.listDirectory(path->c_str(), entries) != 0) return false;
    std::vector<std::string> folders;
    for (const platform::DirEntry& entry : entries)
        if (entry.kind == platform::EntryKind::Directory) folders.push_back(entry.name);
    std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
        return platform::foldName(a) < platform::foldName(b);
    });

    // The root and every folder down to the open one, then its subfolders,
    // each level indented under the one before.
    std::vector<std::string> chain;
    for (std::string at = *path;; at = parentOf(at)) {
        chain.insert(chain.begin(), at);
        if (at.size() <= 3) break;
    }
    const HWND list = item(kDir1);
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    m_entries.clear();
    const auto add = [&](const std::string& folder, std::size_t depth, const std::string& name) {
        const std::wstring line = std::wstring(depth * 2, L' ') + shownPath(name);
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        m_entries.push_back(folder);
    };
    for (std::size_t i = 0; i < chain.size(); ++i)
        add(chain[i], i, i == 0 ? chain[i] : chain[i].substr(chain[i].rfind('/') + 1));
    for (const std::string& name : folders)
        add((path->ends_with('/') ? *path : *path + "/") + name, chain.size(), name);
    ::SendMessageW(list, LB_SETCURSEL, chain.size() - 1, 0);
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
    m_path = *path;
    return true;
}

void Dialog::Drive1_Change() {
    const int selected = static_cast<int>(::SendMessageW(item(kDrive1), CB_GETCURSEL, 0, 0));
    if (selected < 0 || selected == m_shownDrive) return;
    // The drive's current folder, or its root where that folder has gone.
    const std::string& root = m_drives[static_cast<std::size_t>(selected)];
    if (setDir1Path(currentFolderOf(selected)) || setDir1Path(root)) {
        m_shownDrive = selected;
        return;
    }
    // A drive that cannot be read (no medium, a lost network drive) leaves
    // both lists as they were.
    ::SendMessageW(item(kDrive1), CB_SETCURSEL, static_cast<WPARAM>(m_shownDrive), 0);
    if (!m_loading)
        showMessage(handle(), platform::format(windowLanguage()(texts::kCannotRead),
                                               {platform::displayName(root)}));
}

void Dialog::OKButton_Click() {
    PickedPath = shownPath(m_path);
    close();
}

void Dialog::CancelButton_Click() {
    close();
}

LRESULT Dialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (id == kOKButton && code == BN_CLICKED) {
            OKButton_Click();
            return 0;
        }
        if (id == kCancelButton && code == BN_CLICKED) {
            CancelButton_Click();
            return 0;
        }
        if (id == kDrive1 && code == CBN_SELCHANGE) {
            Drive1_Change();
            return 0;
        }
        if (id == kDir1 && code == LBN_DBLCLK) {
            const auto at =
                static_cast<std::size_t>(::SendMessageW(item(kDir1), LB_GETCURSEL, 0, 0));
            if (at < m_entries.size() && !setDir1Path(m_entries[at]))
                showMessage(handle(), platform::format(windowLanguage()(texts::kCannotOpen),
                                                       {platform::displayName(m_entries[at])}));
            return 0;
        }
    }
    return Frame::handleMessage(message, wParam, lParam);
}

Dialog1::Dialog1(HWND owner) : m_owner(owner) {
    create(kDialog1Class, L"Copy Error List", layout::kDialog1, owner,
           WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, WS_EX_DLGMODALFRAME, true, nullptr);
    addControl(L"Button", L"OK", WS_TABSTOP | BS_PUSHBUTTON, kOKButton, layout::kErrListOK);
    // No scroll bars: long lines wrap, and lines below the box are reached
    // with the caret. Each line of the list ends in CR LF, the box's own line
    // break.
    addControl(L"Edit", wide(engine::ErrorListText).c_str(),
               WS_TABSTOP | WS_BORDER | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL, kErrList,
               layout::kErrList);
}

void Dialog1::exec() {
    ::SetFocus(item(kOKButton));
    runModal(m_owner);
}

LRESULT Dialog1::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == kOKButton && HIWORD(wParam) == BN_CLICKED) {
        close();
        return 0;
    }
    return Frame::handleMessage(message, wParam, lParam);
}

}  // namespace kestrom::ui::win32
