#pragma once
// A run of widgets in a box layout, one per item, kept by the item's id. `sync` creates a
// widget when its id appears, hands a widget new content only when its content differs
// (`operator==`), moves widgets only when the order changed and retires a widget when its id
// goes. An identical list touches no widget, so whatever the user has open, focused or typed
// inside one survives.
//
// `Widget` needs `setContent(const Content&)`; `create` builds a widget already showing its
// content. The list starts at `offset` in the layout and owns the items it adds there.

#include "ui/components/retire_widget.h"

#include <QBoxLayout>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace norv {

template <typename Content, typename Widget>
class KeyedList {
public:
    using KeyOf = std::function<std::string(const Content&)>;
    using Create = std::function<Widget*(const Content&)>;

    KeyedList() = default;  // assigned once the page has built its layout
    KeyedList(QBoxLayout* layout, KeyOf keyOf, Create create, int offset = 0)
        : layout_(layout), keyOf_(std::move(keyOf)), create_(std::move(create)), offset_(offset) {}

    void sync(const std::vector<Content>& items) {
        std::vector<Entry> next;
        next.reserve(items.size());
        for (const Content& content : items) {
            const std::string key = keyOf_(content);
            Entry entry{key, content, nullptr};
            if (const auto found = find(key); found != entries_.end() && found->widget) {
                entry.widget = found->widget;
                if (!(found->content == content)) entry.widget->setContent(content);
                found->widget = nullptr;  // taken over
            } else {
                entry.widget = create_(content);
            }
            next.push_back(std::move(entry));
        }
        for (Entry& old : entries_)
            if (old.widget) retireWidget(old.widget);
        for (int i = 0; i < static_cast<int>(next.size()); ++i) {
            Widget* widget = next[static_cast<std::size_t>(i)].widget;
            QLayoutItem* at = layout_->itemAt(offset_ + i);
            if (at && at->widget() == widget) continue;
            if (layout_->indexOf(widget) >= 0) layout_->removeWidget(widget);
            // A new widget shows with the next layout pass of a visible page (the layout posts
            // that); showing it here would lay the whole page out once per widget.
            layout_->insertWidget(std::min(offset_ + i, layout_->count()), widget);
        }
        entries_ = std::move(next);
    }

    // The widget of an id; null when the list has none.
    Widget* widget(const std::string& key) const {
        for (const Entry& entry : entries_)
            if (entry.key == key) return entry.widget;
        return nullptr;
    }
    std::vector<Widget*> widgets() const {
        std::vector<Widget*> result;
        for (const Entry& entry : entries_) result.push_back(entry.widget);
        return result;
    }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    struct Entry {
        std::string key;
        Content content;
        Widget* widget;
    };

    typename std::vector<Entry>::iterator find(const std::string& key) {
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->key == key) return it;
        return entries_.end();
    }

    QBoxLayout* layout_ = nullptr;
    KeyOf keyOf_;
    Create create_;
    int offset_ = 0;
    std::vector<Entry> entries_;
};

}  // namespace norv
