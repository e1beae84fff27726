#pragma once
// The window tests' world: the real window over a store with fake seams (FakeStoreTest), the
// store started, pages built with pageServices().

#include "support/ui/window_over_store.h"
#include "tests/support/core/store_fakes.h"
#include "tests/support/ui/screenshot.h"
#include "ui/theme/norv_theme.h"

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>
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

// The themed window shown at its default size, for tests that save pictures of it.
class ScreenshotWindowTest : public FakeStoreWindowTest {
protected:
    void SetUp() override {
        NorvTheme::applyTo(*qApp);
        FakeStoreWindowTest::SetUp();
        showWindow();
    }

    // Saves the window as <folder>/<name>.png and returns the picture (null when not written).
    QImage capture(const QString& folder, const QString& name) {
        // The page left behind goes with deleteLater; drop it so it is not drawn under the new
        // one. A page's layout settles over a few passes (a panel that shows its rows asks again).
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (int pass = 0; pass < 3; ++pass) QCoreApplication::processEvents();
        const QString path = saveScreenshot(*window, folder, name);
        EXPECT_FALSE(path.isEmpty()) << name.toStdString();
        const QImage written(path);
        EXPECT_FALSE(written.isNull()) << path.toStdString();
        return written;
    }
};

}  // namespace norv::test
