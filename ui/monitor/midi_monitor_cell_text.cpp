#include "ui/monitor/midi_monitor_cell_text.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTransform>
#include <cmath>

namespace norv {

namespace {

// Enough for the recurring texts of a column.
constexpr qsizetype kSharedPerColumn = 2048;

// Characters that never join, combine or reorder: printable Latin (with its precomposed letters)
// and the visible general punctuation.
bool setAlone(char16_t c) {
    return (c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0x24f) || (c >= 0x2010 && c <= 0x2027) ||
           (c >= 0x2030 && c <= 0x205e);
}

QStaticText prepared(const QString& text, const QFont& font) {
    QStaticText laidOut(text);
    laidOut.setTextFormat(Qt::PlainText);
    // Laid out in the font it is drawn in, so its size is the one it is drawn at from its first
    // paint.
    laidOut.prepare(QTransform(), font);
    return laidOut;
}

}  // namespace

MidiMonitorCellText::MidiMonitorCellText(const QString& text, const QFont& font, const QRawFont& raw)
    : text_(text), glyphs_(glyphRun(text, font, raw)) {
    if (glyphs_) {
        const QList<quint32> last{glyphs_->glyphIndexes().constLast()};
        width_ = glyphs_->positions().constLast().x() + raw.advancesForGlyphIndexes(last).constFirst().x();
        ascent_ = raw.ascent();
        height_ = std::ceil(raw.ascent() + raw.descent());
        return;
    }
    laidOut_ = prepared(text, font);
    width_ = laidOut_->size().width();
    height_ = laidOut_->size().height();
}

int MidiMonitorCellText::draw(QPainter& painter, const QRect& rect, const QFont& font) {
    if (width_ > rect.width()) {
        // Too wide for its column: cut with an ellipsis, as item views do.
        if (elidedFor_ != rect.width()) {
            elided_ = prepared(QFontMetrics(font).elidedText(text_, Qt::ElideRight, rect.width()), font);
            elidedFor_ = rect.width();
        }
        if (painter.font() != font) painter.setFont(font);
        const QSizeF size = elided_->size();
        painter.drawStaticText(QPointF(rect.left(), rect.top() + (rect.height() - size.height()) / 2), *elided_);
        return static_cast<int>(size.width());
    }
    const qreal top = rect.top() + (rect.height() - height_) / 2;
    if (glyphs_) {
        painter.drawGlyphRun(QPointF(rect.left(), top + ascent_), *glyphs_);
    } else {
        if (painter.font() != font) painter.setFont(font);
        painter.drawStaticText(QPointF(rect.left(), top), *laidOut_);
    }
    return static_cast<int>(width_);
}

// Visible Latin letters and punctuation (the monitor's digits, signs, "·", "–" and "…") in a
// monospaced font have no shaping to do: each character is its glyph, placed at the sum of the
// advances before it, which is what a layout of the text would give. The font counts as
// monospaced when its own advances say so (its narrow and wide letters and every glyph of the
// text alike), whatever flag the font's configuration gives it.
std::optional<QGlyphRun> MidiMonitorCellText::glyphRun(const QString& text, const QFont&, const QRawFont& raw) {
    if (text.isEmpty() || !raw.isValid()) return std::nullopt;
    for (const QChar c : text) {
        if (!setAlone(c.unicode())) return std::nullopt;
    }
    QList<quint32> indexes = raw.glyphIndexesForString(text);
    if (indexes.size() != text.size() || indexes.contains(0)) return std::nullopt;  // a character it lacks
    const QList<quint32> probes = raw.glyphIndexesForString(QStringLiteral("iW"));
    if (probes.size() != 2 || probes.contains(0)) return std::nullopt;
    indexes.append(probes);
    QList<QPointF> advances = raw.advancesForGlyphIndexes(indexes);
    indexes.resize(text.size());
    const QPointF advance = advances.constFirst();
    for (const QPointF& each : advances) {
        if (each != advance) return std::nullopt;
    }
    QList<QPointF> positions;
    positions.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) positions.append(QPointF(advance.x() * static_cast<qreal>(i), 0));
    QGlyphRun run;
    run.setRawFont(raw);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    return run;
}

std::shared_ptr<MidiMonitorCellText> MidiMonitorCellText::Cache::get(int column, const QString& text, const QFont& font,
                                                                     bool recurring) {
    if (!recurring) return std::make_shared<MidiMonitorCellText>(text, font, rawFont(font));
    auto& shared = shared_[static_cast<std::size_t>(column)];
    if (const auto found = shared.constFind(text); found != shared.cend()) return *found;
    if (shared.size() >= kSharedPerColumn) shared.clear();  // rows keep what they draw
    return *shared.insert(text, std::make_shared<MidiMonitorCellText>(text, font, rawFont(font)));
}

const QRawFont& MidiMonitorCellText::Cache::rawFont(const QFont& font) {
    for (const auto& [known, raw] : rawFonts_) {
        if (known == font) return raw;
    }
    return rawFonts_.emplace_back(font, QRawFont::fromFont(font)).second;
}

}  // namespace norv
