#pragma once

#include <QString>
#include <stdexcept>

namespace norv {

// Failures of fingerprinting and copying the engine's runtime. The first four kinds carry the
// file-error codes the rest of the application knows them by; `io` carries the errno of a
// failed file-system call and names the call and the path.
class BridgeRuntimeError : public std::runtime_error {
public:
    enum class Kind {
        corruptFile = 259,      // a copy's fingerprint differs from the shipped one
        invalidFileName = 258,  // a symbolic link was met
        unknownRead = 256,      // an entry is neither a regular file nor a folder
        noSuchFile = 260,       // the tree holds no file at all
        io = -1,
    };

    static BridgeRuntimeError corruptFile();
    static BridgeRuntimeError invalidFileName();
    static BridgeRuntimeError unknownRead();
    static BridgeRuntimeError noSuchFile();
    static BridgeRuntimeError io(const char* operation, const QString& path, int error);

    Kind kind() const { return kind_; }
    // The file-error code for the four kinds above, the errno for `io`.
    int code() const { return kind_ == Kind::io ? errno_ : int(kind_); }
    QString description() const { return QString::fromUtf8(what()); }

private:
    BridgeRuntimeError(Kind kind, int error, const std::string& text)
        : std::runtime_error(text), kind_(kind), errno_(error) {}
    Kind kind_;
    int errno_;
};

}  // namespace norv
