#pragma once
// Writes a combo box's entries from state without disturbing the user: items are kept by their
// data, so an entry is inserted, renamed, moved or removed on its own and the others stay, and
// the current entry is moved only when it differs. An open popup, its highlighted row and the
// current index survive an unchanged update. Signals are blocked while writing, so state never
// fires a user action.

#include <QString>
#include <QVariant>
#include <vector>

class QComboBox;

namespace norv {

struct ComboBoxEntry {
    QString text;
    QVariant data;
    friend bool operator==(const ComboBoxEntry&, const ComboBoxEntry&) = default;
};

// Returns whether any item changed. `current` selects the entry with that data; none found leaves
// no entry current when an item changed, else keeps the current one.
bool setComboBoxEntries(QComboBox* box, const std::vector<ComboBoxEntry>& entries, const QVariant& current);

}  // namespace norv
