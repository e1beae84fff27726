#pragma once
// Writes a combo box's entries from state without disturbing the user: the items are rewritten
// only when their texts or data differ, and the current entry is moved only when it differs, so
// an open popup, its highlighted row and the current index survive an unchanged update. Signals
// are blocked while writing, so state never fires a user action.

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

// Returns whether the items were rewritten. `current` selects the entry with that data; none
// found leaves no entry current when the items were rewritten, else keeps the current one.
bool setComboBoxEntries(QComboBox* box, const std::vector<ComboBoxEntry>& entries, const QVariant& current);

}  // namespace norv
