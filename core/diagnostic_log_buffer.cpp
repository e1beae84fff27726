#include "core/diagnostic_log_buffer.h"

#include <QTextBoundaryFinder>

namespace norv {
namespace {

const QString kTruncatedMarker = QStringLiteral(" [truncated]");

// Offset (in UTF-16 units) just past the first `count` grapheme clusters, or -1 when the text
// holds no more than `count` of them.
qsizetype graphemeCut(const QString& text, int count) {
    // A grapheme cluster holds at least one UTF-16 unit, so short texts need no scan.
    if (text.size() <= count) return -1;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    while (finder.toNextBoundary() != -1) {
        if (++seen == count) {
            const qsizetype at = finder.position();
            return at < text.size() ? at : -1;
        }
    }
    return -1;
}

}  // namespace

DiagnosticLogBuffer::DiagnosticLogBuffer(int limit, qsizetype lineBytes)
    : limit_(limit), lineBytes_(lineBytes) {
    partial_.reserve(lineBytes_);
}

void DiagnosticLogBuffer::append(QByteArrayView data) {
    std::lock_guard guard(lock_);
    for (const char byte : data) {
        if (byte != '\n') {
            if (partial_.size() >= lineBytes_) {
                oversizedLine_ = true;
            } else {
                partial_.append(byte);
            }
            continue;
        }
        QString line = QString::fromUtf8(partial_);
        if (oversizedLine_) {
            // Keep the marker visible: cut the text so that text and marker fit the line cap.
            const qsizetype cut = graphemeCut(line, kMaxLineCharacters - int(kTruncatedMarker.size()));
            if (cut >= 0) line.truncate(cut);
            line += kTruncatedMarker;
        }
        storeLocked(std::move(line));
        partial_.resize(0);  // keeps the reserved capacity
        oversizedLine_ = false;
    }
}

void DiagnosticLogBuffer::finish() {
    std::lock_guard guard(lock_);
    if (!partial_.isEmpty()) storeLocked(QString::fromUtf8(partial_));
    partial_.resize(0);  // keeps the reserved capacity
    oversizedLine_ = false;
}

void DiagnosticLogBuffer::appendLine(const QString& line) {
    std::lock_guard guard(lock_);
    storeLocked(line);
}

QStringList DiagnosticLogBuffer::lines() const {
    std::lock_guard guard(lock_);
    return records_;
}

void DiagnosticLogBuffer::storeLocked(QString line) {
    if (line.isEmpty()) return;
    const qsizetype cut = graphemeCut(line, kMaxLineCharacters);
    if (cut >= 0) line.truncate(cut);
    records_.append(std::move(line));
    if (records_.size() > limit_) records_.remove(0, records_.size() - limit_);
}

}  // namespace norv
