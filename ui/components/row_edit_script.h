#pragma once
// Turns a list model's rows into a new list by removing and inserting rows, never by a reset, so
// views keep their selection, current row and scroll position across updates. Rows are matched by
// key in order: a row whose key still comes later in the new list stays, the rows between are
// inserted before it, and a row whose key does not come again is removed. The common changes (rows
// appended at one end and dropped at the other, a filter narrowing or widening) keep every
// surviving row.

#include <QHash>
#include <vector>

namespace norv {

// `remove(row, count)` and `insert(row, first, count)` must apply the change to the model
// (wrapped in beginRemoveRows / beginInsertRows); `first` indexes `next`. Returns whether any
// row changed.
template <typename Key, typename Remove, typename Insert>
bool applyRowEdits(const std::vector<Key>& current, const std::vector<Key>& next, Remove remove, Insert insert) {
    if (current == next) return false;
    QHash<Key, std::vector<int>> positions;
    for (int i = 0; i < static_cast<int>(next.size()); ++i) positions[next[static_cast<std::size_t>(i)]].push_back(i);

    int row = 0;         // position in the model as edited so far
    int taken = 0;       // rows of `next` already in place
    int removeFrom = -1;  // start of a run of rows to remove
    int removeCount = 0;
    const auto flushRemovals = [&] {
        if (removeCount == 0) return;
        remove(removeFrom, removeCount);
        row = removeFrom;
        removeCount = 0;
    };
    for (const Key& key : current) {
        const auto found = positions.constFind(key);
        int at = -1;
        if (found != positions.constEnd()) {
            for (const int position : *found) {
                if (position >= taken) {
                    at = position;
                    break;
                }
            }
        }
        if (at < 0) {
            if (removeCount == 0) removeFrom = row;
            ++removeCount;
            ++row;
            continue;
        }
        flushRemovals();
        if (at > taken) {
            insert(row, taken, at - taken);
            row += at - taken;
        }
        ++row;
        taken = at + 1;
    }
    flushRemovals();
    if (taken < static_cast<int>(next.size())) insert(row, taken, static_cast<int>(next.size()) - taken);
    return true;
}

}  // namespace norv
