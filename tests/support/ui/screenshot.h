#pragma once
// Pictures for people to look at: each test program writes into a folder of its own under
// build/screenshots/, so programs running side by side never share a file.

#include <QDir>
#include <QFile>
#include <QString>
#include <QWidget>

namespace norv::test {

// Saves `widget` as <build>/screenshots/<folder>/<name>.png in place of an older picture and
// returns the path; an empty path when the picture could not be written.
inline QString saveScreenshot(QWidget& widget, const QString& folder, const QString& name) {
    const QString directory = QStringLiteral(NORV_BINARY_DIR "/screenshots/") + folder;
    if (!QDir().mkpath(directory)) return {};
    const QString path = QDir(directory).filePath(name + QStringLiteral(".png"));
    QFile::remove(path);
    return widget.grab().save(path) ? path : QString();
}

}  // namespace norv::test
