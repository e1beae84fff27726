#pragma once
// A run of widgets in a box layout, one per item, kept by the item's id. `sync` creates a
// widget when its id appears, hands a widget new content only when its content differs
// (`operator==`), moves widgets only when the order changed and retires a widget when its id
// goes. An identical list touches no widget, so whatever the user has open, focused or typed
// inside one survives.
//
// `Widget` needs `setContent(const Content&)`; `create` builds a widget already showing its
// content. The list starts at `offset` in the layout and owns the items it adds there.

#include "ui/components/keyed_widgets.h"

#include <QBoxLayout>
#include <QWidget>
#include <algorithm>

namespace norv {

template <typename Content, typename Widget>
class KeyedList {
public:
    using KeyOf = typename KeyedWidgets<Content, Widget>::KeyOf;
    using Create = typename KeyedWidgets<Content, Widget>::Create;

    KeyedList() = default;  // assigned once the page has built its layout
    KeyedList(QBoxLayout* layout, KeyOf keyOf, Create create, int offset = 0)
        : layout_(layout),
          widgets_(std::move(keyOf), std::move(create),
                   [](Widget* widget, const Content& content) { widget->setContent(content); }),
          offset_(offset) {}

    void sync(const std::vector<Content>& items) {
        const std::vector<Widget*> shown = widgets_.sync(items);
        for (int i = 0; i < static_cast<int>(shown.size()); ++i) {
            Widget* widget = shown[static_cast<std::size_t>(i)];
            QLayoutItem* at = layout_->itemAt(offset_ + i);
            if (at && at->widget() == widget) continue;
            if (layout_->indexOf(widget) >= 0) layout_->removeWidget(widget);
            // A new widget shows with the next layout pass of a visible page (the layout posts
            // that); showing it here would lay the whole page out once per widget.
            layout_->insertWidget(std::min(offset_ + i, layout_->count()), widget);
        }
    }

    // The widget of an id; null when the list has none.
    Widget* widget(const std::string& key) const { return widgets_.widget(key); }
    std::vector<Widget*> widgets() const { return widgets_.widgets(); }
    std::size_t size() const { return widgets_.size(); }
    bool empty() const { return widgets_.empty(); }

private:
    QBoxLayout* layout_ = nullptr;
    KeyedWidgets<Content, Widget> widgets_;
    int offset_ = 0;
};

}  // namespace norv
