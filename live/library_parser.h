#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace norv {

// Reads Live's Library.cfg: the User Library is the ProjectPath and ProjectName values seen while
// both a UserLibrary and a LibraryProject element are open.
class LibraryParser {
public:
    // The User Library folder named by the file, or absent when the file cannot be read, is not
    // well formed, or names no acceptable folder (an absolute path and one plain folder name).
    static std::optional<QString> read(const QString& cfgPath);

    void startElement(const QString& name, const std::optional<QString>& value);
    void endElement();

    std::optional<QString> root;
    std::optional<QString> name;

private:
    QStringList elements_;
};

}  // namespace norv
