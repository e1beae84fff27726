#pragma once

#include <QString>

namespace norv {

// A failed diagnostics export: domain "NorvBridge", a code (1 for a missing exporter or
// interpreter, 2 for the time-out, the exporter's exit status for a failed run) and the
// English message the Logs page shows.
struct DiagnosticsExportError {
    static constexpr const char* kDomain = "NorvBridge";

    int code = 1;
    QString message;

    QString domain() const { return QString::fromLatin1(kDomain); }
    bool operator==(const DiagnosticsExportError&) const = default;
};

}  // namespace norv
