#pragma once
// A panel's caption in capitals, with an optional detail line under it.

#include <QWidget>

namespace norv {

class SectionHeading : public QWidget {
    Q_OBJECT
public:
    SectionHeading(const QString& title, const QString& detail, QWidget* parent = nullptr);
};

}  // namespace norv
