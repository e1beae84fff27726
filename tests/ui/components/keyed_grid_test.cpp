// The tiles of a status grid follow their items by id.
#include "tests/support/ui/page_harness.h"
#include "ui/components/adaptive_grid.h"
#include "ui/components/keyed_grid.h"

#include <QLabel>
#include <QPointer>
#include <gtest/gtest.h>

namespace norv {
namespace {

struct Tile {
    std::string id;
    QString value;
    bool operator==(const Tile&) const = default;
};

TEST(KeyedGrid, ATileKeepsItsWidgetThroughValueChangesAndTilesAddedOrRemovedBetweenOthers) {
    AdaptiveGrid grid(100, 0);
    int updates = 0;
    KeyedGrid<Tile, QLabel> tiles(
        &grid, [](const Tile& tile) { return tile.id; },
        [&grid](const Tile& tile) { return new QLabel(tile.value, &grid); },
        [&updates](QLabel* label, const Tile& tile) {
            ++updates;
            label->setText(tile.value);
        });
    tiles.sync({{"wifi", "LISTENING"}, {"bluetooth", "OFF"}, {"usb", "OFF"}});
    QLabel* wifi = tiles.widget("wifi");
    QLabel* bluetooth = tiles.widget("bluetooth");
    QLabel* usb = tiles.widget("usb");

    tiles.sync({{"wifi", "LISTENING"}, {"bluetooth", "DISCOVERABLE"}, {"usb", "OFF"}});
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(tiles.widget("bluetooth"), bluetooth);
    EXPECT_EQ(bluetooth->text(), "DISCOVERABLE");

    tiles.sync({{"wifi", "LISTENING"}, {"adb", "ENABLED"}, {"bluetooth", "DISCOVERABLE"}, {"usb", "OFF"}});
    QLabel* adb = tiles.widget("adb");
    EXPECT_EQ(grid.items(), (QList<QWidget*>{wifi, adb, bluetooth, usb}));
    EXPECT_EQ(updates, 1);

    const QPointer<QLabel> gone(bluetooth);
    tiles.sync({{"wifi", "LISTENING"}, {"adb", "ENABLED"}, {"usb", "OFF"}});
    test::settle();
    EXPECT_TRUE(gone.isNull());
    EXPECT_EQ(grid.items(), (QList<QWidget*>{wifi, adb, usb}));
    EXPECT_EQ(updates, 1);
}

}  // namespace
}  // namespace norv
