#include "app/run_norv_bridge.h"

#include "app/app_command_line.h"
#include "app/bridge_components.h"
#include "app/norv_bridge_app.h"
#include "app/signal_pipe.h"
#include "app/single_instance.h"
#include "core/bridge_launch_configuration.h"
#include "core/bridge_store.h"
#include "core/process_hardening.h"
#include "model/settings_keys.h"
#include "ui/pages/page_factory.h"
#include "ui/shell/main_window.h"
#include "ui/shell/widget_dialog_service.h"
#include "ui/theme/norv_brand.h"
#include "ui/theme/norv_theme.h"

#include <QApplication>
#include <QDBusConnection>
#include <QSettings>
#include <csignal>
#include <cstdio>

namespace norv {

namespace {

// How long a later launch waits for the first instance to answer.
constexpr std::chrono::milliseconds kHandOverBound{5000};

}  // namespace

int runNorvBridge(int argc, char** argv, const BridgeComponentsOptions& components) {
    const AppCommandLine commandLine = AppCommandLine::parse(AppCommandLine::fromArgv(argc, argv));
    if (commandLine.exit) {
        const QByteArray text = commandLine.exit->text.toLocal8Bit();
        std::FILE* stream = commandLine.exit->toStandardError ? stderr : stdout;
        std::fwrite(text.constData(), 1, size_t(text.size()), stream);
        return commandLine.exit->status;
    }
    // The identity's key and the admin token live in this process's memory: no core dump of it.
    ProcessHardening::denyCoreDumps();
    const QVariantMap launchData = SingleInstance::launchPlatformData();
    QApplication app(argc, argv);
    // One application per session: a later launch hands its token to the first and ends before it
    // makes a store, a Bluetooth server or an engine.
    SingleInstance instance(QDBusConnection::sessionBus());
    const SingleInstance::Claim claim = instance.claim(launchData, kHandOverBound);
    if (claim.role == SingleInstance::Role::handedOver) return 0;
    if (claim.role == SingleInstance::Role::noAnswer) {
        std::fprintf(stderr, "NorvBridgeMac: Norv Bridge is already running but did not answer within %lld s (%s).\n",
                     static_cast<long long>(kHandOverBound.count() / 1000), qPrintable(claim.error));
        return 1;
    }
    QApplication::setOrganizationName(QString::fromUtf8(settings_keys::organization));
    QApplication::setApplicationName(QString::fromUtf8(settings_keys::application));
    QApplication::setApplicationVersion(QStringLiteral(NORV_BRIDGE_VERSION));
    // The window and the tray menu live as long as the application; closing the window hides it
    // where a tray hosts the status item and is a quit request otherwise (asked while the own
    // engine runs), never the end of the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    NorvTheme::applyTo(app);
    if (const auto& icon = NorvBrand::appIcon()) QApplication::setWindowIcon(*icon);

    SignalPipe signalPipe({SIGTERM, SIGINT});
    WidgetDialogService dialogs;
    const std::unique_ptr<QSettings> settings = BridgeLaunchConfiguration::standardSettings();
    const std::unique_ptr<BridgeStore> store = makeBridgeStore(dialogs, *settings, components);

    NorvBridgeApp::Options options;
    options.quitEventLoop = [] { QCoreApplication::exit(0); };
    QSettings* liveSettings = settings.get();
    options.pageFactory = [&dialogs, liveSettings](BridgeSection section, BridgeStore& s, QWidget* parent) {
        PageServices services{dialogs, [liveSettings] {
                                  auto environment = LiveIntegration::Environment::system();
                                  environment.settings = liveSettings;
                                  return environment;
                              }};
        return makePage(section, s, services, parent);
    };
    NorvBridgeApp bridgeApp(*store, dialogs, std::move(options));
    dialogs.setParent(&bridgeApp.window());
    QObject::connect(&signalPipe, &SignalPipe::signalled, &bridgeApp, [&bridgeApp](int) { bridgeApp.terminate(); });
    // Any other end of the loop (a session logging out) still ends the engine.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &bridgeApp, [&bridgeApp] { bridgeApp.terminate(); });
    QObject::connect(&instance, &SingleInstance::activated, &bridgeApp,
                     [&bridgeApp](const QString& token) { bridgeApp.activate(token); });
    if (commandLine.printState) bridgeApp.printStateTo(stderr);

    bridgeApp.showWindow();
    QApplication::exec();
    return 0;
}

}  // namespace norv
