#pragma once
// The tiles of an AdaptiveGrid, one per item, kept by the item's id like KeyedList keeps a run of
// rows: a tile is created when its id appears, handed new content through `update` only when its
// content differs and retired when its id goes; the grid is laid out again only when the order
// changed. An identical list touches no tile.

#include "ui/components/adaptive_grid.h"
#include "ui/components/keyed_widgets.h"

#include <QList>
#include <QWidget>

namespace norv {

template <typename Content, typename Widget>
class KeyedGrid {
public:
    using KeyOf = typename KeyedWidgets<Content, Widget>::KeyOf;
    using Create = typename KeyedWidgets<Content, Widget>::Create;
    using Update = typename KeyedWidgets<Content, Widget>::Update;

    KeyedGrid() = default;  // assigned once the page has built its grid
    KeyedGrid(AdaptiveGrid* grid, KeyOf keyOf, Create create, Update update)
        : grid_(grid), widgets_(std::move(keyOf), std::move(create), std::move(update)) {}

    void sync(const std::vector<Content>& items) {
        QList<QWidget*> shown;
        for (Widget* widget : widgets_.sync(items)) shown.append(widget);
        grid_->setItems(shown);
    }

    // The tile of an id; null when the grid has none.
    Widget* widget(const std::string& key) const { return widgets_.widget(key); }

private:
    AdaptiveGrid* grid_ = nullptr;
    KeyedWidgets<Content, Widget> widgets_;
};

}  // namespace norv
