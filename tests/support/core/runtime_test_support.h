#pragma once

#include <QByteArray>
#include <QString>

namespace norv::test {

// Writes a file, creating its folders, with the given permission bits.
void writeFile(const QString& path, const QByteArray& content, int mode = 0644);

// The runtime fingerprint computed by an independent program (Python's hashlib).
QString independentFingerprint(const QString& root);

// A minimal runtime tree: tools/run_bridge.py and an executable interpreter file.
void writeMinimalRuntime(const QString& root);

}  // namespace norv::test
