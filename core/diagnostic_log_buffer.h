#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <mutex>

namespace norv {

// The bounded list of log lines the Logs page shows: the engine's raw output, split into lines,
// and the controller's own "[desktop]" lines. One lock guards everything; append() may be called
// from any thread.
class DiagnosticLogBuffer {
public:
    static constexpr int kMaxLineCharacters = 2048;  // user-perceived characters
    static constexpr qsizetype kDefaultLineBytes = 8192;

    explicit DiagnosticLogBuffer(int limit = 1000, qsizetype lineBytes = kDefaultLineBytes);

    DiagnosticLogBuffer(const DiagnosticLogBuffer&) = delete;
    DiagnosticLogBuffer& operator=(const DiagnosticLogBuffer&) = delete;

    // Raw output bytes. A line feed ends a line; a pending line keeps at most lineBytes bytes
    // and is marked " [truncated]" when bytes were dropped.
    void append(QByteArrayView data);
    // The output stream has ended: a pending line without its line feed is stored.
    void finish();
    // One whole line, stored as given (after the length cut).
    void appendLine(const QString& line);

    QStringList lines() const;

private:
    void storeLocked(QString line);

    mutable std::mutex lock_;
    QStringList records_;
    QByteArray partial_;
    bool oversizedLine_ = false;
    const int limit_;
    const qsizetype lineBytes_;
};

}  // namespace norv
