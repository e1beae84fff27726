#include "ui/routes/clear_confirmation.h"

#include <QTimer>

namespace norv {

namespace {

void singleShot(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
    // Precise: a coarse timer may end the 4 s window up to 5 % early.
    QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(action));
}

}  // namespace

ClearConfirmation::ClearConfirmation(QObject* parent) : ClearConfirmation(singleShot, kLapse, parent) {}

ClearConfirmation::ClearConfirmation(Scheduler scheduler, std::chrono::milliseconds lapse, QObject* parent)
    : QObject(parent), scheduler_(std::move(scheduler)), lapse_(lapse) {}

QString ClearConfirmation::title() const {
    return pending_ ? QStringLiteral("Confirm clear") : QStringLiteral("Clear assignments");
}

void ClearConfirmation::press(const std::function<void()>& clear) {
    if (pending_) {
        clear();
        setPending(false);
        return;
    }
    setPending(true);
    scheduler_(lapse_, this, [this, arming = ++armings_] {
        if (arming == armings_) setPending(false);
    });
}

void ClearConfirmation::setPending(bool pending) {
    if (pending_ == pending) return;
    pending_ = pending;
    Q_EMIT changed();
}

}  // namespace norv
