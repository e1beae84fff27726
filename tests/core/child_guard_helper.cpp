// A parent for the child set-up test: starts `sleep 600` as the application starts its children,
// prints the child's process id and waits (at most a minute) to be killed.
#include "core/process_hardening.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QProcess child;
    norv::ProcessHardening::guardChild(child);
    child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("600")});
    if (!child.waitForStarted(5000)) return 1;
    std::printf("%lld\n", static_cast<long long>(child.processId()));
    std::fflush(stdout);
    QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(2); });
    return QCoreApplication::exec();
}
