#pragma once
// Where a save panel starts and what it writes: the user's documents folder (home when there is
// none), never the folder the application happened to be started from; and a name with its file
// type's extension, which the file still gets when the user removes it (or types a name without
// it), as a desktop's save panel does.

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

namespace norv {

// The folder a save panel opens in.
inline QString saveFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
    return QDir::homePath();
}

// `path` with `extension` (for example ".csv") appended unless its name already ends in it,
// ignoring case.
inline QString withFileExtension(const QString& path, const QString& extension) {
    return path.endsWith(extension, Qt::CaseInsensitive) ? path : path + extension;
}

// The line that tells the user where an export went.
inline QString savedToText(const QString& path) {
    return QStringLiteral("Saved to ") + QDir::toNativeSeparators(path);
}

}  // namespace norv
