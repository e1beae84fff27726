#include "tests/support/model/monitor_event_fixtures.h"
#include "ui/monitor/midi_monitor_view_model.h"
#include "ui/monitor/midi_monitor_table_model.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

using test::event;

std::vector<std::int64_t> sequences(const MidiMonitorFilter& filter, const std::vector<MidiMonitorEvent>& events) {
    std::vector<std::int64_t> result;
    for (const MidiMonitorEvent& e : filter.filteredEvents(events)) result.push_back(e.sequence);
    return result;
}

std::string label(const std::string& id) {
    if (id == "shared") return "Shared";
    if (id == "ipad") return "studio iPad";
    if (id == "blank") return "";
    if (id == "pixel") return "Pixel";
    return id;
}

const std::vector<MidiMonitorEvent> kEvents = {
    event(1, "ipad", "Keys", "instrument", "note", 1),
    event(2, "ipad", "Keys Surface", "surface", "cc", 16, 7, 127),
    event(3, "pixel", "Pads", "instrument", "pitch_bend", 3, 0, 8192),
    event(4, "shared", "Session", "other-role", "program_change", 3, 5, 0),
    event(5, "pixel", "Pads", "instrument", "channel_pressure", 2, 0, 64),
};

TEST(MidiMonitorFilter, EachFilterNarrowsAndKeepsBufferOrder) {
    MidiMonitorFilter filter;
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{1, 2, 3, 4, 5}));

    filter.role = "instrument";
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{1, 3, 5}));
    filter.role = "surface";  // a role that is neither shows only under "all"
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{2}));
    filter.role = "all";

    filter.deviceId = "shared";
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{4}));
    filter.deviceId = "all";

    filter.endpoint = "Pads";
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{3, 5}));
    filter.endpoint = "pads";  // exact, case-sensitive
    EXPECT_TRUE(sequences(filter, kEvents).empty());
    filter.endpoint = "all";

    filter.channel = 3;
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{3, 4}));
    filter.channel = 0;

    filter.families = MidiFamilySet::none();
    filter.families.insert(MidiMessageFamily::pressure);
    filter.families.insert(MidiMessageFamily::other);
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{4, 5}));
    filter.families = MidiFamilySet::none();
    EXPECT_TRUE(sequences(filter, kEvents).empty());
    filter.families = MidiFamilySet::all();

    filter.role = "instrument";
    filter.endpoint = "Pads";
    filter.channel = 2;
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{5}));
}

TEST(MidiMonitorFilter, SearchTrimsAndMatchesChannelText) {
    MidiMonitorFilter filter;
    filter.searchText = "  \n\t ";
    EXPECT_EQ(sequences(filter, kEvents).size(), kEvents.size());
    filter.searchText = "ch 3";
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{3, 4}));
    filter.searchText = "PITCH bend";
    EXPECT_EQ(sequences(filter, kEvents), (std::vector<std::int64_t>{3}));
}

TEST(MidiMonitorFilter, MenuListsAreSortedTheirOwnWay) {
    std::vector<MidiMonitorEvent> events = kEvents;
    events.push_back(event(6, "zeta-id", "beta", "instrument", "note", 1));
    events.push_back(event(7, "blank", "Alpha", "instrument", "note", 1));
    events.push_back(event(8, "pixel", "alpha", "instrument", "note", 1));
    events.push_back(event(9, "Apple-id", "Z", "instrument", "note", 1));

    // Labels ignoring case: "" < "Apple-id" < "Pixel" < "Shared" < "studio iPad" < "zeta-id".
    EXPECT_EQ(MidiMonitorViewModel::deviceIds(events, label),
              (std::vector<std::string>{"blank", "Apple-id", "pixel", "shared", "ipad", "zeta-id"}));
    // Plain character order: upper case before lower case.
    EXPECT_EQ(MidiMonitorFilter::endpoints(events),
              (std::vector<std::string>{"Alpha", "Keys", "Keys Surface", "Pads", "Session", "Z", "alpha", "beta"}));
}

// Composed and decomposed spellings of a name are one name, in the filters and in the menus.
TEST(MidiMonitorFilter, CanonicallyEquivalentNamesAreOneName) {
    const std::vector<MidiMonitorEvent> events = {
        event(1, "caf\u00e9-id", "Caf\u00e9 Pad", "instrument", "note", 1),
        event(2, "cafe\u0301-id", "Cafe\u0301 Pad", "instrument", "note", 1),
        event(3, "cafe-id", "Cafe Pad", "instrument", "note", 1),
    };
    MidiMonitorFilter filter;
    filter.endpoint = "Cafe\u0301 Pad";
    EXPECT_EQ(sequences(filter, events), (std::vector<std::int64_t>{1, 2}));
    filter.endpoint = MidiMonitorFilter::all;
    filter.deviceId = "caf\u00e9-id";
    EXPECT_EQ(sequences(filter, events), (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(MidiMonitorFilter::endpoints(events),
              (std::vector<std::string>{"Cafe Pad", "Caf\u00e9 Pad"}));
    EXPECT_EQ(MidiMonitorViewModel::deviceIds(events, label),
              (std::vector<std::string>{"cafe-id", "caf\u00e9-id"}));
}

TEST(MidiMonitorFilter, MenuTitles) {
    MidiMonitorFilter filter;
    EXPECT_EQ(MidiMonitorViewModel::deviceFilterTitle(filter, label), "All Devices");
    EXPECT_EQ(MidiMonitorViewModel::endpointFilterTitle(filter), "All Endpoints");
    EXPECT_EQ(MidiMonitorViewModel::channelFilterTitle(filter), "All Channels");
    EXPECT_EQ(MidiMonitorViewModel::messageTypeFilterTitle(filter), "All Messages");

    filter.deviceId = "shared";
    filter.endpoint = "Gone Endpoint";  // stays in force when no event carries it any more
    filter.channel = 7;
    EXPECT_EQ(MidiMonitorViewModel::deviceFilterTitle(filter, label), "Shared");
    EXPECT_EQ(MidiMonitorViewModel::endpointFilterTitle(filter), "Gone Endpoint");
    EXPECT_EQ(MidiMonitorViewModel::channelFilterTitle(filter), "Channel 7");

    filter.families = MidiFamilySet::none();
    EXPECT_EQ(MidiMonitorViewModel::messageTypeFilterTitle(filter), "No Messages");
    filter.families.insert(MidiMessageFamily::controlChange);
    EXPECT_EQ(MidiMonitorViewModel::messageTypeFilterTitle(filter), "CC / Timbre");
    filter.families.insert(MidiMessageFamily::notes);
    filter.families.insert(MidiMessageFamily::other);
    EXPECT_EQ(MidiMonitorViewModel::messageTypeFilterTitle(filter), "3 Message Types");

    EXPECT_EQ(MidiMonitorViewModel::refreshRateTitle(MidiMonitorRefreshRate::thirty), "30 Hz");
    EXPECT_EQ(MidiMonitorViewModel::routeSegments()[2].title, "MIDI Surface");
    EXPECT_EQ(MidiMonitorViewModel::routeSegments()[2].value, "surface");
}

TEST(MidiMonitorTableModel, ShowsNewestThousandMatchingNewestFirst) {
    std::vector<MidiMonitorEvent> events;
    for (int i = 1; i <= 1600; ++i) {
        events.push_back(event(i, i % 4 == 0 ? "shared" : "ipad", "Keys", i % 4 == 0 ? "surface" : "instrument",
                               "note", 1));
    }
    MidiMonitorFilter filter;
    filter.role = "instrument";  // 1200 of the 1600 match
    MidiMonitorTableModel model;
    model.refresh(events, filter, label);
    ASSERT_EQ(model.rowCount(), 1000);
    EXPECT_EQ(model.event(0).sequence, 1599);
    EXPECT_EQ(model.event(999).sequence, 267);
    EXPECT_EQ(model.index(0, MidiMonitorTableModel::deviceColumn).data().toString(), "studio iPad");
    EXPECT_EQ(model.index(0, MidiMonitorTableModel::routeColumn).data().toString(), "INSTRUMENT");

    filter.role = "surface";
    model.refresh(events, filter, label);
    ASSERT_EQ(model.rowCount(), 400);
    EXPECT_EQ(model.index(0, MidiMonitorTableModel::deviceColumn).data().toString(), "Shared");
    EXPECT_EQ(model.index(0, MidiMonitorTableModel::routeColumn).data().toString(), "MIDI SURFACE");
}

}  // namespace
}  // namespace norv

#include "ui/monitor/midi_monitor_cell_text.h"
#include "ui/monitor/midi_monitor_table_view.h"
#include "ui/theme/norv_theme.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QPaintEvent>
#include <QRawFont>
#include <QScreen>
#include <QScrollBar>
#include <QStaticText>
#include <QTest>

namespace norv {
namespace {

TEST(MidiMonitorTableView, ColumnsAndBadgeRole) {
    MidiMonitorTableView view;
    std::vector<MidiMonitorEvent> events = {test::event(1, "ipad", "Keys", "instrument", "pitch_bend", 1, 0, 8192),
                                            test::event(2, "ipad", "Keys", "surface", "pitch_bend", 1, 0, 8192)};
    view.monitorModel()->refresh(events, MidiMonitorFilter{}, label);
    ASSERT_EQ(view.model()->rowCount(), 2);
    EXPECT_EQ(view.horizontalHeader()->sectionSize(MidiMonitorTableModel::timeColumn), 88);
    EXPECT_EQ(view.model()->headerData(MidiMonitorTableModel::originColumn, Qt::Horizontal).toString(), "Origin");
    // Newest on top: the surface event carries no badge, the instrument one does.
    EXPECT_FALSE(view.model()->index(0, MidiMonitorTableModel::messageColumn).data(MidiMonitorTableModel::MpeRole).toBool());
    EXPECT_TRUE(view.model()->index(1, MidiMonitorTableModel::messageColumn).data(MidiMonitorTableModel::MpeRole).toBool());
    view.resize(900, 300);
    view.show();
    EXPECT_FALSE(view.grab().isNull());  // paints the badge without trouble

    // Each column keeps its own minimum width; the monospaced columns take the body size, the
    // time stamps their small one.
    QHeaderView* header = view.horizontalHeader();
    const int minimums[] = {88, 90, 96, 110, 34, 82, 70, 74, 120};
    for (int column = 0; column < MidiMonitorTableModel::originColumn; ++column) {
        header->resizeSection(column, 20);
        EXPECT_EQ(header->sectionSize(column), minimums[column]) << "column " << column;
    }
    view.resize(300, 300);  // the last column stretches, never below its minimum
    QCoreApplication::processEvents();
    EXPECT_GE(header->sectionSize(MidiMonitorTableModel::originColumn), 130);
    const auto fontSize = [&](int column) {
        return view.model()->index(0, column).data(Qt::FontRole).value<QFont>().pixelSize();
    };
    EXPECT_EQ(fontSize(MidiMonitorTableModel::timeColumn), 11);
    for (const int column : {MidiMonitorTableModel::channelColumn, MidiMonitorTableModel::dataColumn,
                             MidiMonitorTableModel::valueColumn, MidiMonitorTableModel::rawColumn})
        EXPECT_EQ(fontSize(column), NorvTheme::bodyFont().pixelSize()) << "column " << column;
}

// Three rows, the middle one's device and endpoint names given by the test: its cells draw
// within their own rectangles. Returns the painted rows.
QImage paintedRows(const std::string& device, const std::string& endpoint, const std::string& role = "instrument") {
    MidiMonitorTableView view;
    view.resize(1300, 120);
    const std::vector<MidiMonitorEvent> events = {event(1, "ipad", "Keys", "surface", "note", 1),
                                                  event(2, device, endpoint, role, "channel_pressure", 1),
                                                  event(3, "ipad", "Keys", "surface", "note", 1)};
    view.monitorModel()->refresh(events, MidiMonitorFilter{}, [](const std::string& id) { return id; });
    view.horizontalHeader()->resizeSection(MidiMonitorTableModel::messageColumn, 110);
    view.show();
    view.rowAt(0);
    return view.viewport()->grab(QRect(0, 0, view.viewport()->width(), 66)).toImage();
}

TEST(MidiMonitorTableView, NamesStayInTheirCellsAndACutMessageKeepsItsBadge) {
    const QImage plain = paintedRows("Studio", "WWWW");
    const QImage odd = paintedRows("Stu\u2028dio", "WWWW\u2028WWWW e\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301");
    const QRect above(0, 0, plain.width(), 22);
    const QRect below(0, 44, plain.width(), 22);
    EXPECT_EQ(odd.copy(above), plain.copy(above));
    EXPECT_EQ(odd.copy(below), plain.copy(below));
    // The device name on one line.
    MidiMonitorTableView geometry;
    const QRect device(geometry.columnViewportPosition(MidiMonitorTableModel::deviceColumn), 22, 120, 22);
    EXPECT_EQ(odd.copy(device), paintedRows("Stu dio", "WWWW").copy(device));
    // "Channel Pressure" and the badge do not fit in 110 points: the label is cut, the badge shows.
    const QRect message(geometry.columnViewportPosition(MidiMonitorTableModel::messageColumn), 22, 110, 22);
    EXPECT_NE(plain.copy(message), paintedRows("Studio", "WWWW", "surface").copy(message));
}

// Collects the regions a widget paints.
struct PaintedRegion : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
    QRegion painted;
};

// Three rows on top, three gone at the bottom, then two more on top with none gone: only the new
// rows are painted (and the vertical scroll bar, whose range grew), and the window shows what
// painting it all shows.
TEST(MidiMonitorTableView, RowsArrivingOnTopMoveThePaintedRows) {
    std::vector<MidiMonitorEvent> events;
    for (int i = 1; i <= 45; ++i)
        events.push_back(event(i, "ipad", "Keys", "instrument", i % 2 ? "note" : "pitch_bend", 1));
    MidiMonitorTableView view;
    view.resize(900, 300);
    view.monitorModel()->refresh({events.begin(), events.end() - 5}, MidiMonitorFilter{}, label);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.rowAt(0);               // runs the item view's delayed layout
    view.viewport()->repaint();  // and paints all it left
    const auto window = [&view] { return QGuiApplication::primaryScreen()->grabWindow(view.winId()).toImage(); };
    const auto arrive = [&](int first, int end, int rows) {
        PaintedRegion region, across;
        view.viewport()->installEventFilter(&region);
        view.horizontalScrollBar()->installEventFilter(&across);
        view.monitorModel()->refresh({events.begin() + first, events.begin() + end}, MidiMonitorFilter{}, label);
        view.rowAt(0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !region.painted.isEmpty(); }));
        QCoreApplication::processEvents();
        view.viewport()->removeEventFilter(&region);
        view.horizontalScrollBar()->removeEventFilter(&across);
        EXPECT_EQ(region.painted.boundingRect(), QRect(0, 0, view.viewport()->width(), rows * 22));
        EXPECT_TRUE(across.painted.isEmpty());
        EXPECT_EQ(view.verticalScrollBar()->maximum(), (end - first) * 22 - view.viewport()->height());
        const QImage moved = window();
        view.viewport()->repaint();
        EXPECT_EQ(moved, window());
    };
    arrive(3, 43, 3);
    arrive(3, 45, 2);
}

// Time stamps, values and bytes are set glyph by glyph without a layout; they must look exactly
// as their laid-out text, where the cell's text stood before. The system's monospace font and each
// monospaced family desktops carry that is installed here, whatever flags fontconfig gives them;
// a proportional font is laid out.
TEST(MidiMonitorCellText, TextsSetGlyphByGlyphLookAsTheirLayout) {
    std::vector<QFont> fonts{NorvTheme::systemFont(11, QFont::Normal, true)};
    for (const QString& family : {QStringLiteral("Noto Sans Mono"), QStringLiteral("DejaVu Sans Mono"),
                                 QStringLiteral("Liberation Mono")}) {
        if (!QFontDatabase::hasFamily(family)) continue;
        QFont font = fonts.front();
        font.setFamily(family);
        fonts.push_back(font);
    }
    const QFont proportional = NorvTheme::systemFont(11, QFont::Normal);
    EXPECT_FALSE(MidiMonitorCellText::glyphRun(QStringLiteral("1111"), proportional, QRawFont::fromFont(proportional)));
    for (const QFont& mono : fonts) {
        SCOPED_TRACE(QFontInfo(mono).family().toStdString());
        const QRect cell(3, 0, 140, 22);
        const auto paint = [&](const auto& draw) {
            QImage image(150, 22, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setPen(Qt::black);
            painter.setFont(mono);
            draw(painter);
            return image;
        };
        for (const QString& text : {QStringLiteral("12:34:56.789"), QStringLiteral("90 3C 64"),
                                    QStringLiteral("C#4 (61)"), QString::fromUtf8("+33.0% · 10833"),
                                    QString::fromUtf8("—")}) {
            SCOPED_TRACE(text.toStdString());
            EXPECT_TRUE(MidiMonitorCellText::glyphRun(text, mono, QRawFont::fromFont(mono)));
            QStaticText laidOut(text);
            laidOut.prepare(QTransform(), mono);
            const QImage expected = paint([&](QPainter& painter) {
                painter.drawStaticText(QPointF(cell.left(), (cell.height() - laidOut.size().height()) / 2), laidOut);
            });
            int width = 0;
            MidiMonitorCellText glyphs(text, mono, QRawFont::fromFont(mono));
            EXPECT_EQ(paint([&](QPainter& painter) { width = glyphs.draw(painter, cell, mono); }), expected);
            EXPECT_EQ(width, static_cast<int>(laidOut.size().width()));
        }
    }
}

}  // namespace
}  // namespace norv
