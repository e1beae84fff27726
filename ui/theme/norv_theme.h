#pragma once
// The one dark palette and the two named fonts every window element draws with.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QApplication;

namespace norv {

class NorvTheme {
public:
    NorvTheme() = delete;

    static QColor background();
    static QColor panel();
    static QColor panelRaised();
    static QColor field();
    static QColor fieldOutline();
    static QColor stroke();
    static QColor primary();
    static QColor secondary();
    static QColor ink();
    static QColor accent();
    static QColor teal();
    static QColor violet();
    static QColor yellow();
    static QColor red();

    static QFont commandFont();   // buttons and sidebar rows
    static QFont sectionFont();   // captions written in capitals

    // The platform's text styles, at their desktop sizes.
    static QFont bodyFont();
    static QFont headlineFont();
    static QFont calloutFont();
    static QFont captionFont();
    static QFont title2Font();

    // Sizes are given in points of the design; here one point is one logical pixel.
    static QFont systemFont(int pixelSize, QFont::Weight weight, bool monospaced = false);

    static QPalette palette();
    // Rules that hold for the whole application (text fields, tool tips, scroll areas).
    static QString applicationStyleSheet();
    // Dark palette, Fusion style and the application rules.
    static void applyTo(QApplication& app);

    // "#rrggbb" or "rgba(r, g, b, a)" for style sheets; alpha folds in an opacity.
    static QString css(const QColor& color, double opacity = 1.0);
};

}  // namespace norv
