#include "live/remote_script_command.h"

#include "core/bridge_runtime_files.h"

#include <QFileInfo>

#include <nlohmann/json.hpp>

namespace norv {

namespace {

bool holdsManifest(const QString& folder) {
    return QFileInfo::exists(folder + QStringLiteral("/manifest.json"));
}

}  // namespace

std::optional<QString> RemoteScriptCommand::bundle(const std::optional<QString>& resourceFolder,
                                                   const std::optional<QString>& runtimeRoot) {
    if (resourceFolder) {
        const QString candidate = *resourceFolder + QStringLiteral("/RemoteScript");
        if (holdsManifest(candidate))
            return candidate;
    }
    if (runtimeRoot) {
        const QString candidate = *runtimeRoot + QStringLiteral("/.artifacts/remote-script");
        if (holdsManifest(candidate))
            return candidate;
    }
    return std::nullopt;
}

QStringList RemoteScriptCommand::arguments(const QString& runtimeRoot, const QString& bundle,
                                           const std::optional<QString>& library, bool install) {
    QStringList arguments{QStringLiteral("-I"), QStringLiteral("-B"), runtimeRoot + QStringLiteral("/tools/run_bridge.py"),
                          QStringLiteral("--script-bundle"), bundle};
    if (library)
        arguments << QStringLiteral("--script-library") << *library;
    if (install)
        arguments << QStringLiteral("--install-script");
    return arguments;
}

QProcessEnvironment RemoteScriptCommand::environment(const QProcessEnvironment& application) {
    QProcessEnvironment environment = BridgeRuntimeFiles::environment(application);
    environment.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));
    return environment;
}

QString RemoteScriptCommand::failureText(const QByteArray& output) {
    const QString fallback = QStringLiteral("Remote Script operation failed");
    const nlohmann::json json = nlohmann::json::parse(output.begin(), output.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object() || json.empty())
        return fallback;
    for (const auto& [key, value] : json.items()) {
        if (!value.is_string())
            return fallback;
    }
    const auto error = json.find("error");
    if (error == json.end())
        return fallback;
    return QString::fromStdString(error->get<std::string>());
}

}  // namespace norv
