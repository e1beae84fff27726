#include "ui/components/combo_box_entries.h"

#include "ui/components/row_edit_script.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace norv {

namespace {

// Each distinct data value, numbered in order of appearance, so rows can be matched as keys.
class DataKeys {
public:
    int operator()(const QVariant& data) {
        for (std::size_t i = 0; i < seen_.size(); ++i)
            if (seen_[i] == data) return static_cast<int>(i);
        seen_.push_back(data);
        return static_cast<int>(seen_.size()) - 1;
    }

private:
    std::vector<QVariant> seen_;
};

}  // namespace

bool setComboBoxEntries(QComboBox* box, const std::vector<ComboBoxEntry>& entries, const QVariant& current) {
    const QSignalBlocker blocker(box);
    DataKeys keyOf;
    std::vector<int> shown;
    std::vector<int> wanted;
    for (int i = 0; i < box->count(); ++i) shown.push_back(keyOf(box->itemData(i)));
    for (const ComboBoxEntry& entry : entries) wanted.push_back(keyOf(entry.data));
    bool changed = applyRowEdits(
        shown, wanted,
        [box](int row, int count) {
            for (int i = 0; i < count; ++i) box->removeItem(row);
        },
        [box, &entries](int row, int first, int count) {
            for (int i = 0; i < count; ++i) {
                const ComboBoxEntry& entry = entries[static_cast<std::size_t>(first + i)];
                box->insertItem(row + i, entry.text, entry.data);
            }
        });
    for (int i = 0; i < box->count(); ++i) {
        const QString& text = entries[static_cast<std::size_t>(i)].text;
        if (box->itemText(i) == text) continue;
        box->setItemText(i, text);
        changed = true;
    }
    const int index = box->findData(current);
    if (index >= 0 && index != box->currentIndex()) box->setCurrentIndex(index);
    if (index < 0 && changed) box->setCurrentIndex(-1);
    return changed;
}

}  // namespace norv
