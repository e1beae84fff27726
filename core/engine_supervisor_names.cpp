#include "core/engine_supervisor.h"

#include <type_traits>

namespace norv {
namespace {

QLatin1StringView latin1(std::string_view text) {
    return QLatin1StringView(text.data(), qsizetype(text.size()));
}

QLatin1StringView levelName(QtMsgType level) {
    switch (level) {
        case QtInfoMsg:
            return QLatin1StringView("info");
        case QtWarningMsg:
            return QLatin1StringView("warning");
        case QtCriticalMsg:
            return QLatin1StringView("critical");
        default:
            return QLatin1StringView("other");
    }
}

}  // namespace

std::string_view EngineSupervisor::name(Phase phase) {
    switch (phase) {
        case Phase::idle: return "idle";
        case Phase::preparing: return "preparing";
        case Phase::probing: return "probing";
        case Phase::launching: return "launching";
        case Phase::starting: return "starting";
        case Phase::leaving: return "leaving";
        case Phase::running: return "running";
        case Phase::stopping: return "stopping";
        case Phase::restarting: return "restarting";
    }
    return "unknown";
}

QString describe(const EngineSupervisor::Action& action) {
    using S = EngineSupervisor;
    const QString name = latin1(nameOf(action));
    return std::visit(
        [&name](const auto& a) -> QString {
            using A = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<A, S::LoadIdentity> || std::is_same_v<A, S::PrepareRuntime>)
                return name + QLatin1Char(' ') + QString::number(a.generation);
            else if constexpr (std::is_same_v<A, S::ProbePort>)
                return name + QLatin1Char(' ') + QString::number(a.generation) + QLatin1Char(' ') +
                       QString::number(a.port);
            else if constexpr (std::is_same_v<A, S::Log>)
                return name + QStringLiteral(": ") + a.text;
            else if constexpr (std::is_same_v<A, S::AppLog>)
                return name + QLatin1Char(' ') + levelName(a.level) + QStringLiteral(": ") + a.text;
            else
                return name;
        },
        action);
}

}  // namespace norv
