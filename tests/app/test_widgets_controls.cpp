#include "Controls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QSignalSpy>
#include <QTest>

namespace {

void LoseFocus(QWidget* widget, Qt::FocusReason reason)
{
    QFocusEvent leaving(QEvent::FocusOut, reason);
    QApplication::sendEvent(widget, &leaving);
}

void LeaveField(QWidget* widget)
{
    LoseFocus(widget, Qt::TabFocusReason);
}

TEST(SpinEdit, SettingAValuePutsItIntoTheRangeWhenTheEndsDiffer)
{
    const struct {
        int32_t Min, Max, Value;
        const char* Shown;
    } cases[] = {
        {0, 255, 17, "17"}, {0, 255, 300, "255"},    {0, 255, -1, "0"}, {1, 65535, 0, "1"},
        {5, 1000, 2, "5"},  {5, 1000, 1001, "1000"}, {0, 0, 7, "7"},    {0, 0, -3, "-3"},
    };
    for (const auto& c : cases) {
        TSpinEdit edit;
        edit.SetMinValue(c.Min);
        edit.SetMaxValue(c.Max);
        edit.SetValue(c.Value);
        EXPECT_EQ(edit.Text(), QString::fromLatin1(c.Shown)) << c.Min << ".." << c.Max << " <- " << c.Value;
    }
}

TEST(SpinEdit, ValueReadsTheTextOrFallsBackToTheLowerEnd)
{
    const struct {
        const char* Text;
        int32_t Value;
    } cases[] = {{"17", 17}, {"  42", 42}, {"$10", 16}, {"-5", -5}, {"abc", 5}, {"", 5}, {"12a", 5}};
    TSpinEdit edit;
    edit.SetMinValue(5);
    edit.SetMaxValue(1000);
    for (const auto& c : cases) {
        edit.SetText(QString::fromLatin1(c.Text));
        EXPECT_EQ(edit.Value(), c.Value) << c.Text;
    }
}

TEST(SpinEdit, LeavingTheFieldPutsANumberIntoTheRangeAndKeepsOtherText)
{
    const struct {
        int32_t Min, Max;
        const char* Typed;
        const char* Left;
    } cases[] = {
        {0, 255, "300", "255"}, {1, 65535, "0", "1"}, {0, 255, "abc", "abc"}, {0, 255, "", ""},
        {0, 255, "17", "17"},   {0, 0, "7", "7"},     {5, 1000, "4", "5"},
    };
    for (const auto& c : cases) {
        TSpinEdit edit;
        edit.SetMinValue(c.Min);
        edit.SetMaxValue(c.Max);
        edit.SetText(QString::fromLatin1(c.Typed));
        EXPECT_EQ(edit.Text(), QString::fromLatin1(c.Typed)) << "the text holds anything until left";
        LeaveField(&edit);
        EXPECT_EQ(edit.Text(), QString::fromLatin1(c.Left)) << c.Typed;
    }
}

TEST(SpinEdit, AnotherWindowOrAPopupTakingTheFocusLeavesTheTextAsTyped)
{
    for (const Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        TSpinEdit edit;
        edit.SetMinValue(1);
        edit.SetMaxValue(65535);
        edit.SetText(QStringLiteral("0"));
        LoseFocus(&edit, reason);
        EXPECT_EQ(edit.Text(), QStringLiteral("0")) << reason;
    }
}

TEST(SpinEdit, ArrowKeysStepWithinTheRange)
{
    TSpinEdit edit;
    edit.SetMinValue(0);
    edit.SetMaxValue(255);
    edit.SetValue(254);
    QTest::keyClick(&edit, Qt::Key_Up);
    QTest::keyClick(&edit, Qt::Key_Up);
    EXPECT_EQ(edit.Text(), QStringLiteral("255"));
    edit.SetValue(0);
    QTest::keyClick(&edit, Qt::Key_Down);
    EXPECT_EQ(edit.Text(), QStringLiteral("0"));

    TSpinEdit unlimited;  // 0..0 limits nothing
    QTest::keyClick(&unlimited, Qt::Key_Up);
    EXPECT_EQ(unlimited.Text(), QStringLiteral("1"));
}

TEST(SpinEdit, TypingIsCutAtMaxLengthAndEveryChangeIsAnnounced)
{
    TSpinEdit edit;
    edit.SetMinValue(1);
    edit.SetMaxValue(65535);
    edit.SetMaxLength(5);
    edit.SetText(QString());
    QSignalSpy changes(&edit, &TSpinEdit::Changed);
    QTest::keyClicks(&edit, QStringLiteral("1234567"));
    EXPECT_EQ(edit.Text(), QStringLiteral("12345"));
    EXPECT_EQ(changes.count(), 5);
    edit.SetValue(502);
    EXPECT_EQ(changes.count(), 6);
}

TEST(SpinEdit, TypingTakesOnlyWhatANumberInTheRangeCanHold)
{
    const struct {
        int32_t Min, Max;
        const char* Typed;
        const char* Shown;
    } cases[] = {
        {1, 65535, "5O2", "52"}, {1, 65535, "-5", "5"}, {1, 65535, "$1F", "1"},
        {-10, 10, "-5", "-5"},   {0, 0, "-3a", "-3"},   {0, 255, " 1 7", "17"},
    };
    for (const auto& c : cases) {
        TSpinEdit edit;
        edit.SetMinValue(c.Min);
        edit.SetMaxValue(c.Max);
        edit.SetText(QString());
        QTest::keyClicks(&edit, QString::fromLatin1(c.Typed));
        EXPECT_EQ(edit.Text(), QString::fromLatin1(c.Shown)) << c.Min << ".." << c.Max << " <- " << c.Typed;
    }
}

TEST(MaskEdit, DottedTextFillsTheFieldsAndUnfilledPositionsReadAsSpaces)
{
    const struct {
        const char* Given;
        const char* Shown;
    } cases[] = {
        {"10.0.0.1", "10 .0  .0  .1  "}, {"192.168.127.10", "192.168.127.10 "}, {"255.255.255.255", "255.255.255.255"},
        {"", "   .   .   .   "},         {"1..2", "1  .   .2  .   "},
    };
    for (const auto& c : cases) {
        TMaskEdit edit;
        edit.setText(QString::fromLatin1(c.Given));
        EXPECT_EQ(edit.Text(), QString::fromLatin1(c.Shown)) << c.Given;
    }
}

TEST(MaskEdit, TypingFillsTheFieldsAndADotMovesToTheNextOne)
{
    TMaskEdit edit;
    edit.setCursorPosition(0);
    QSignalSpy changes(&edit, &TMaskEdit::Changed);
    QTest::keyClicks(&edit, QStringLiteral("10.0.0.1x"));
    EXPECT_EQ(edit.Text(), QStringLiteral("10 .0  .0  .1  "));
    EXPECT_GT(changes.count(), 0);
}

TEST(MaskEdit, TypingOverAnAddressLeavesNoDigitsOfItBehindADot)
{
    const struct {
        const char* Before;
        int Position;
        const char* Typed;
        const char* After;
    } cases[] = {
        {"192.168.127.1", 0, "10.0.0.1", "10 .0  .0  .1  "}, {"192.168.127.1", 4, "5.", "192.5  .127.1  "},
        {"192.168.127.1", 0, ".7", "192.768.127.1  "},  // a dot at a field's start only moves on
        {"192.168.127.1", 1, ".", "1  .168.127.1  "},        {"192.168.127.1", 13, ".", "192.168.127.1  "},
    };
    for (const auto& c : cases) {
        TMaskEdit edit;
        edit.setText(QString::fromLatin1(c.Before));
        edit.setCursorPosition(c.Position);
        QTest::keyClicks(&edit, QString::fromLatin1(c.Typed));
        EXPECT_EQ(edit.Text(), QString::fromLatin1(c.After)) << c.Before << " @" << c.Position << " " << c.Typed;
    }
}

TEST(MaskEdit, EnteredByKeyboardTypingReplacesTheWholeAddress)
{
    const struct {
        const char* What;
        Qt::FocusReason Reason;
        const char* Typed;
        const char* After;
    } cases[] = {
        {"Tab, a shorter address", Qt::TabFocusReason, "10.1.1.1", "10 .1  .1  .1  "},
        {"Shift+Tab, a shorter address", Qt::BacktabFocusReason, "10.1.1.1", "10 .1  .1  .1  "},
        {"mnemonic, one digit", Qt::ShortcutFocusReason, "7", "7  .   .   .   "},
        {"Tab, a full address", Qt::TabFocusReason, "172016001002", "172.016.001.002"},
        {"click keeps its caret at the start", Qt::MouseFocusReason, "10.1.1.1", "10 .1  .1  .100"},
    };
    for (const auto& c : cases) {
        QWidget form;
        auto* before = new QLineEdit(&form);
        auto* edit = new TMaskEdit(&form);
        edit->setText(QStringLiteral("192.168.127.100"));
        edit->setCursorPosition(0);
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        before->setFocus();
        edit->setFocus(c.Reason);
        ASSERT_TRUE(edit->hasFocus()) << c.What;
        if (c.Reason == Qt::MouseFocusReason)
            edit->setCursorPosition(0);
        QTest::keyClicks(edit, QString::fromLatin1(c.Typed));
        EXPECT_EQ(edit->Text(), QString::fromLatin1(c.After)) << c.What;
    }
}

TEST(MaskEdit, KeysTheMaskRejectsAreNoChange)
{
    const struct {
        int Position;
        const char* Keys;
    } cases[] = {{15, "1"}, {0, "x"}, {4, "a-"}, {15, "."}};
    for (const auto& c : cases) {
        TMaskEdit edit;
        edit.setText(QStringLiteral("192.168.127.100"));
        edit.setCursorPosition(c.Position);
        QSignalSpy changes(&edit, &TMaskEdit::Changed);
        QTest::keyClicks(&edit, QString::fromLatin1(c.Keys));
        EXPECT_EQ(edit.Text(), QStringLiteral("192.168.127.100")) << c.Keys;
        EXPECT_EQ(changes.count(), 0) << c.Position << " " << c.Keys;
    }

    TMaskEdit edit;
    edit.setText(QStringLiteral("192.168.127.100"));
    edit.setCursorPosition(0);
    QSignalSpy changes(&edit, &TMaskEdit::Changed);
    QTest::keyClick(&edit, Qt::Key_Delete);
    EXPECT_EQ(changes.count(), 1) << "a digit removed is an edit";
}

}  // namespace
