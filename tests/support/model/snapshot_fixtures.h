#pragma once
// Snapshots for the page tests, read from the JSON fixtures.

#include "model/admin_snapshot.h"

#include <string>

namespace norv::testing {

// tests/fixtures/<relativePath>, decoded.
AdminSnapshot loadSnapshot(const std::string& relativePath);
// The snapshot with several devices in different states.
AdminSnapshot fullSnapshot();
// The snapshot picked for the page rules (tests/fixtures/pages10/README.md).
AdminSnapshot edgeSnapshot();
const BridgeDevice& deviceById(const AdminSnapshot& snapshot, const std::string& id);

}  // namespace norv::testing

#include <QString>
#include <ostream>

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
