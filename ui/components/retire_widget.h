#pragma once
// Taking widgets off a page. A retired widget is hidden and taken out of its layout at once and
// deleted once control is back in the event loop, so a button may be retired from inside its
// own click. It keeps its parent until then: reparenting to nothing would walk the whole
// window's focus chain for every widget.

class QLayout;
class QWidget;

namespace norv {

void retireWidget(QWidget* widget);
// Retires every widget of a layout and drops its items, nested layouts included.
void retireLayoutItems(QLayout* layout);

}  // namespace norv
