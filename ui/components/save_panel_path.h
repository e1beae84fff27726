#pragma once
// A save panel proposes a name with its file type's extension; when the user removes it (or
// types a name without it), the file still gets it, as a desktop's save panel does.

#include <QString>

namespace norv {

// `path` with `extension` (for example ".csv") appended unless its name already ends in it,
// ignoring case.
inline QString withFileExtension(const QString& path, const QString& extension) {
    return path.endsWith(extension, Qt::CaseInsensitive) ? path : path + extension;
}

}  // namespace norv
