// An identical snapshot leaves the whole window, shell and every page, as it was: no object
// created, none deleted.
#include "core/bridge_store.h"
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/ui/window_test.h"
#include "ui/pages/page_factory.h"
#include "ui/shell/main_window.h"

#include <QCoreApplication>
#include <QPointer>
#include <gtest/gtest.h>

namespace norv {
namespace {

using test::fullSnapshot;

class IdenticalSnapshot : public test::FakeStoreWindowTest {
protected:
    void SetUp() override {
        FakeStoreWindowTest::SetUp();
        showWindow();
        connectTo(true, fullSnapshot());
    }

    static void settle() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
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
