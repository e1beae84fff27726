#include "tests/support/core/runtime_test_support.h"

#include "core/bridge_runtime_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace norv::test {

void writeFile(const QString& path, const QByteArray& content, int mode) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(content);
    file.close();
    ::chmod(QFile::encodeName(path).constData(), mode_t(mode));
}

QString independentFingerprint(const QString& root) {
    static const char* program = R"(
import hashlib, os, sys
root = sys.argv[1]
files = []
for folder, dirs, names in os.walk(root):
    for name in names:
        path = os.path.join(folder, name)
        files.append((os.path.relpath(path, root).encode(), path))
total = hashlib.sha256()
for relative, path in sorted(files):
    total.update(relative + b"\0")
    with open(path, "rb") as f:
        total.update(hashlib.sha256(f.read()).digest())
print(total.hexdigest())
)";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(program), root});
    if (!python.waitForFinished(10000)) return {};
    return QString::fromLatin1(python.readAllStandardOutput()).trimmed();
}

void writeMinimalRuntime(const QString& root) {
    writeFile(root + QStringLiteral("/tools/run_bridge.py"), "print('engine')\n");
    writeFile(root + QStringLiteral("/PythonRuntime/") + QLatin1String(BridgeRuntimeFiles::kProcessor) +
                  QStringLiteral("/bin/python3.13"),
              "#!/bin/false\n", 0755);
}

}  // namespace norv::test
