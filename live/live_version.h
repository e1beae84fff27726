#pragma once

#include <QString>

#include <optional>

namespace norv {

// Version strings of Ableton Live bundles: the numeric part of a short version string,
// the newest-first order of installations and the supported-release test.
class LiveVersion {
public:
    // The leading "major.minor[.patch]" of `text` when it is followed by white space or the end,
    // e.g. "12.1.5 (2024-05-01)" gives "12.1.5"; "12", "12b1" and "12.1.5b3" give nothing.
    static std::optional<QString> numeric(const QString& text);

    // Numeric-aware comparison: runs of ASCII digits compare by value, other characters one by one;
    // a string that is a prefix of another is the smaller. Negative, zero or positive.
    static int compare(const QString& a, const QString& b);

    // True when the part before the first "." is a base-10 integer of at least 12.
    static bool supported(const QString& version);
};

}  // namespace norv
