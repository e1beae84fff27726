#pragma once
// The window tests' world: the real window over a store with fake seams (FakeStoreTest), the
// store started, pages built with pageServices().

#include "tests/support/core/store_fakes.h"
#include "tests/support/ui/window_over_store.h"

#include <memory>

namespace norv::test {

class FakeStoreWindowTest : public FakeStoreTest {
protected:
    void SetUp() override {
        FakeStoreTest::SetUp();
        store->start();
        window = windowOverStore(*store, [this] {
            ++pagesBuilt;
            return pageServices();
        });
    }

    // Shows the window at its default size, as the application opens it.
    void showWindow() {
        window->resize(MainWindow::defaultSize);
        window->show();
    }

    // What each page is built with: the test's dialogs and a Live integration over the test's folder.
    virtual PageServices pageServices() { return isolatedPageServices(dialogs, dir.path(), settings.get()); }

    std::unique_ptr<MainWindow> window;
    int pagesBuilt = 0;  // pages the window asked the factory for
};

}  // namespace norv::test
