#include "live/live_version.h"

#include <QRegularExpression>

namespace norv {

std::optional<QString> LiveVersion::numeric(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(R"(^\d+\.\d+(?:\.\d+)?(?=\s|$))"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(0);
}

namespace {

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Compares two digit runs by value without converting them, so any length works.
int compareDigitRuns(QStringView a, QStringView b) {
    while (a.size() > 1 && a.front() == QLatin1Char('0'))
        a = a.mid(1);
    while (b.size() > 1 && b.front() == QLatin1Char('0'))
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

}  // namespace

int LiveVersion::compare(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            qsizetype endA = i;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            qsizetype endB = j;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            const int order = compareDigitRuns(QStringView(a).mid(i, endA - i), QStringView(b).mid(j, endB - j));
            if (order != 0)
                return order < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

bool LiveVersion::supported(const QString& version) {
    const QString major = version.section(QLatin1Char('.'), 0, 0);
    if (major.isEmpty())
        return false;
    for (QChar c : major) {
        if (!isDigit(c))
            return false;
    }
    bool ok = false;
    const qlonglong value = major.toLongLong(&ok, 10);
    return ok && value >= 12;
}

}  // namespace norv
