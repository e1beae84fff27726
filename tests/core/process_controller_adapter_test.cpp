// The store's engine seam over the real supervisor: what the pages read and the export's outcome
// arrive as the store's plain values.
#include "core/process_controller_adapter.h"
#include "tests/support/core/engine_test_support.h"

namespace norv {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

class ProcessControllerAdapterTest : public test::EngineTest {
protected:
    // The export's error text once it arrives; nothing on success.
    std::optional<QString> exportWith(ProcessControllerAdapter& engine, const QString& destination) {
        bool finished = false;
        std::optional<QString> outcome;
        engine.exportDiagnostics(destination, [&](std::optional<QString> error) {
            finished = true;
            outcome = std::move(error);
        });
        EXPECT_TRUE(waitUntil([&] { return finished; }, 15s));
        return outcome;
    }
};

TEST_F(ProcessControllerAdapterTest, LogsFollowTheBufferAndExportsReportTheirErrorText) {
    ProcessControllerAdapter engine(store, options());
    int changes = 0;
    engine.setChangeHandler([&] { ++changes; });
    EXPECT_FALSE(engine.lastError());
    EXPECT_FALSE(engine.identityFingerprint());
    engine.controller().diagnosticBuffer().appendLine(QStringLiteral("one line"));
    engine.refreshLogs();
    EXPECT_EQ(engine.logLines(), QStringList{QStringLiteral("one line")});
    EXPECT_EQ(changes, 1);

    EXPECT_FALSE(exportWith(engine, temp.filePath(QStringLiteral("out.zip"))));
    EXPECT_EQ(exportWith(engine, temp.filePath(QStringLiteral("missing/folder/out.zip"))),
              QStringLiteral("Could not export diagnostics. Check the destination folder."));
}

}  // namespace
}  // namespace norv
