#pragma once
// The text-field look of every page: plain field, 10 pt side padding, outlined fill.

#include <QString>

class QLineEdit;

namespace norv {

class NorvFieldStyle {
public:
    NorvFieldStyle() = delete;
    static QString styleSheet();           // part of the application rules
    static void apply(QLineEdit* field);   // marks one field for those rules
};

}  // namespace norv
