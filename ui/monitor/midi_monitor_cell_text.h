#pragma once
// One monitor table cell's text, laid out for painting. Texts in a monospaced font whose
// characters the font has (the time stamps, values and bytes, new on nearly every row) are set
// glyph by glyph from the font's advances, without a text layout, which costs a fraction of one.
// A text too wide for its cell is cut with an ellipsis once per cell width.

#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QRawFont>
#include <QStaticText>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

class QPainter;
class QRect;

namespace norv {

class MidiMonitorCellText {
public:
    // `raw` is `font`'s raw font.
    MidiMonitorCellText(const QString& text, const QFont& font, const QRawFont& raw);

    // Draws the text in `font` (the one it was made in) and the painter's pen, at the left of
    // `rect` and centred in its height; returns the width it took.
    int draw(QPainter& painter, const QRect& rect, const QFont& font);

    // The glyphs `text` is set with in `font` (`raw` its raw font) without a layout, when it can
    // be.
    static std::optional<QGlyphRun> glyphRun(const QString& text, const QFont& font, const QRawFont& raw);

    // Cells of a column share the layout of one recurring text (messages, routes, channels,
    // endpoints), so a text is laid out once while it recurs.
    class Cache {
    public:
        explicit Cache(int columns) : shared_(static_cast<std::size_t>(columns)) {}
        // The laid-out `text` of `column`; one that does not recur (a time stamp) is not kept here.
        std::shared_ptr<MidiMonitorCellText> get(int column, const QString& text, const QFont& font, bool recurring);

    private:
        const QRawFont& rawFont(const QFont& font);
        std::vector<QHash<QString, std::shared_ptr<MidiMonitorCellText>>> shared_;  // by column
        std::vector<std::pair<QFont, QRawFont>> rawFonts_;
    };

private:
    // Each static text holds a private part of its own, made even while empty: one exists only
    // when it is drawn.
    QString text_;
    std::optional<QGlyphRun> glyphs_;  // set without a layout; else `laidOut_`
    std::optional<QStaticText> laidOut_;
    qreal width_ = 0;
    qreal height_ = 0;
    qreal ascent_ = 0;    // of the glyphs, above their baseline
    int elidedFor_ = -1;  // the cell width `elided_` was cut for
    std::optional<QStaticText> elided_;
};

}  // namespace norv
