#include "ui/components/combo_box_entries.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <algorithm>

namespace norv {

bool setComboBoxEntries(QComboBox* box, const std::vector<ComboBoxEntry>& entries,
                        const QVariant& current) {
    const QSignalBlocker blocker(box);
    bool changed = false;
    for (int j = box->count() - 1; j >= 0; --j) {
        const QVariant data = box->itemData(j);
        if (std::none_of(entries.begin(), entries.end(),
                         [&](const ComboBoxEntry& entry) { return entry.data == data; })) {
            box->removeItem(j);
            changed = true;
        }
    }
    const int count = static_cast<int>(entries.size());
    for (int i = 0; i < count; ++i) {
        const ComboBoxEntry& entry = entries[static_cast<std::size_t>(i)];
        int at = -1;
        for (int j = i; j < box->count() && at < 0; ++j)
            if (box->itemData(j) == entry.data) at = j;
        if (at != i) {
            if (at > i) box->removeItem(at);
            box->insertItem(i, entry.text, entry.data);
            changed = true;
        } else if (box->itemText(i) != entry.text) {
            box->setItemText(i, entry.text);
            changed = true;
        }
    }
    while (box->count() > count) {
        box->removeItem(box->count() - 1);
        changed = true;
    }
    const int index = box->findData(current);
    if (index >= 0 && index != box->currentIndex()) box->setCurrentIndex(index);
    if (index < 0 && changed) box->setCurrentIndex(-1);
    return changed;
}

}  // namespace norv
