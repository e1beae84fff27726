#include "ui/routes/routing_policy_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace norv {
namespace {

TEST(RoutingPolicyEditor, EditsApplyAndTwoPressClear) {
    std::vector<std::function<void()>> lapses;
    ClearConfirmation confirmation(
        [&](std::chrono::milliseconds, QObject*, std::function<void()> action) { lapses.push_back(action); },
        ClearConfirmation::kLapse);
    RoutingPolicyEditor editor(&confirmation);
    QSignalSpy applied(&editor, &RoutingPolicyEditor::applyRequested);
    QSignalSpy cleared(&editor, &RoutingPolicyEditor::clearRequested);

    DeviceRoutingPolicy engine;
    engine.disconnectGraceSeconds = 7.5;
    editor.startFrom(engine, true);
    EXPECT_EQ(editor.statusLabel()->text(), "Policy applied");
    EXPECT_FALSE(editor.applyButton()->isEnabled());

    editor.automaticSwitch()->click();  // off: the picker is disabled, Apply enabled
    EXPECT_FALSE(editor.strategyPicker()->isEnabled());
    EXPECT_TRUE(editor.applyButton()->isEnabled());
    EXPECT_EQ(editor.statusLabel()->text(), "Unapplied changes");
    editor.applyButton()->click();
    ASSERT_EQ(applied.count(), 1);
    const auto sent = applied.at(0).at(0).value<DeviceRoutingPolicy>();
    EXPECT_FALSE(sent.autoArmEnabled);
    EXPECT_EQ(sent.disconnectGraceSeconds, 7.5);

    // A request in flight disables the whole editor; a snapshot refresh changes no draft.
    editor.followEngine(engine, false);
    EXPECT_FALSE(editor.automaticSwitch()->isEnabled());
    EXPECT_FALSE(editor.applyButton()->isEnabled());
    EXPECT_FALSE(editor.clearButton()->isEnabled());
    EXPECT_EQ(editor.statusLabel()->text(), "Unapplied changes");

    DeviceRoutingPolicy confirmed = sent;
    editor.followEngine(confirmed, true);
    EXPECT_EQ(editor.statusLabel()->text(), "Policy applied");
    EXPECT_FALSE(editor.automaticSwitch()->isChecked());

    EXPECT_EQ(editor.clearButton()->text(), "Clear assignments");
    editor.clearButton()->click();
    EXPECT_EQ(editor.clearButton()->text(), "Confirm clear");
    EXPECT_EQ(cleared.count(), 0);
    editor.clearButton()->click();
    EXPECT_EQ(cleared.count(), 1);
    EXPECT_EQ(editor.clearButton()->text(), "Clear assignments");
    ASSERT_EQ(lapses.size(), 1u);
}

}  // namespace
}  // namespace norv
