#pragma once
// Writes a combo box's entries from state without disturbing the user: entries are kept by their
// data, so an entry that stays keeps its row (a new text is written into it), new entries are
// inserted and gone ones removed around it, and the current entry is moved only when it differs.
// An open popup, its highlighted row and the current index survive an update, and an unchanged
// update writes nothing. Signals are blocked while writing, so state never fires a user action.

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

// Returns whether any item changed. `current` selects the entry with that data; none found
// leaves no entry current when an item changed, else keeps the current one.
bool setComboBoxEntries(QComboBox* box, const std::vector<ComboBoxEntry>& entries, const QVariant& current);

}  // namespace norv
