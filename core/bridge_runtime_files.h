#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <functional>
#include <optional>

namespace norv {

// The engine's runtime: the shipped folder "BridgeRuntime" in the resources, and verified
// copies of it under the user's data folder, each named by the content fingerprint of the
// shipped tree. A copy that no longer matches is refused, never repaired. All operations are
// synchronous; the managed launch runs them off the GUI thread.
class BridgeRuntimeFiles {
public:
    BridgeRuntimeFiles() = delete;

    // The processor folder of the bundled interpreter for this build.
#if defined(__aarch64__)
    static constexpr const char* kProcessor = "arm64";
#elif defined(__x86_64__)
    static constexpr const char* kProcessor = "x86_64";
#else
#error "The bundled interpreter ships for x86_64 and arm64 only"
#endif

    // SHA-256 over every regular file of the tree, in sorted order of relative name: the name's
    // UTF-8 bytes, a zero byte, then the SHA-256 of the file's content. 64 lower-case hex
    // characters. Throws BridgeRuntimeError: a symbolic link anywhere (the root included) is
    // invalidFileName, any other non-file non-folder entry unknownRead, a tree without files
    // noSuchFile, and failed file-system calls io.
    static QString fingerprint(const QString& root);

    // The verified copy of `bundled` under support + "/BridgeRuntimes/" + fingerprint, made
    // through a private staging folder when missing. An existing copy that does not match is
    // corruptFile and stays untouched. Throws BridgeRuntimeError.
    static QString prepare(const QString& bundled, const QString& support);
    // The same, with a call just before the finished copy is moved into place (a test seam for
    // racing preparations).
    static QString prepare(const QString& bundled, const QString& support,
                           const std::function<void()>& beforeMove);

    // root + "/PythonRuntime/<processor>/bin/python3.13" when that is an executable file.
    static std::optional<QString> interpreter(const QString& root);

    // The environment of every interpreter run: only HOME, TMPDIR, LANG, LC_ALL and LC_CTYPE
    // pass from `base`, and PATH is "/usr/bin:/bin:/usr/sbin:/sbin". Callers add their own.
    static QProcessEnvironment environment(const QProcessEnvironment& base);

    // The application's per-user support folder: the XDG data home ($XDG_DATA_HOME when it is
    // an absolute path, else $HOME/.local/share) + "/Norv Session". None without either.
    static std::optional<QString> supportFolder();

    // resources + "/BridgeRuntime" when it holds "tools/run_bridge.py".
    static std::optional<QString> shippedRoot(const QString& resources);

    // The root a managed engine runs from: the verified copy of the shipped runtime. A missing
    // shipped runtime or support folder gives none; a failed preparation gives none and an
    // error entry in the "Process" log.
    static std::optional<QString> managedRoot(const QString& resources, const std::optional<QString>& support);
};

}  // namespace norv
