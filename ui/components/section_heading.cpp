#include "ui/components/section_heading.h"

#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QVBoxLayout>

namespace norv {

SectionHeading::SectionHeading(const QString& title, const QString& detail, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    column->addWidget(makeLabel(title, NorvTheme::sectionFont(), NorvTheme::secondary(), this));
    if (!detail.isEmpty()) column->addWidget(makeLabel(detail, NorvTheme::calloutFont(), NorvTheme::secondary(), this));
}

}  // namespace norv
