#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace norv {

// Reads Live's Library.cfg: the User Library is the ProjectPath and ProjectName values seen while
// both a UserLibrary and a LibraryProject element are open.
class LibraryParser {
public:
    // The two values of one file, as written.
    struct Project {
        QString root;  // ProjectPath
        QString name;  // ProjectName
    };

    // The User Library folder named by the file, or absent when the file cannot be read, is not
    // well formed, or names no acceptable folder (an absolute path and one plain folder name).
    static std::optional<QString> read(const QString& cfgPath);

    // The file's values; absent when it cannot be read, is not well formed or lacks either value.
    static std::optional<Project> project(const QString& cfgPath);

    // One plain folder name: not empty, no "/", neither "." nor "..".
    static bool plainName(const QString& name);

    void startElement(const QString& name, const std::optional<QString>& value);
    void endElement();

    std::optional<QString> root;
    std::optional<QString> name;

private:
    QStringList elements_;
};

}  // namespace norv
