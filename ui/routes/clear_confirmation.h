#pragma once
// The two-press "Clear assignments" button: the first press arms it, a second press clears, and
// every first press schedules one lapse that disarms it again 4 s later. Each arming cancels the
// lapse of the one before, so a window always lasts its full 4 s.

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>

namespace norv {

class ClearConfirmation : public QObject {
    Q_OBJECT
public:
    // Runs `action` once after `delay`, and never once `context` is gone.
    using Scheduler = std::function<void(std::chrono::milliseconds delay, QObject* context,
                                         std::function<void()> action)>;

    static constexpr std::chrono::milliseconds kLapse{4000};

    explicit ClearConfirmation(QObject* parent = nullptr);
    ClearConfirmation(Scheduler scheduler, std::chrono::milliseconds lapse, QObject* parent = nullptr);

    bool pending() const { return pending_; }
    QString title() const;

    // One press: the second press of a window runs `clear` and disarms.
    void press(const std::function<void()>& clear);

Q_SIGNALS:
    void changed();

private:
    void setPending(bool pending);

    Scheduler scheduler_;
    std::chrono::milliseconds lapse_;
    bool pending_ = false;
    unsigned armings_ = 0;  // only the lapse of the latest arming may disarm
};

}  // namespace norv
