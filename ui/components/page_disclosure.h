#pragma once
// A titled group whose content shows only while it is expanded; it starts collapsed.

#include <QWidget>

class QToolButton;
class QVBoxLayout;

namespace norv {

class PageDisclosure : public QWidget {
    Q_OBJECT
public:
    explicit PageDisclosure(const QString& title, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const;
    bool isExpanded() const;
    void setExpanded(bool expanded);
    QWidget* body() const { return body_; }
    QVBoxLayout* bodyLayout() const { return bodyLayout_; }
    QToolButton* toggle() const { return toggle_; }

private:
    QString title_;
    QToolButton* toggle_;
    QWidget* body_;
    QVBoxLayout* bodyLayout_;
};

}  // namespace norv
