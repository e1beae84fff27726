#pragma once
// The real window (shell and page factory) over a store, for tests, screenshots and benchmarks:
// each page gets its services when it is built, and the Live page reads only a folder of the
// caller's own.

#include "core/bridge_store.h"
#include "support/ui/isolated_live.h"
#include "ui/pages/page_factory.h"
#include "ui/shell/main_window.h"

#include <QSettings>
#include <QString>
#include <functional>
#include <memory>
#include <utility>

namespace norv::test {

// Page services whose Live integration reads only `root` and `settings` (no installations, no
// running Live, no runtime).
inline PageServices isolatedPageServices(DialogService& dialogs, const QString& root, QSettings* settings) {
    return PageServices{dialogs, [root, settings] { return isolatedLiveEnvironment(root, settings); }};
}

// The main window over `store`; `services` is asked each time a page is built.
inline std::unique_ptr<MainWindow> windowOverStore(BridgeStore& store, std::function<PageServices()> services) {
    return std::make_unique<MainWindow>(
        store, [services = std::move(services)](BridgeSection section, BridgeStore& s, QWidget* parent) {
            return makePage(section, s, services(), parent);
        });
}

}  // namespace norv::test
