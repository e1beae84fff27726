#pragma once
// The button look of every page: plain, prominent (accent fill) or destructive (red fill).

#include <QColor>
#include <QString>

class QAbstractButton;

namespace norv {

struct NorvButtonLook {
    QColor fill;
    QColor text;
    double opacity = 1.0;

    bool operator==(const NorvButtonLook&) const = default;
};

class NorvButtonStyle {
public:
    NorvButtonStyle() = delete;

    // The destructive role wins over prominence; a disabled button looks plain whatever its role.
    static NorvButtonLook look(bool prominent, bool destructive, bool enabled, bool pressed);

    // Rules for every QPushButton under the widget that carries them.
    static QString styleSheet();

    // Marks one button; the rules of its subtree draw it.
    static void apply(QAbstractButton* button, bool prominent, bool destructive = false);
};

}  // namespace norv
