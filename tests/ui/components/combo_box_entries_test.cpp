// A combo box written from state keeps each entry's row by its data.
#include "tests/support/qt_printers.h"
#include "ui/components/combo_box_entries.h"

#include <QComboBox>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace norv {
namespace {

TEST(ComboBoxEntries, AnEntryKeepsItsRowThroughTextChangesAndEntriesAddedOrRemovedBetweenOthers) {
    QComboBox box;
    setComboBoxEntries(&box, {{"Live 11", "a"}, {"Live 12", "b"}, {"Live 12 Beta", "c"}}, "b");
    const QPersistentModelIndex a(box.model()->index(0, 0));
    const QPersistentModelIndex b(box.model()->index(1, 0));
    const QPersistentModelIndex c(box.model()->index(2, 0));
    QSignalSpy removed(box.model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(box.model(), &QAbstractItemModel::modelReset);

    EXPECT_FALSE(setComboBoxEntries(&box, {{"Live 11", "a"}, {"Live 12", "b"}, {"Live 12 Beta", "c"}}, "b"));
    EXPECT_TRUE(setComboBoxEntries(&box, {{"Live 11", "a"}, {"Live 12 Suite", "b"}, {"Live 12 Beta", "c"}}, "b"));
    EXPECT_EQ(removed.count(), 0);
    EXPECT_EQ(b.data().toString(), "Live 12 Suite");

    setComboBoxEntries(&box, {{"Live 11", "a"}, {"Live 11 Lite", "x"}, {"Live 12 Suite", "b"}, {"Live 12 Beta", "c"}},
                       "b");
    EXPECT_EQ(a.row(), 0);
    EXPECT_EQ(b.row(), 2);
    EXPECT_EQ(c.row(), 3);
    EXPECT_EQ(box.currentIndex(), 2);

    setComboBoxEntries(&box, {{"Live 11 Lite", "x"}, {"Live 12 Suite", "b"}, {"Live 12 Beta", "c"}}, "b");
    EXPECT_FALSE(a.isValid());
    EXPECT_EQ(b.row(), 1);
    EXPECT_EQ(c.row(), 2);
    EXPECT_EQ(box.currentIndex(), 1);
    EXPECT_EQ(box.itemText(0), "Live 11 Lite");
    EXPECT_EQ(reset.count(), 0);
}

}  // namespace
}  // namespace norv
