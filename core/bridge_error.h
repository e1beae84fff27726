#pragma once

#include <QString>

namespace norv {

// The error value every control-core failure hands to a completion or shows to the user:
// domain "NorvBridge", code 1 and an English message. Make it only through `error`.
class BridgeError {
public:
    static constexpr const char* kDomain = "NorvBridge";
    static constexpr int kCode = 1;

    static BridgeError error(const QString& message) { return BridgeError(message); }

    QString domain() const { return QString::fromLatin1(kDomain); }
    int code() const { return kCode; }
    const QString& message() const { return message_; }

    bool operator==(const BridgeError&) const = default;

private:
    explicit BridgeError(QString message) : message_(std::move(message)) {}
    QString message_;
};

}  // namespace norv
