#include "ui/theme/norv_button_style.h"

#include "ui/theme/norv_theme.h"

#include <QAbstractButton>
#include <QStyle>

namespace norv {

NorvButtonLook NorvButtonStyle::look(bool prominent, bool destructive, bool enabled, bool pressed) {
    QColor fill = NorvTheme::panelRaised();
    bool filled = false;
    if (destructive) {
        fill = NorvTheme::red();
        filled = true;
    } else if (prominent) {
        fill = NorvTheme::accent();
        filled = true;
    }
    NorvButtonLook result;
    result.text = (filled && enabled) ? NorvTheme::ink() : NorvTheme::primary();
    result.fill = enabled ? fill : NorvTheme::panelRaised();
    result.opacity = !enabled ? 0.45 : (pressed ? 0.72 : 1.0);
    return result;
}

namespace {

QString rule(const QString& selector, const NorvButtonLook& look) {
    return QStringLiteral("%1 { background: %2; color: %3; }\n")
        .arg(selector, NorvTheme::css(look.fill, look.opacity), NorvTheme::css(look.text, look.opacity));
}

}  // namespace

QString NorvButtonStyle::styleSheet() {
    const QString base = QStringLiteral("QPushButton");
    const QString prominent = QStringLiteral("QPushButton[norvProminent=\"true\"]");
    const QString destructive = QStringLiteral("QPushButton[norvDestructive=\"true\"]");
    QString sheet = QStringLiteral(
        "QPushButton { border: none; border-radius: 0px; padding: 0px 12px; min-height: 44px;"
        " font-size: %1px; font-weight: 600; }\n")
                        .arg(NorvTheme::commandFont().pixelSize());
    // Later rules of equal weight win: destructive after prominent, disabled last.
    sheet += rule(base, look(false, false, true, false));
    sheet += rule(base + QStringLiteral(":pressed"), look(false, false, true, true));
    sheet += rule(prominent, look(true, false, true, false));
    sheet += rule(prominent + QStringLiteral(":pressed"), look(true, false, true, true));
    sheet += rule(destructive, look(false, true, true, false));
    sheet += rule(destructive + QStringLiteral(":pressed"), look(false, true, true, true));
    const NorvButtonLook off = look(false, false, false, false);
    sheet += rule(base + QStringLiteral(":disabled, ") + prominent + QStringLiteral(":disabled, ") +
                      destructive + QStringLiteral(":disabled"),
                  off);
    return sheet;
}

void NorvButtonStyle::apply(QAbstractButton* button, bool prominent, bool destructive) {
    button->setProperty("norvProminent", prominent);
    button->setProperty("norvDestructive", destructive);
    button->setFont(NorvTheme::commandFont());
    button->style()->unpolish(button);
    button->style()->polish(button);
}

}  // namespace norv
