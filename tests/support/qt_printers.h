#pragma once

#include <QString>

#include <optional>
#include <ostream>

// Readable QString values in test failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& value, std::ostream* out) {
    *out << '"' << value.toStdString() << '"';
}
QT_END_NAMESPACE
