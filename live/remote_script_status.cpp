#include "live/remote_script_status.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace norv {

QString RemoteScriptStatus::standardized(const QString& path) {
    return QDir::cleanPath(path);
}

ScriptRuntimeState RemoteScriptStatus::evaluate(const Inputs& in, std::set<std::int32_t>& restartPending) {
    std::set<std::int32_t> pruned;
    for (const RunningLiveProcess& process : in.running) {
        if (restartPending.count(process.pid))
            pruned.insert(process.pid);
    }
    restartPending = std::move(pruned);

    const QString selectedBundle = in.selected ? standardized(in.selected->url) : QString();
    const auto isInstance = [&](const RunningLiveProcess& process) {
        return standardized(process.bundle) == selectedBundle;
    };
    const bool restartNeeded = in.selected && std::any_of(in.running.begin(), in.running.end(), [&](const auto& p) {
                                   return restartPending.count(p.pid) && isInstance(p);
                               });

    if (!in.selected)
        return {QStringLiteral("No Live selected"), QStringLiteral("Choose an installation"), false};
    if (!in.selected->supported())
        return {QStringLiteral("Unsupported Live version"), QStringLiteral("Ableton Live 12 required"), false};
    if (!in.connected)
        return {QStringLiteral("Bridge offline"), QString(), false};

    std::vector<RunningLiveProcess> instances;
    std::copy_if(in.running.begin(), in.running.end(), std::back_inserter(instances), isInstance);

    const std::optional<double>& heartbeat = in.health.remoteScriptHeartbeatIdleSeconds;
    const bool heartbeatFresh = heartbeat && *heartbeat >= 0.0 && *heartbeat < freshnessLimit;
    if (!heartbeatFresh) {
        if (instances.empty())
            return {QStringLiteral("Live not running"), QString(), false};
        if (in.health.liveLinked())
            return {QStringLiteral("Session unverified"), QStringLiteral("Waiting for runtime identity"), false};
        if (restartNeeded)
            return {QStringLiteral("Restart required"), QStringLiteral("Save your Set, then restart Live"), false};
        if (in.disk && in.disk->current)
            return {QStringLiteral("Inactive"), QStringLiteral("Select NorvSession in Live’s Control Surface settings"),
                    false};
        return {QStringLiteral("Inactive"), QStringLiteral("Install the bundled Remote Script"), false};
    }

    const std::optional<RemoteScriptIdentity>& identity = in.health.remoteScriptRuntime;
    if (!identity || !identity->remoteScriptProcessId)
        return {QStringLiteral("Session unverified"), QStringLiteral("Runtime identity unavailable"), false};
    const bool ownInstance = std::any_of(instances.begin(), instances.end(),
                                         [&](const auto& p) { return p.pid == *identity->remoteScriptProcessId; });
    if (!ownInstance)
        return {QStringLiteral("Another Live instance"), QStringLiteral("The connected script belongs to another instance"),
                false};
    if (in.running.size() != 1)
        return {QStringLiteral("Multiple Live instances"), QStringLiteral("Close other Live instances"), false};
    if (!in.library || !identity->remoteScriptDirectory ||
        standardized(QString::fromStdString(*identity->remoteScriptDirectory)) !=
            standardized(*in.library + QStringLiteral("/Remote Scripts/NorvSession")))
        return {QStringLiteral("Different script location"), QStringLiteral("Live loaded NorvSession from another folder"),
                false};
    if (!in.disk)
        return {QStringLiteral("Session unverified"), QStringLiteral("Bundled script unavailable"), false};
    if (identity->remoteScriptBundleId != in.disk->buildId || identity->remoteScriptVersion != in.disk->version)
        return {in.disk->current ? QStringLiteral("Restart required") : QStringLiteral("Update required"),
                QStringLiteral("An earlier Remote Script is loaded"), false};
    if (!in.disk->current)
        return {QStringLiteral("Repair required"), QStringLiteral("Installed files differ"), false};
    return {QStringLiteral("Active"),
            QStringLiteral("NorvSession ") + QString::fromStdString(in.disk->version) + QStringLiteral(" · verified"), true};
}

}  // namespace norv
