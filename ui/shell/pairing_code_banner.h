#pragma once
// Strip above the page showing a waiting or locked device pairing from the latest snapshot.

#include <QString>
#include <QWidget>
#include <optional>

class QLabel;
class QPushButton;

namespace norv {

struct PairingBannerView {
    bool visible = false;
    bool locked = false;
    QString caption;                     // "PAIRING CODE" or "PAIRING LOCKED"
    std::optional<QString> deviceName;   // waiting only
    std::optional<QString> code;         // waiting with a code only
    QString secondsText;                 // "<n> s", with the code
    QString codeAccessibleLabel;         // "Pairing code 1 2 3 4 5 6"
    QString buttonTitle;                 // "Cancel" or "Reset pairing"
    bool buttonEnabled = false;

    bool operator==(const PairingBannerView&) const = default;
};

struct PairingInput {
    bool connected = false;
    std::optional<QString> status;       // absent when the snapshot has no pairing record
    std::optional<QString> code;
    std::optional<QString> deviceLabel;
    std::optional<qint64> expiresIn;
    bool canChange = false;
    bool anyActionPending = false;
};

class PairingCodeBanner : public QWidget {
    Q_OBJECT
public:
    explicit PairingCodeBanner(QWidget* parent = nullptr);

    static PairingBannerView view(const PairingInput& input);
    // An unchanged view touches nothing.
    void setView(const PairingBannerView& view);

    QLabel* captionLabel() const { return caption_; }
    QLabel* deviceLabel() const { return device_; }
    QLabel* codeLabel() const { return code_; }
    QLabel* secondsLabel() const { return seconds_; }
    QPushButton* button() const { return button_; }

Q_SIGNALS:
    // Both "Cancel" and "Reset pairing" send the same reset command.
    void resetRequested();

private:
    QLabel* caption_;
    QLabel* device_;
    QLabel* code_;
    QLabel* seconds_;
    QPushButton* button_;
    std::optional<PairingBannerView> shown_;
};

}  // namespace norv
