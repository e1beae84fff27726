#include "ui/components/grow_before_layout.h"

#include <QLayout>
#include <QWidget>

namespace norv {

void growBeforeLayout(QWidget* container) {
    container->layout()->setSizeConstraint(QLayout::SetMinimumSize);
    container->setAttribute(Qt::WA_StaticContents);
}

}  // namespace norv
