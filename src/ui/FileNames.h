// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>
#include <string>

namespace kestrom::ui {

// Folder texts cross into the engine as file-name bytes (UTF-8 by convention on
// Linux). QFile's conversion is the one Qt uses for every file name, so a name
// that comes back from the file system converts back to the same bytes.
inline std::string toFileName(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

inline QString fromFileName(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

}  // namespace kestrom::ui
