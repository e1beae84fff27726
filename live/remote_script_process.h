#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>

class QProcess;

namespace norv {

// One run of the runtime tool as a child process on the GUI thread. Its standard input is the null
// device, its standard error is discarded and its standard output is read while it runs. Past the
// time limit the child gets SIGTERM, then SIGKILL after a grace period, and the run reports a
// time-out once the child is gone.
class RemoteScriptProcess : public QObject {
    Q_OBJECT
public:
    struct Timing {
        std::chrono::milliseconds limit{30000};
        std::chrono::milliseconds terminateGrace{2000};
    };

    struct Result {
        enum class Kind { Exited, FailedToStart, TimedOut };
        Kind kind = Kind::Exited;
        int exitCode = -1;        // Exited: the exit status; -1 when the child died from a signal
        QByteArray output;        // Exited: everything the child wrote to standard output
        bool overflowed = false;  // Exited: the output passed the size cap and was cut
        QString startError;       // FailedToStart: the platform's description
    };
    using Completion = std::function<void(const Result&)>;

    // Output beyond this is discarded; a reply is a small JSON object.
    static constexpr qsizetype outputLimit = 16 * 1024 * 1024;

    explicit RemoteScriptProcess(Timing timing, QObject* parent = nullptr);
    ~RemoteScriptProcess() override;

    // Starts the child; `done` is called exactly once, on this thread, unless the run is abandoned.
    // The object deletes itself once it has reported and its child is gone.
    void start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
               Completion done);

    // For an owner that goes away: the run continues to its end under the application object,
    // with the same time limit, reports nothing and deletes itself once the child is gone.
    void abandon();

private:
    void drain();
    void onDeadline();
    void onGraceOver();
    void onFinished(int exitCode, bool crashed);
    void finish(Result result);

    Timing timing_;
    QProcess* process_ = nullptr;
    QTimer deadline_;
    QTimer grace_;
    QByteArray output_;
    bool overflowed_ = false;
    bool timedOut_ = false;
    bool killed_ = false;
    bool reported_ = false;
    Completion done_;
};

}  // namespace norv
