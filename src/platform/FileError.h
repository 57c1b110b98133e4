// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace kestrom::platform {

// A failed file operation: the error number that users of the original desktop
// know (53 file not found, 70 permission denied...) and a short description in
// Japanese. The replace step shows both, as "path:(number)description".
struct FileError {
    int number = 0;
    std::string description;

    friend bool operator==(const FileError&, const FileError&) = default;
};

// Translates a POSIX errno into the familiar number and its description.
// ENOENT is "file not found" (53); callers that know the folder is missing
// report pathNotFound() instead.
FileError fileErrorFromErrno(int err);
FileError pathNotFound();

// A value or the FileError that prevented it.
template <typename T>
class Expected {
public:
    Expected(T value) : m_value(std::move(value)) {}          // NOLINT: implicit by design
    Expected(FileError error) : m_value(std::move(error)) {}  // NOLINT: implicit by design

    bool ok() const { return m_value.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<0>(m_value); }
    const T& operator*() const { return value(); }
    const T* operator->() const { return &value(); }
    const FileError& error() const { return std::get<1>(m_value); }

private:
    std::variant<T, FileError> m_value;
};

}  // namespace kestrom::platform
