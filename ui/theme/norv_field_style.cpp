#include "ui/theme/norv_field_style.h"

#include "ui/theme/norv_theme.h"

#include <QLineEdit>
#include <QStyle>

namespace norv {

QString NorvFieldStyle::styleSheet() {
    return QStringLiteral(
               "QLineEdit[norvField=\"true\"] { background: %1; color: %2; border: 0.75px solid %3;"
               " border-radius: 0px; padding: 0px 10px; min-height: 44px; }\n")
        .arg(NorvTheme::css(NorvTheme::field()), NorvTheme::css(NorvTheme::primary()),
             NorvTheme::css(NorvTheme::fieldOutline()));
}

void NorvFieldStyle::apply(QLineEdit* field) {
    field->setFrame(false);
    field->setProperty("norvField", true);
    field->style()->unpolish(field);
    field->style()->polish(field);
}

}  // namespace norv
