#pragma once

#include <QString>

#include <optional>

namespace norv {

// The information dictionary of an application bundle: Contents/Info.plist as an XML property list.
class BundleInfo {
public:
    // The string value of a key of the top-level dictionary; absent when the file cannot be read,
    // is not a well-formed property list, lacks the key or holds another type under it.
    static std::optional<QString> string(const QString& bundlePath, const QString& key);
};

}  // namespace norv
