#include "ui/components/combo_box_entries.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace norv {

namespace {

bool sameEntries(const QComboBox* box, const std::vector<ComboBoxEntry>& entries) {
    if (box->count() != static_cast<int>(entries.size())) return false;
    for (int i = 0; i < box->count(); ++i) {
        const ComboBoxEntry& entry = entries[static_cast<std::size_t>(i)];
        if (box->itemText(i) != entry.text || box->itemData(i) != entry.data) return false;
    }
    return true;
}

}  // namespace

bool setComboBoxEntries(QComboBox* box, const std::vector<ComboBoxEntry>& entries, const QVariant& current) {
    const QSignalBlocker blocker(box);
    const bool rewrite = !sameEntries(box, entries);
    if (rewrite) {
        box->clear();
        for (const ComboBoxEntry& entry : entries) box->addItem(entry.text, entry.data);
    }
    const int index = box->findData(current);
    if (index >= 0 && index != box->currentIndex()) box->setCurrentIndex(index);
    if (index < 0 && rewrite) box->setCurrentIndex(-1);
    return rewrite;
}

}  // namespace norv
