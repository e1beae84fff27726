#pragma once
// One widget per item, kept by the item's id: what KeyedList and KeyedGrid share. `sync` keeps
// the widget of every id that stays and hands it new content only when its content differs
// (`operator==`), creates a widget for every new id and retires the widgets of ids that went. It
// returns the widgets in the items' order; placing them is the caller's.

#include "ui/components/retire_widget.h"

#include <functional>
#include <string>
#include <vector>

namespace norv {

template <typename Content, typename Widget>
class KeyedWidgets {
public:
    using KeyOf = std::function<std::string(const Content&)>;
    using Create = std::function<Widget*(const Content&)>;
    using Update = std::function<void(Widget*, const Content&)>;

    KeyedWidgets() = default;
    KeyedWidgets(KeyOf keyOf, Create create, Update update)
        : keyOf_(std::move(keyOf)), create_(std::move(create)), update_(std::move(update)) {}

    std::vector<Widget*> sync(const std::vector<Content>& items) {
        std::vector<Entry> next;
        next.reserve(items.size());
        for (const Content& content : items) {
            const std::string key = keyOf_(content);
            Entry entry{key, content, nullptr};
            if (const auto found = find(key); found != entries_.end() && found->widget) {
                entry.widget = found->widget;
                if (!(found->content == content)) update_(entry.widget, content);
                found->widget = nullptr;  // taken over
            } else {
                entry.widget = create_(content);
            }
            next.push_back(std::move(entry));
        }
        for (Entry& old : entries_)
            if (old.widget) retireWidget(old.widget);
        entries_ = std::move(next);
        return widgets();
    }

    // The widget of an id; null when there is none.
    Widget* widget(const std::string& key) const {
        for (const Entry& entry : entries_)
            if (entry.key == key) return entry.widget;
        return nullptr;
    }
    std::vector<Widget*> widgets() const {
        std::vector<Widget*> result;
        result.reserve(entries_.size());
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

    KeyOf keyOf_;
    Create create_;
    Update update_;
    std::vector<Entry> entries_;
};

}  // namespace norv
