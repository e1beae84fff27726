#pragma once
// A store over fake seams, connected to its own running engine and fed a fixture snapshot, for
// the page widget tests.

#include "core/bridge_store.h"
#include "tests/support/core/store_fakes.h"
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/qt_printers.h"
#include "support/ui/window_over_store.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace norv::test {

// Scripted answers, with a hook that runs while the question is open (as a snapshot would
// arrive while a modal dialog waits).
class PageDialogs : public ScriptedDialogs {
public:
    bool confirm(const ConfirmationRequest& request) override {
        if (whileOpen) whileOpen();
        return ScriptedDialogs::confirm(request);
    }
    std::function<void()> whileOpen;
};

struct PageHarness {
    explicit PageHarness(const AdminSnapshot& snapshot, bool ownEngineRunning = true) {
        auto adminClient = std::make_unique<FakeAdminClient>();
        auto engineControl = std::make_unique<FakeEngine>();
        auto bluetoothPort = std::make_unique<FakeBluetooth>();
        admin = adminClient.get();
        engine = engineControl.get();
        bluetooth = bluetoothPort.get();
        settings = std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat);
        store = std::make_unique<BridgeStore>(std::move(adminClient), std::move(engineControl),
                                              std::move(bluetoothPort), dialogs, *settings);
        engine->setRunning(ownEngineRunning);
        store->receiveConnectionState(AdminConnectionState::connected());
        store->receiveSnapshot(snapshot);
    }

    // What a page is built with: these dialogs and a Live integration over this harness's folder.
    PageServices services(InterfaceLister interfaces = LocalNetworkAddresses::systemInterfaces) {
        PageServices result = isolatedPageServices(dialogs, dir.path(), settings.get());
        result.interfaces = std::move(interfaces);
        return result;
    }

    // The only open request: its path and arguments.
    const FakeAdminClient::Request& onlyRequest() const { return admin->requests.front(); }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    PageDialogs dialogs;
    FakeAdminClient* admin = nullptr;
    FakeEngine* engine = nullptr;
    FakeBluetooth* bluetooth = nullptr;
    std::unique_ptr<BridgeStore> store;
};

// Widgets taken off a page are deleted once control returns to the event loop.
inline void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// The visible button with this text under `root`; null when there is none.
template <typename Button = QAbstractButton>
Button* findButton(QObject* root, const QString& text) {
    for (Button* button : root->findChildren<Button*>())
        if (button->text() == text && !button->isHidden()) return button;
    return nullptr;
}

}  // namespace norv::test
