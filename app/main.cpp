// NorvBridgeMac: one application, one store, the main window "Norv Bridge" and its tray menu.
#include "app/bridge_components.h"
#include "app/norv_bridge_app.h"
#include "app/signal_pipe.h"
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
#include <QSettings>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // The identity's key and the admin token live in this process's memory: no core dump of it.
    norv::ProcessHardening::denyCoreDumps();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf8(norv::settings_keys::organization));
    QApplication::setApplicationName(QString::fromUtf8(norv::settings_keys::application));
    QApplication::setApplicationVersion(QStringLiteral(NORV_BRIDGE_VERSION));
    // The window and the tray menu live as long as the application; closing the window hides it
    // where a tray hosts the status item and is a quit request otherwise, never the end of the
    // last window.
    QApplication::setQuitOnLastWindowClosed(false);
    norv::NorvTheme::applyTo(app);
    if (const auto& icon = norv::NorvBrand::appIcon()) QApplication::setWindowIcon(*icon);

    const bool printState = QApplication::arguments().contains(QStringLiteral("--print-state"));

    norv::SignalPipe signalPipe({SIGTERM, SIGINT});
    norv::WidgetDialogService dialogs;
    const std::unique_ptr<QSettings> settings = norv::BridgeLaunchConfiguration::standardSettings();
    const std::unique_ptr<norv::BridgeStore> store = norv::makeBridgeStore(dialogs, *settings);

    norv::NorvBridgeApp::Options options;
    options.quitEventLoop = [] { QCoreApplication::exit(0); };
    QSettings* liveSettings = settings.get();
    options.pageFactory = [&dialogs, liveSettings](norv::BridgeSection section, norv::BridgeStore& s,
                                                  QWidget* parent) {
        norv::PageServices services{dialogs, [liveSettings] {
                                        auto environment = norv::LiveIntegration::Environment::system();
                                        environment.settings = liveSettings;
                                        return environment;
                                    }};
        return norv::makePage(section, s, services, parent);
    };
    norv::NorvBridgeApp bridgeApp(*store, std::move(options));
    dialogs.setParent(&bridgeApp.window());
    QObject::connect(&signalPipe, &norv::SignalPipe::signalled, &bridgeApp, [&bridgeApp](int) { bridgeApp.terminate(); });
    // Any other end of the loop (a session logging out) still ends the engine.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &bridgeApp, [&bridgeApp] { bridgeApp.terminate(); });
    if (printState) bridgeApp.printStateTo(stderr);

    bridgeApp.showWindow();
    QApplication::exec();
    return 0;
}
