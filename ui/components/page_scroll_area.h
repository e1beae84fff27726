#pragma once
// A vertical scroll view for a page's column. When its content gains or loses a block, the
// content is first given the size the scroll view will give it, then laid out once: without
// that, Qt lays every block out squeezed into the old height and again at the new one, and a
// long page pays for both passes and a repaint of everything in view. A new child that shows
// lays its parent out directly, without a request: give the content `growBeforeLayout` as well.

#include <QScrollArea>

namespace norv {

class PageScrollArea : public QScrollArea {
    Q_OBJECT
public:
    explicit PageScrollArea(QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Lets a container inside a page (a panel, a list's box) grow to its layout's new minimum before
// it places its children, and repaint only the area it gains: a block appended at its end is
// laid out and painted alone instead of every sibling being squeezed, then placed again. Only
// for containers that paint nothing or one flat fill.
void growBeforeLayout(QWidget* container);

}  // namespace norv
