#pragma once
// A device whose access was revoked: who it was, and the button that lets it back in.

#include "model/revoked_device.h"

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

namespace norv {

class SymbolLabel;

struct RevokedRowContent {
    RevokedDevice record;
    QString buttonTitle;
    bool mayAct = false;
    friend bool operator==(const RevokedRowContent&, const RevokedRowContent&) = default;
};

class RevokedDeviceRow : public QWidget {
    Q_OBJECT
public:
    RevokedDeviceRow(const RevokedRowContent& content, std::function<void(const std::string&)> allow,
                     QWidget* parent = nullptr);
    void setContent(const RevokedRowContent& content);

private:
    RevokedRowContent content_;
    SymbolLabel* symbol_;
    QLabel* name_;
    QLabel* details_;
    QPushButton* allow_;
};

}  // namespace norv
