#include "ui/theme/norv_theme.h"

#include "ui/theme/norv_button_style.h"
#include "ui/theme/norv_field_style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStyleFactory>

namespace norv {

QColor NorvTheme::background() { return QColor(28, 28, 28); }
QColor NorvTheme::panel() { return QColor(38, 38, 38); }
QColor NorvTheme::panelRaised() { return QColor(54, 54, 54); }
QColor NorvTheme::field() { return QColor(59, 59, 59); }
QColor NorvTheme::fieldOutline() { return QColor(98, 98, 98); }
QColor NorvTheme::stroke() { return QColor(65, 65, 65); }
QColor NorvTheme::primary() { return QColor(230, 230, 226); }
QColor NorvTheme::secondary() { return QColor(204, 204, 202); }
QColor NorvTheme::ink() { return QColor(34, 34, 34); }
QColor NorvTheme::accent() { return QColor(255, 145, 0); }
QColor NorvTheme::teal() { return QColor(38, 166, 154); }
QColor NorvTheme::violet() { return QColor(126, 87, 194); }
// Warnings use the accent's value on purpose: one orange for the whole window.
QColor NorvTheme::yellow() { return accent(); }
QColor NorvTheme::red() { return QColor(255, 85, 90); }

QFont NorvTheme::systemFont(int pixelSize, QFont::Weight weight, bool monospaced) {
    QFont font = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                            : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont NorvTheme::commandFont() { return systemFont(12, QFont::DemiBold); }
QFont NorvTheme::sectionFont() { return systemFont(11, QFont::DemiBold); }

QFont NorvTheme::bodyFont() { return systemFont(13, QFont::Normal); }
QFont NorvTheme::headlineFont() { return systemFont(13, QFont::Bold); }
QFont NorvTheme::calloutFont() { return systemFont(12, QFont::Normal); }
QFont NorvTheme::captionFont() { return systemFont(10, QFont::Normal); }
QFont NorvTheme::title2Font() { return systemFont(17, QFont::DemiBold); }

QPalette NorvTheme::palette() {
    QPalette p;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Window, background());
        p.setColor(group, QPalette::WindowText, primary());
        p.setColor(group, QPalette::Base, field());
        p.setColor(group, QPalette::AlternateBase, panel());
        p.setColor(group, QPalette::Text, primary());
        p.setColor(group, QPalette::Button, panelRaised());
        p.setColor(group, QPalette::ButtonText, primary());
        p.setColor(group, QPalette::Highlight, accent());
        p.setColor(group, QPalette::HighlightedText, ink());
        p.setColor(group, QPalette::ToolTipBase, panelRaised());
        p.setColor(group, QPalette::ToolTipText, primary());
        p.setColor(group, QPalette::PlaceholderText, secondary());
        p.setColor(group, QPalette::Link, accent());
        p.setColor(group, QPalette::Mid, stroke());
        p.setColor(group, QPalette::Dark, panel());
        p.setColor(group, QPalette::Light, panelRaised());
    }
    // Disabled text: the primary colour at the disabled-button opacity.
    QColor dimmed = primary();
    dimmed.setAlphaF(0.45f);
    p.setColor(QPalette::Disabled, QPalette::WindowText, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Text, dimmed);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, dimmed);
    return p;
}

QString NorvTheme::css(const QColor& color, double opacity) {
    if (opacity >= 1.0) return color.name(QColor::HexRgb);
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(qRound(opacity * 255.0));
}

QString NorvTheme::applicationStyleSheet() {
    return NorvFieldStyle::styleSheet() +
           QStringLiteral("QToolTip { color: %1; background: %2; border: 1px solid %3; }\n")
               .arg(css(primary()), css(panelRaised()), css(stroke()));
}

void NorvTheme::applyTo(QApplication& app) {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    app.setPalette(palette());
    app.setStyleSheet(applicationStyleSheet());
}

}  // namespace norv
