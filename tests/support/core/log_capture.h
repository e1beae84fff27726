#pragma once

#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <vector>

namespace norv::test {

inline const QString kProcessCategory = QStringLiteral("org.norv.session.bridge.Process");
inline const QString kRoutingCategory = QStringLiteral("org.norv.session.bridge.Routing");
inline const QString kConnectionCategory = QStringLiteral("org.norv.session.bridge.Connection");

// Records the messages of the application's log while it lives (any thread), and puts the
// previous message handler back afterwards. One at a time.
class LogCapture {
public:
    struct Entry {
        QtMsgType type;
        QString category;
        QString message;
    };

    LogCapture() {
        QMutexLocker lock(&mutex());
        current() = this;
        previous_ = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        QMutexLocker lock(&mutex());
        current() = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Whether a message of exactly this type, category and text was logged.
    bool contains(QtMsgType type, const QString& category, const QString& message) const {
        QMutexLocker lock(&mutex());
        for (const Entry& entry : entries_)
            if (entry.type == type && entry.category == category && entry.message == message)
                return true;
        return false;
    }

private:
    static QMutex& mutex() {
        static QMutex instance;
        return instance;
    }
    static LogCapture*& current() {
        static LogCapture* instance = nullptr;
        return instance;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        QMutexLocker lock(&mutex());
        if (LogCapture* capture = current())
            capture->entries_.push_back(
                {type, QString::fromUtf8(context.category ? context.category : ""), message});
    }

    QtMessageHandler previous_ = nullptr;
    std::vector<Entry> entries_;
};

}  // namespace norv::test
