#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace norv {

// The runtime tool's Remote Script mode: where the script bundle is, the command line and
// environment of one run, and what a non-zero exit means. No I/O beyond file-existence checks.
class RemoteScriptCommand {
public:
    // The first of <resources>/RemoteScript and <runtime root>/.artifacts/remote-script that holds
    // a "manifest.json"; absent when neither does.
    static std::optional<QString> bundle(const std::optional<QString>& resourceFolder,
                                         const std::optional<QString>& runtimeRoot);

    // -I -B <root>/tools/run_bridge.py --script-bundle <bundle> [--script-library <library>] [--install-script]
    static QStringList arguments(const QString& runtimeRoot, const QString& bundle,
                                 const std::optional<QString>& library, bool install);

    // The allow-listed variables of the application's environment, then a fixed PATH and
    // PYTHONDONTWRITEBYTECODE=1; nothing else reaches the tool.
    static QProcessEnvironment environment(const QProcessEnvironment& application);

    // The message of a run that exited with a non-zero status: the "error" text when the output is
    // a non-empty JSON object of strings holding "error", otherwise "Remote Script operation failed".
    static QString failureText(const QByteArray& output);
};

}  // namespace norv
