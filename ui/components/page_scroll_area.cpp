#include "ui/components/page_scroll_area.h"

#include <QEvent>
#include <QLayout>

namespace norv {

PageScrollArea::PageScrollArea(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
}

bool PageScrollArea::eventFilter(QObject* watched, QEvent* event) {
    // The content asks for a layout pass: size it now, as the scroll view would once that pass
    // is done. Its layout is not active yet, so the resize moves no child.
    if (watched == widget() && event->type() == QEvent::LayoutRequest) {
        QEvent fit(QEvent::LayoutRequest);
        QScrollArea::event(&fit);
    }
    return QScrollArea::eventFilter(watched, event);
}

void growBeforeLayout(QWidget* container) {
    container->layout()->setSizeConstraint(QLayout::SetMinimumSize);
    container->setAttribute(Qt::WA_StaticContents);
}

}  // namespace norv
