#include "live/live_integration.h"

#include "core/bridge_error.h"
#include "live/bundle_info.h"
#include "live/library_parser.h"
#include "live/live_version.h"
#include "live/remote_script_command.h"
#include "live/script_install_target.h"
#include "live/wine_prefix.h"
#include "model/admin_decode_error.h"

#include <QDir>
#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <algorithm>

namespace norv {

namespace {

const QString unavailableText = QStringLiteral("Bundled Remote Script runtime unavailable");
const QString failedText = QStringLiteral("Remote Script operation failed");
const QString timedOutText = QStringLiteral("Remote Script operation timed out");

// A bundle path as an id: no trailing separator.
QString withoutTrailingSeparator(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString lastComponent(const QString& path) {
    return path.section(QLatin1Char('/'), -1);
}

bool isLiveBundleName(const QString& name) {
    return name.startsWith(QLatin1String("Ableton Live")) && QFileInfo(name).suffix() == QLatin1String("app");
}

template <typename Reply>
std::variant<Reply, BridgeError> interpret(const RemoteScriptProcess::Result& result) {
    using Kind = RemoteScriptProcess::Result::Kind;
    if (result.kind == Kind::FailedToStart)
        return BridgeError::error(result.startError);
    if (result.kind == Kind::TimedOut)
        return BridgeError::error(timedOutText);
    if (result.overflowed)
        return BridgeError::error(failedText);
    if (result.exitCode != 0)
        return BridgeError::error(RemoteScriptCommand::failureText(result.output));
    const nlohmann::json json = nlohmann::json::parse(result.output.begin(), result.output.end(), nullptr, false);
    if (json.is_discarded())
        return BridgeError::error(QStringLiteral("The Remote Script reply could not be read: it is not valid JSON"));
    try {
        return Reply::decode(json);
    } catch (const AdminDecodeError& error) {
        return BridgeError::error(QString::fromStdString(error.what()));
    }
}

}  // namespace

LiveIntegration::Environment LiveIntegration::Environment::system() {
    Environment environment;
    environment.home = QDir::homePath();
    environment.applicationFolders = {QStringLiteral("/Applications"), environment.home + QStringLiteral("/Applications")};
    const QString winePrefix = qEnvironmentVariable("WINEPREFIX");
    if (winePrefix.startsWith(QLatin1Char('/')))
        environment.winePrefixes.append(QDir::cleanPath(winePrefix));
    environment.winePrefixes.append(environment.home + QStringLiteral("/.wine"));
    environment.winePrefixes.removeDuplicates();
    environment.procRoot = QStringLiteral("/proc");
    environment.runtime = &RemoteScriptRuntime::installed;
    environment.processEnvironment = QProcessEnvironment::systemEnvironment();
    return environment;
}

LiveIntegration::LiveIntegration(QObject* parent) : LiveIntegration(Environment::system(), parent) {}

LiveIntegration::LiveIntegration(Environment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)), settings_(environment_.settings) {}

LiveIntegration::~LiveIntegration() {
    // A check or install in progress runs to its end (bounded by its time limit) without us.
    for (RemoteScriptProcess* process : findChildren<RemoteScriptProcess*>(Qt::FindDirectChildrenOnly))
        process->abandon();
}

std::optional<LiveInstallation> LiveIntegration::selected() const {
    const auto it = std::find_if(installations_.begin(), installations_.end(),
                                 [&](const LiveInstallation& installation) { return installation.id() == selectedID_; });
    if (it == installations_.end())
        return std::nullopt;
    return *it;
}

void LiveIntegration::setSelectedID(const QString& id) {
    if (selectedID_ == id)
        return;
    selectedID_ = id;
    Q_EMIT changed();
}

std::optional<QString> LiveIntegration::numericVersion(const QString& text) {
    return LiveVersion::numeric(text);
}

std::optional<QString> LiveIntegration::readLibrary(const QString& cfgPath) {
    return LibraryParser::read(cfgPath);
}

std::vector<RunningLiveProcess> LiveIntegration::running() const {
    const QString defaultPrefix = environment_.home + QStringLiteral("/.wine");
    return RunningLiveProcesses::list({environment_.procRoot, environment_.processOwner, defaultPrefix});
}

std::optional<LiveInstallation> LiveIntegration::describe(const QString& bundlePath) const {
    const QString path = withoutTrailingSeparator(bundlePath);
    const QString fileName = lastComponent(path);
    if (WinePrefix::isLiveExecutableName(fileName))
        return WinePrefix::describe(path);
    if (!isLiveBundleName(fileName))
        return std::nullopt;
    const std::optional<QString> shortVersion =
        BundleInfo::string(path, QStringLiteral("CFBundleShortVersionString"));
    if (!shortVersion)
        return std::nullopt;
    const std::optional<QString> version = LiveVersion::numeric(*shortVersion);
    if (!version)
        return std::nullopt;
    const QString cfg = environment_.home + QStringLiteral("/Library/Preferences/Ableton/Live ") + *version +
                        QStringLiteral("/Library.cfg");
    return LiveInstallation{path, QFileInfo(fileName).completeBaseName(), *version, LibraryParser::read(cfg)};
}

QString LiveIntegration::locateFolder() const {
    for (const QString& prefix : environment_.winePrefixes) {
        const QString driveC = prefix + QStringLiteral("/drive_c");
        if (!QFileInfo(driveC).isDir())
            continue;
        const QString programs = driveC + QStringLiteral("/ProgramData/Ableton");
        return QFileInfo(programs).isDir() ? programs : driveC;
    }
    return {};
}

void LiveIntegration::scan(Completion done) {
    QStringList candidates;
    for (const QString& folder : environment_.applicationFolders) {
        const QStringList entries =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& entry : entries) {
            if (isLiveBundleName(entry))
                candidates.append(withoutTrailingSeparator(folder) + QLatin1Char('/') + entry);
        }
    }
    for (const QString& prefix : environment_.winePrefixes)
        candidates.append(WinePrefix::executables(prefix));
    for (const RunningLiveProcess& process : running())
        candidates.append(process.bundle);
    if (const std::optional<QString> custom = settings_.custom())
        candidates.append(withoutTrailingSeparator(*custom));
    candidates.removeDuplicates();

    std::vector<LiveInstallation> found;
    for (const QString& candidate : candidates) {
        if (std::optional<LiveInstallation> installation = describe(candidate))
            found.push_back(std::move(*installation));
    }
    std::stable_sort(found.begin(), found.end(), [](const LiveInstallation& a, const LiveInstallation& b) {
        return LiveVersion::compare(a.version, b.version) > 0;
    });
    installations_ = std::move(found);

    const std::optional<QString> preferred = selectedID_.isEmpty() ? settings_.selected() : selectedID_;
    QString chosen;
    if (!installations_.empty()) {
        chosen = installations_.front().id();
        if (preferred) {
            for (const LiveInstallation& installation : installations_) {
                if (installation.id() == *preferred) {
                    chosen = installation.id();
                    break;
                }
            }
        }
    }
    selectedID_ = chosen;
    Q_EMIT changed();
    select(std::move(done));
}

void LiveIntegration::select(Completion done) {
    if (busy_) {
        if (done)
            done();
        return;
    }
    settings_.setSelected(selectedID_);
    if (const std::optional<QString> chosen = settings_.library(selectedID_)) {
        library_ = *chosen;
    } else {
        const std::optional<LiveInstallation> installation = selected();
        library_ = installation ? installation->library : std::nullopt;
    }
    Q_EMIT changed();
    verify(std::move(done));
}

void LiveIntegration::locate(const QString& bundlePath, Completion done) {
    const std::optional<LiveInstallation> installation = describe(bundlePath);
    if (!installation) {
        message_ = QStringLiteral("Choose an Ableton Live application");
        Q_EMIT changed();
        if (done)
            done();
        return;
    }
    settings_.setCustom(installation->url);
    selectedID_ = installation->url;
    Q_EMIT changed();
    scan(std::move(done));
}

void LiveIntegration::chooseLibrary(const std::optional<QString>& folder, Completion done) {
    settings_.setLibrary(selectedID_, folder ? std::optional<QString>(withoutTrailingSeparator(*folder)) : std::nullopt);
    select(std::move(done));
}

template <typename Reply>
void LiveIntegration::run(bool install, ReplyHandler<Reply> handler) {
    const RemoteScriptRuntime runtime = environment_.runtime ? environment_.runtime() : RemoteScriptRuntime{};
    const std::optional<QString> bundle = runtime.runtimeRoot
                                              ? RemoteScriptCommand::bundle(runtime.resourceFolder, runtime.runtimeRoot)
                                              : std::nullopt;
    if (!runtime.runtimeRoot || !bundle || !runtime.interpreter) {
        handler(BridgeError::error(unavailableText));
        return;
    }
    auto* process = new RemoteScriptProcess(environment_.timing, this);
    // The process is a child of this object and is abandoned with it, so the handler never runs
    // after this object is gone.
    process->start(*runtime.interpreter,
                   RemoteScriptCommand::arguments(*runtime.runtimeRoot, *bundle, library_, install),
                   RemoteScriptCommand::environment(environment_.processEnvironment),
                   [handler = std::move(handler)](const RemoteScriptProcess::Result& result) {
                       handler(interpret<Reply>(result));
                   });
}

void LiveIntegration::verify(Completion done) {
    if (busy_) {
        if (done)
            done();
        return;
    }
    busy_ = true;
    message_.reset();
    disk_.reset();
    Q_EMIT changed();
    run<ScriptDiskState>(false, [this, done = std::move(done)](std::variant<ScriptDiskState, BridgeError> reply) {
        if (auto* state = std::get_if<ScriptDiskState>(&reply))
            disk_ = *state;
        else
            message_ = std::get<BridgeError>(reply).message();
        busy_ = false;
        Q_EMIT changed();
        if (done)
            done();
    });
}

void LiveIntegration::install(Completion done) {
    const std::optional<LiveInstallation> installation = selected();
    if (busy_ || !installation || !installation->supported() || !library_) {
        if (done)
            done();
        return;
    }
    if (const QString drive = WinePrefix::missingDrive(*library_); !drive.isEmpty()) {
        message_ = QStringLiteral("The Wine prefix has no drive %1: for this User Library").arg(drive);
        Q_EMIT changed();
        if (done)
            done();
        return;
    }
    if (const std::optional<QString> refusal = ScriptInstallTarget::refusal(*library_, environment_.processOwner)) {
        message_ = *refusal;
        Q_EMIT changed();
        if (done)
            done();
        return;
    }
    busy_ = true;
    message_.reset();
    Q_EMIT changed();

    std::set<std::int32_t> liveProcesses;
    for (const RunningLiveProcess& process : running())
        liveProcesses.insert(process.pid);

    run<ScriptInstallResult>(true, [this, liveProcesses, done = std::move(done)](
                                       std::variant<ScriptInstallResult, BridgeError> reply) mutable {
        if (auto* error = std::get_if<BridgeError>(&reply)) {
            message_ = error->message();
            busy_ = false;
            Q_EMIT changed();
            if (done)
                done();
            return;
        }
        const ScriptInstallResult result = std::get<ScriptInstallResult>(reply);
        if (result.changed)
            restartPending_.insert(liveProcesses.begin(), liveProcesses.end());
        finishInstall(result, std::move(done));
    });
}

void LiveIntegration::finishInstall(const ScriptInstallResult& result, Completion done) {
    run<ScriptDiskState>(false, [this, result, done = std::move(done)](std::variant<ScriptDiskState, BridgeError> reply) {
        if (auto* state = std::get_if<ScriptDiskState>(&reply)) {
            disk_ = *state;
            if (result.changed)
                message_ = result.backup ? QStringLiteral("Installed · files verified · previous script backed up")
                                         : QStringLiteral("Installed · files verified");
            else
                message_ = QStringLiteral("Already up to date");
        } else {
            message_ = std::get<BridgeError>(reply).message();
        }
        busy_ = false;
        Q_EMIT changed();
        if (done)
            done();
    });
}

ScriptRuntimeState LiveIntegration::runtime(const BridgeHealth& health, bool connected) {
    RemoteScriptStatus::Inputs inputs;
    inputs.health = health;
    inputs.connected = connected;
    inputs.running = running();
    inputs.selected = selected();
    inputs.library = library_;
    inputs.disk = disk_;
    return RemoteScriptStatus::evaluate(inputs, restartPending_);
}

}  // namespace norv
