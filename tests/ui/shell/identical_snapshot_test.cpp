// An identical snapshot leaves the whole window, shell and every page, as it was: no object
// created, none deleted.
#include "core/bridge_store.h"
#include "core/store_fakes.h"
#include "model/model_fixtures.h"
#include "support/isolated_live.h"
#include "ui/pages/page_factory.h"
#include "ui/shell/main_window.h"

#include <QCoreApplication>
#include <QPointer>
#include <gtest/gtest.h>

namespace norv {
namespace {

AdminSnapshot fullSnapshot() { return AdminSnapshot::decode(test::loadModelFixture("snapshot_full.json")); }

class IdenticalSnapshot : public testing::FakeStoreTest {
protected:
    void SetUp() override {
        FakeStoreTest::SetUp();
        store->start();
        window = std::make_unique<MainWindow>(*store, [this](BridgeSection section, BridgeStore& s, QWidget* parent) {
            return makePage(section, s, PageServices{dialogs, nullptr, [this] {
                                  return testing::isolatedLiveEnvironment(dir.path(), settings.get());
                              }},
                            parent);
        });
        window->resize(MainWindow::defaultSize);
        window->show();
        connectTo(true, fullSnapshot());
    }

    static void settle() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::unique_ptr<MainWindow> window;
};

TEST_F(IdenticalSnapshot, LeavesEveryPagesWidgetTreeUnchanged) {
    for (const BridgeSection section : BridgeSection::allCases()) {
        SCOPED_TRACE(std::string(section.rawValue()));
        store->setSelection(section);
        settle();
        admin->snapshotHandler(fullSnapshot());  // whatever a first delivery settles
        settle();
        const QList<QObject*> before = window->findChildren<QObject*>();
        std::vector<QPointer<QObject>> alive(before.begin(), before.end());

        admin->snapshotHandler(fullSnapshot());
        settle();
        const QList<QObject*> after = window->findChildren<QObject*>();
        EXPECT_EQ(after.size(), before.size());
        std::size_t deleted = 0;
        for (const QPointer<QObject>& object : alive) deleted += object.isNull() ? 1 : 0;
        EXPECT_EQ(deleted, 0u);
        EXPECT_EQ(after, before);
    }
}

}  // namespace
}  // namespace norv
