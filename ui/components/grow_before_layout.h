#pragma once
// Lets a container of a page (the scrolled content, a panel, a list's box) grow to its layout's
// new minimum before it places its children, and repaint only the area it gains. Without it, a
// block appended to a long page makes Qt lay every block out squeezed into the old height, then
// again once the scroll view has grown the content, and repaint everything in view. Only for
// containers that paint nothing or one flat fill.

class QWidget;

namespace norv {

void growBeforeLayout(QWidget* container);

}  // namespace norv
