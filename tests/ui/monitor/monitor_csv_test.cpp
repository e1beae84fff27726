#include "tests/support/model/monitor_event_fixtures.h"
#include "tests/support/user_locale.h"
#include "ui/monitor/midi_monitor_csv_document.h"
#include "ui/monitor/midi_monitor_table_model.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <ctime>
#include <unistd.h>

namespace norv {
namespace {

// Sets TZ for the test process and puts the old value back afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : had_(qEnvironmentVariableIsSet("TZ")), old_(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone() {
        if (had_) {
            qputenv("TZ", old_);
        } else {
            qunsetenv("TZ");
        }
        tzset();
    }

private:
    bool had_;
    QByteArray old_;
};

MidiMonitorCSVDocument::DeviceLabels snapshotLabels(const AdminSnapshot& snapshot) {
    MidiMonitorCSVDocument::DeviceLabels labels;
    for (const BridgeDevice& device : snapshot.devices) labels.emplace(device.deviceId, device.label);
    return labels;
}

TEST(MidiMonitorCSVDocument, FixtureEventsByteForByteInTwoZones) {
    const AdminSnapshot snapshot = test::fullSnapshot();
    {
        ScopedTimeZone zone("UTC0");
        const MidiMonitorCSVDocument document(snapshot.midiEvents, snapshotLabels(snapshot));
        EXPECT_EQ(document.csvText(), test::readFixture("ui/monitor_export_utc.csv"));
    }
    {
        ScopedTimeZone zone("XST-5:45");
        const MidiMonitorCSVDocument document(snapshot.midiEvents, snapshotLabels(snapshot));
        EXPECT_EQ(document.csvText(), test::readFixture("ui/monitor_export_plus0545.csv"));
    }
}

// The file is the same whatever the user's locale: "+50.0%", never "+50,0%" (which would also
// have to be quoted).
TEST(MidiMonitorCSVDocument, FixtureEventsByteForByteInTheCAndAGermanLocale) {
    const AdminSnapshot snapshot = test::fullSnapshot();
    ScopedTimeZone zone("UTC0");
    for (const char* name : {"C.UTF-8", "de_DE.UTF-8"}) {
        test::UserLocale locale(name);
        if (!locale.available()) GTEST_SKIP() << test::localeMissing(name);
        const MidiMonitorCSVDocument document(snapshot.midiEvents, snapshotLabels(snapshot));
        EXPECT_EQ(document.csvText(), test::readFixture("ui/monitor_export_utc.csv")) << name;
    }
}

TEST(MidiMonitorCSVDocument, EmptyListIsTheHeaderLine) {
    const MidiMonitorCSVDocument document({}, {});
    EXPECT_EQ(document.csvText(),
              "timestamp,local_time,sequence,device,device_id,route,endpoint,message,kind,channel,data,number,value,"
              "display_value,raw_hex,origin\n");
}

TEST(MidiMonitorCSVDocument, QuotesCommasQuotesAndLineBreaks) {
    EXPECT_EQ(MidiMonitorCSVDocument::quoted("Pad, left"), "\"Pad, left\"");
    EXPECT_EQ(MidiMonitorCSVDocument::quoted("6\" tablet"), "\"6\"\" tablet\"");
    EXPECT_EQ(MidiMonitorCSVDocument::quoted("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(MidiMonitorCSVDocument::quoted("cr\rhere"), "\"cr\rhere\"");
    EXPECT_EQ(MidiMonitorCSVDocument::quoted("tab\there"), "tab\there");
    EXPECT_EQ(MidiMonitorCSVDocument::quoted(" lead"), " lead");

    ScopedTimeZone zone("UTC0");
    MidiMonitorEvent e = test::event(3, "tab-1", "Pad, left", "instrument", "cc", 1, 1, 2);
    e.timestamp = 0.0;
    e.bytes = {};
    e.source = "say \"hi\"";
    const MidiMonitorCSVDocument document({e}, {{"tab-1", "6\" tablet\nleft"}});
    EXPECT_EQ(document.csvText().substr(document.csvText().find('\n') + 1),
              "1970-01-01T00:00:00.000Z,00:00:00.000,3,\"6\"\" tablet\nleft\",tab-1,instrument,\"Pad, left\","
              "Control Change,cc,1,CC 1,1,2,2,,\"say \"\"hi\"\"\"\n");
}

// Names and words from devices and the engine that a spreadsheet would run as a formula are
// written as text; the numbers and values this application formats keep their signs.
TEST(MidiMonitorCSVDocument, FreeTextThatSpreadsheetsWouldRunIsWrittenAsText) {
    ScopedTimeZone zone("UTC0");
    MidiMonitorEvent e = test::event(7, "@pad", "=HYPERLINK(\"http://x\",\"go\")", "-surface", "+bend", 2, -3, 12287);
    e.timestamp = 0.0;
    e.bytes = {};
    e.source = "\tcmd";
    const std::string value = e.valueLabel();
    const MidiMonitorCSVDocument document({e}, {{"@pad", "+SUM(1,2)"}});
    EXPECT_EQ(document.csvText().substr(document.csvText().find('\n') + 1),
              "1970-01-01T00:00:00.000Z,00:00:00.000,7,\"'+SUM(1,2)\",'@pad,'-surface,"
              "\"'=HYPERLINK(\"\"http://x\"\",\"\"go\"\")\",'+bend,'+bend,2,-3,-3,12287," +
                  value + ",,'\tcmd\n");
    EXPECT_EQ(MidiMonitorCSVDocument::asText("\r=1+1"), "'\r=1+1");
    EXPECT_EQ(MidiMonitorCSVDocument::asText("Studio iPad - left"), "Studio iPad - left");

    MidiMonitorEvent bend = test::event(8, "pad", "Norv Out", "instrument", "pitch_bend", 1, 0, 12287);
    const std::string bendLine = MidiMonitorCSVDocument({bend}, {}).csvText();
    EXPECT_NE(bendLine.find(",+"), std::string::npos) << bendLine;  // "+50.0%  ·  12287" stays
    EXPECT_EQ(bendLine.find("'"), std::string::npos) << bendLine;
}

// The table's Time column and both CSV time columns show one millisecond, cut as date
// formatters cut it.
TEST(MidiMonitorCSVDocument, TimeColumnsAndTheTableShareOneMillisecond) {
    ScopedTimeZone zone("UTC0");
    MidiMonitorEvent late = test::event(1, "a", "e", "instrument", "note", 1);
    late.timestamp = 59.9996;  // stays within the second and the minute
    MidiMonitorEvent before = test::event(2, "a", "e", "instrument", "note", 1);
    before.timestamp = -0.0004;  // just before the epoch
    MidiMonitorEvent negative = test::event(3, "a", "e", "instrument", "note", 1);
    negative.timestamp = -1.25;
    MidiMonitorEvent binary = test::event(4, "a", "e", "instrument", "note", 1);
    binary.timestamp = 1.001;  // not exact in binary: still .001
    MidiMonitorEvent far = test::event(5, "a", "e", "instrument", "note", 1);
    far.timestamp = 2e12;  // past the year 9999: no time in any column
    const std::vector<MidiMonitorEvent> events{late, before, negative, binary, far};
    const MidiMonitorCSVDocument document(events, {});
    const std::string& text = document.csvText();
    EXPECT_NE(text.find("\n,,5,"), std::string::npos) << text;
    EXPECT_NE(text.find("\n1970-01-01T00:00:59.999Z,00:00:59.999,1,"), std::string::npos);
    EXPECT_NE(text.find("\n1969-12-31T23:59:59.999Z,23:59:59.999,2,"), std::string::npos);
    EXPECT_NE(text.find("\n1969-12-31T23:59:58.750Z,23:59:58.750,3,"), std::string::npos);
    EXPECT_NE(text.find("\n1970-01-01T00:00:01.001Z,00:00:01.001,4,"), std::string::npos);

    MidiMonitorTableModel table;
    table.refresh(events, MidiMonitorFilter{}, [](const std::string& id) { return id; });
    const std::map<std::int64_t, QString> shown = {{1, "00:00:59.999"}, {2, "23:59:59.999"},
                                                   {3, "23:59:58.750"}, {4, "00:00:01.001"}, {5, ""}};
    ASSERT_EQ(table.rowCount(), 5);
    for (int row = 0; row < table.rowCount(); ++row)
        EXPECT_EQ(table.index(row, MidiMonitorTableModel::timeColumn).data().toString(),
                  shown.at(table.event(row).sequence));
}

TEST(MidiMonitorCSVDocument, ReadingBackAcceptsOnlyUtf8) {
    const QByteArray text = QByteArray("timestamp\n\xc2\xb7 \xe2\x80\x94\n");
    const auto document = MidiMonitorCSVDocument::read(text);
    ASSERT_TRUE(document.has_value());
    EXPECT_EQ(document->fileContents(), text);

    EXPECT_FALSE(MidiMonitorCSVDocument::read(QByteArray("ok\xff\xfe")).has_value());
    EXPECT_FALSE(MidiMonitorCSVDocument::read(QByteArray("\xc2")).has_value());  // cut sequence
    EXPECT_FALSE(MidiMonitorCSVDocument::read(std::nullopt).has_value());
}

TEST(MidiMonitorCSVDocument, AtomicWriteReplacesOrLeavesTheOldFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents\n");
    }
    const MidiMonitorCSVDocument document({test::event(1, "a", "e", "instrument", "note", 1)}, {});
    EXPECT_EQ(document.writeAtomically(path), std::nullopt);
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), document.fileContents());
    written.close();

    // A folder that cannot take the temporary file: the failure is reported, the file stays.
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    const QString lockedFile = locked + QStringLiteral("/log.csv");
    {
        QFile old(lockedFile);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("keep me\n");
    }
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const auto error = document.writeAtomically(lockedFile);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (::geteuid() != 0) {
        EXPECT_TRUE(error.has_value());
        QFile kept(lockedFile);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("keep me\n"));
    }
    EXPECT_TRUE(document.writeAtomically(dir.filePath(QStringLiteral("missing/folder/log.csv"))).has_value());
}

TEST(MidiMonitorCSVDocument, ProposedNameUsesLocalTime) {
    ScopedTimeZone zone("XST-5:45");
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(1765269000125LL, Qt::UTC);
    EXPECT_EQ(MidiMonitorCSVDocument::exportFilename(moment), "Norv-MIDI-MPE-2025-12-09-141500.csv");
}

}  // namespace
}  // namespace norv

#include "core/dialog_service.h"
#include "ui/monitor/midi_monitor_export.h"

namespace norv {
namespace {

struct ScriptedDialogs : DialogService {
    std::optional<QString> savePath;
    FilePanelRequest lastRequest;
    QStringList alerts;
    bool confirm(const ConfirmationRequest&) override { return false; }
    void alert(const QString& message, const QString& informative) override { alerts << message + "|" + informative; }
    std::optional<QString> choosePathToOpen(const FilePanelRequest&) override { return std::nullopt; }
    std::optional<QString> choosePathToSave(const FilePanelRequest& request) override {
        lastRequest = request;
        return savePath;
    }
};

TEST(MidiMonitorExport, CancelWriteAndFailure) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ScriptedDialogs dialogs;
    const std::vector<MidiMonitorEvent> events = {test::event(1, "a", "e", "instrument", "note", 1)};
    const QDateTime now = QDateTime::currentDateTime();

    EXPECT_EQ(MidiMonitorExport::run(dialogs, events, {}, now), MidiMonitorExport::Outcome::cancelled);
    EXPECT_TRUE(dialogs.lastRequest.proposedName.startsWith("Norv-MIDI-MPE-"));
    EXPECT_TRUE(dialogs.alerts.isEmpty());

    dialogs.savePath = dir.filePath(QStringLiteral("out.csv"));
    EXPECT_EQ(MidiMonitorExport::run(dialogs, events, {}, now), MidiMonitorExport::Outcome::written);
    EXPECT_TRUE(QFile::exists(*dialogs.savePath));
    EXPECT_TRUE(dialogs.alerts.isEmpty());

    dialogs.savePath = dir.filePath(QStringLiteral("no/such/folder/out.csv"));
    EXPECT_EQ(MidiMonitorExport::run(dialogs, events, {}, now), MidiMonitorExport::Outcome::failed);
    ASSERT_EQ(dialogs.alerts.size(), 1);
    EXPECT_TRUE(dialogs.alerts[0].startsWith("Export failed|"));
    EXPECT_EQ(MidiMonitorExport::failureMessage({}), "The monitor log could not be exported.");
}

}  // namespace
}  // namespace norv
