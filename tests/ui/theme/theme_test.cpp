// Theme rules that a wrong branch would break: button looks, symbol set, brand images.
#include "ui/theme/compact_device_row.h"
#include "ui/theme/norv_brand.h"
#include "ui/theme/norv_button_style.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace norv {
namespace {

TEST(NorvButtonStyle, FillTextAndOpacityFollowRoleEnabledAndPressed) {
    // Enabled: destructive wins over prominent; filled buttons use ink text.
    EXPECT_EQ(NorvButtonStyle::look(false, false, true, false),
              (NorvButtonLook{NorvTheme::panelRaised(), NorvTheme::primary(), 1.0}));
    EXPECT_EQ(NorvButtonStyle::look(true, false, true, false),
              (NorvButtonLook{NorvTheme::accent(), NorvTheme::ink(), 1.0}));
    EXPECT_EQ(NorvButtonStyle::look(false, true, true, false),
              (NorvButtonLook{NorvTheme::red(), NorvTheme::ink(), 1.0}));
    EXPECT_EQ(NorvButtonStyle::look(true, true, true, false).fill, NorvTheme::red());
    EXPECT_DOUBLE_EQ(NorvButtonStyle::look(true, false, true, true).opacity, 0.72);

    // Disabled: every role looks like a plain button at 0.45, pressed or not.
    const NorvButtonLook off{NorvTheme::panelRaised(), NorvTheme::primary(), 0.45};
    for (bool prominent : {false, true})
        for (bool destructive : {false, true})
            for (bool pressed : {false, true})
                EXPECT_EQ(NorvButtonStyle::look(prominent, destructive, false, pressed), off)
                    << prominent << destructive << pressed;
}

TEST(NorvButtonStyle, StyleSheetDrawsMarkedButtonsWithTheirFill) {
    QWidget host;
    host.setStyleSheet(NorvButtonStyle::styleSheet());
    auto* plain = new QPushButton(QStringLiteral("Plain"), &host);
    auto* prominent = new QPushButton(QStringLiteral("Go"), &host);
    auto* destructive = new QPushButton(QStringLiteral("Stop"), &host);
    NorvButtonStyle::apply(prominent, true);
    NorvButtonStyle::apply(destructive, true, true);
    host.resize(300, 60);
    host.ensurePolished();
    const auto centreColour = [](QPushButton* button) {
        button->resize(80, 44);
        const QImage image = button->grab().toImage();
        return QColor(image.pixel(4, image.height() / 2));
    };
    EXPECT_EQ(centreColour(plain), NorvTheme::panelRaised());
    EXPECT_EQ(centreColour(prominent), NorvTheme::accent());
    EXPECT_EQ(centreColour(destructive), NorvTheme::red());
    EXPECT_GE(prominent->sizeHint().height(), 44);
}

TEST(NorvTheme, WarningYellowIsTheAccentValue) {
    EXPECT_EQ(NorvTheme::yellow(), NorvTheme::accent());
    EXPECT_EQ(NorvTheme::css(NorvTheme::teal()), QStringLiteral("#26a69a"));
    EXPECT_EQ(NorvTheme::css(NorvTheme::red(), 0.45), QStringLiteral("rgba(255, 85, 90, 115)"));
}

TEST(NorvSymbols, EverySymbolTheWindowUsesIsDrawnAndUnknownNamesAreBlank) {
    const QStringList names{
        "rectangle.grid.2x2", "network", "waveform", "ipad.and.iphone", "slider.horizontal.3",
        "waveform.path.ecg", "arrow.triangle.branch", "text.alignleft", "lock", "exclamationmark.triangle",
        "checkmark.circle", "xmark", "arrow.clockwise", "play.fill", "stop.fill", "cable.connector",
        "cable.connector.slash", "point.3.connected.trianglepath.dotted", "ipad", "rectangle.portrait", "display",
        // the pages
        "exclamationmark.triangle.fill", "ipad.and.arrow.forward", "arrow.up.forward.app", "wifi", "wifi.slash",
        "antenna.radiowaves.left.and.right", "cable.connector.horizontal", "doc.on.doc", "lock.shield", "pianokey",
        "arrow.right", "circle.dashed", "doc.text.magnifyingglass", "line.3.horizontal.decrease",
        "line.3.horizontal.decrease.circle", "pause.circle", "point.3.filled.connected.trianglepath.dotted",
        "record.circle", "record.circle.fill", "square.and.arrow.up", "trash", "checkmark", "circle"};
    for (const QString& name : names) {
        ASSERT_TRUE(NorvSymbols::has(name)) << name.toStdString();
        const QImage image =
            NorvSymbols::pixmap(name, NorvTheme::accent(), 24).toImage().convertToFormat(QImage::Format_ARGB32);
        bool inked = false;
        for (int y = 0; y < image.height() && !inked; ++y)
            for (int x = 0; x < image.width() && !inked; ++x)
                if (qAlpha(image.pixel(x, y)) > 200) {
                    inked = true;
                    const QColor c = QColor::fromRgba(image.pixel(x, y));
                    EXPECT_NEAR(c.red(), 255, 2) << name.toStdString();
                    EXPECT_NEAR(c.green(), 145, 2) << name.toStdString();
                }
        EXPECT_TRUE(inked) << name.toStdString();
    }
    EXPECT_FALSE(NorvSymbols::has(QStringLiteral("no.such.symbol")));
    const QImage blank = NorvSymbols::pixmap(QStringLiteral("no.such.symbol"), Qt::white, 16).toImage();
    EXPECT_EQ(blank.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(blank.pixel(8, 8)), 0);

    SymbolLabel label(QStringLiteral("lock"), Qt::white, 14);
    EXPECT_EQ(label.property("symbolName").toString(), QStringLiteral("lock"));
}

TEST(NorvBrand, MissingResourcesGiveNoAppIconAndAnEmptyMenuBarTemplate) {
    QTemporaryDir empty;
    EXPECT_FALSE(NorvBrand::loadAppIcon(empty.path()).has_value());
    const QIcon menuIcon = NorvBrand::loadMenuBarIcon(empty.path());
    EXPECT_TRUE(menuIcon.isMask());
    EXPECT_EQ(menuIcon.availableSizes().value(0), QSize(18, 18));

    // A file that is not an image counts as missing.
    QFile junk(QDir(empty.path()).filePath(QStringLiteral("NorvAppIcon.svg")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not svg");
    junk.close();
    EXPECT_FALSE(NorvBrand::loadAppIcon(empty.path()).has_value());

    // The shipped artwork loads from the build's resource folder.
    const QString shipped = QStringLiteral(NORV_BINARY_DIR "/share/norv-bridge");
    EXPECT_TRUE(NorvBrand::loadAppIcon(shipped).has_value());
    const QImage drawn = NorvBrand::loadMenuBarIcon(shipped).pixmap(18, 18).toImage();
    bool inked = false;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) inked = inked || qAlpha(drawn.pixel(x, y)) > 0;
    EXPECT_TRUE(inked);
}

TEST(PageComponents, EmptyTextsHideTheirLinesButKeepSizes) {
    PageHeader twoLines(QStringLiteral("NORV BRIDGE"), QStringLiteral("Overview"), QString());
    EXPECT_EQ(twoLines.subtitleLabel(), nullptr);
    PageHeader blankSubtitle(QStringLiteral("NORV BRIDGE"), QStringLiteral("Overview"), QStringLiteral(" "));
    ASSERT_NE(blankSubtitle.subtitleLabel(), nullptr);

    EmptyState bare(QStringLiteral("ipad"), QStringLiteral("No devices"), QString());
    EXPECT_EQ(bare.detailLabel(), nullptr);
    bare.show();
    EXPECT_GE(bare.height(), 150);
    EXPECT_EQ(bare.symbolLabel()->symbolName(), QStringLiteral("ipad"));

    StatusCard card(QStringLiteral("Bridge"), QString(200, QLatin1Char('x')), QStringLiteral("detail"),
                    QStringLiteral("network"), NorvTheme::teal());
    card.resize(300, 100);
    card.show();
    EXPECT_EQ(card.symbolLabel()->parentWidget()->size(), QSize(34, 34));
    EXPECT_GE(card.height(), 88);
}

MidiEndpoint endpoint(const std::string& name, std::int64_t source) {
    MidiEndpoint e;
    e.role = "instrument";
    e.name = name;
    e.sourceUniqueId = source;
    return e;
}

TEST(CompactDeviceRow, NamesEachPhysicalPortOnceJoinedByTwoSpaces) {
    BridgeDevice device;
    device.label = "Studio iPad";
    device.platform = "iOS";
    device.connected = false;
    EXPECT_EQ(CompactDeviceRow::endpointLine(device), QString());

    device.endpoints = {endpoint("A", 1), endpoint("A out", 1), endpoint("B", 2), endpoint("C", 3)};
    ASSERT_EQ(physicalEndpoints(device).size(), 3u);
    EXPECT_EQ(physicalEndpoints(device)[0].name, "A") << "the first of a shared source id wins";
    EXPECT_EQ(CompactDeviceRow::endpointLine(device), QStringLiteral("A  B  C"));

    CompactDeviceRow row(device);
    EXPECT_EQ(row.symbolLabel()->symbolName(), QStringLiteral("ipad"));
    EXPECT_EQ(row.transportLabel()->palette().color(QPalette::WindowText), NorvTheme::secondary());
}

}  // namespace
}  // namespace norv
