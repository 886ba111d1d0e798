#include "ExpEthernetSettings_Win.h"
#include "Settings_Win.h"
#include "WidgetsTestSupport.h"

#include <gtest/gtest.h>

#include <QTest>

namespace {

const QString Caption = QStringLiteral("KorvelService");

// One run of a dialog's Ok: the texts typed, then the one message expected (empty: none, and the
// dialog is accepted).
struct TOkCase {
    const char* Text1;
    const char* Text2;
    const char* Message;
};

void PrintTo(const TOkCase& c, std::ostream* out)
{
    *out << '"' << c.Text1 << "\" \"" << c.Text2 << '"';
}

void ExpectOkOutcome(TEditForm& window, const TOkCase& c)
{
    TMessageBoxRecorder boxes;
    window.Button1Click();
    const QString expected = QString::fromUtf8(c.Message);
    if (expected.isEmpty()) {
        EXPECT_TRUE(boxes.Shown.empty()) << boxes.Shown.front().Text.toStdString();
        EXPECT_TRUE(window.Accepted);
        return;
    }
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, expected);
    EXPECT_EQ(boxes.Shown[0].Caption, Caption);
    EXPECT_EQ(boxes.Shown[0].Flags, MB::IconError);
    EXPECT_FALSE(window.Accepted);
}

class ExpEthernetOk : public testing::TestWithParam<TOkCase> {};

TEST_P(ExpEthernetOk, ChecksTheTimeOutThenTheConnectionTime)
{
    const TOkCase& c = GetParam();
    TExpEthernetSettingsWindow window;
    window.SpinEdit1->SetText(QString::fromUtf8(c.Text1));
    window.SpinEdit2->SetText(QString::fromUtf8(c.Text2));
    ExpectOkOutcome(window, c);
    EXPECT_EQ(window.SpinEdit1->Text(), QString::fromUtf8(c.Text1)) << "the operator's text is kept";
}

INSTANTIATE_TEST_SUITE_P(
    Widgets, ExpEthernetOk,
    testing::Values(
        TOkCase{"4", "100", "Недопустимое значение таймаута ModbusTCP. Допускаются значения 5..1000"},
        TOkCase{"1001", "100", "Недопустимое значение таймаута ModbusTCP. Допускаются значения 5..1000"},
        TOkCase{"", "100", "Недопустимое значение таймаута ModbusTCP. Допускаются значения 5..1000"},
        TOkCase{"4", "1001", "Недопустимое значение таймаута ModbusTCP. Допускаются значения 5..1000"},
        TOkCase{"100", "1001", "Недопустимое значение времени установления соединения. Допускаются значения 5..1000"},
        TOkCase{"100", "x", "Недопустимое значение времени установления соединения. Допускаются значения 5..1000"},
        TOkCase{"5", "1000", ""}, TOkCase{"1000", "5", ""}));

class SettingsOk : public testing::TestWithParam<TOkCase> {};

TEST_P(SettingsOk, ChecksThePortThenTheAddress)
{
    const TOkCase& c = GetParam();
    TSettingsWindow window;
    window.MaskEdit1->setText(QString::fromUtf8(c.Text1));
    window.SpinEdit1->SetText(QString::fromUtf8(c.Text2));
    ExpectOkOutcome(window, c);
}

const char* const PortMessage = "Недопустимое значение TCP порта !. Интервал допустимых значений 1..65535";
const char* const AddressMessage = "Недопустимое значение IP адреса !";

INSTANTIATE_TEST_SUITE_P(
    Widgets, SettingsOk,
    testing::Values(TOkCase{"192.168.127.10", "0", PortMessage}, TOkCase{"192.168.127.10", "65536", PortMessage},
                    TOkCase{"192.168.127.10", "", PortMessage},
                    TOkCase{"300.1.1.1", "0", PortMessage},  // the address is not looked at then
                    TOkCase{"300.1.1.1", "502", AddressMessage}, TOkCase{"1.256.1.1", "502", AddressMessage},
                    TOkCase{"1.2.3.999", "502", AddressMessage},  // the module could never be reached
                    TOkCase{"1..3.4", "502", AddressMessage}, TOkCase{"", "502", AddressMessage},
                    TOkCase{"10.0.0.1", "502", ""}, TOkCase{"192.168.127.10", "1", ""},
                    TOkCase{"255.255.255.255", "65535", ""}));

TEST(ExpEthernetDialog, ZeroValuesShowAsTheLowerEndAndOkHandsThemBack)
{
    TExpEthernetValues values{0, 0};
    QString shown1, shown2;
    OperateModal<TExpEthernetSettingsWindow>([&](TExpEthernetSettingsWindow& window) {
        shown1 = window.SpinEdit1->Text();
        shown2 = window.SpinEdit2->Text();
        window.Button1->click();
    });
    EXPECT_TRUE(EditExpEthernetSettings(values));
    EXPECT_EQ(shown1, QStringLiteral("5"));
    EXPECT_EQ(shown2, QStringLiteral("5"));
    EXPECT_EQ(values.RecvTimeout, 5);
    EXPECT_EQ(values.ConnTimeout, 5);
}

TEST(ExpEthernetDialog, EnterConfirmsEditsAndCancelOrEscHandsNothingBack)
{
    const struct {
        Qt::Key Key;  // Qt::Key_unknown: the Cancel button
        bool Confirmed;
    } cases[] = {{Qt::Key_Return, true}, {Qt::Key_Escape, false}, {Qt::Key_unknown, false}};
    for (const auto& c : cases) {
        TExpEthernetValues values{200, 300};
        OperateModal<TExpEthernetSettingsWindow>([&](TExpEthernetSettingsWindow& window) {
            window.SpinEdit1->SetText(QString());
            QTest::keyClicks(window.SpinEdit1, QStringLiteral("250"));
            if (c.Key == Qt::Key_unknown)
                window.Button2->click();
            else
                QTest::keyClick(window.SpinEdit1, c.Key);
        });
        EXPECT_EQ(EditExpEthernetSettings(values), c.Confirmed) << c.Key;
        EXPECT_EQ(values.RecvTimeout, c.Confirmed ? 250 : 200);
        EXPECT_EQ(values.ConnTimeout, 300);
    }
}

TEST(EditDialogs, WhatIsTypedFirstReplacesTheValueInTheFieldThatHasTheFocus)
{
    TMessageBoxRecorder boxes;
    TSettings settings{"192.168.127.10", 700};
    OperateModal<TSettingsWindow>([](TSettingsWindow& window) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ASSERT_EQ(window.focusWidget(), window.MaskEdit1);
        QTest::keyClicks(window.MaskEdit1, QStringLiteral("10.0.0.5"));
        QTest::keyClick(window.MaskEdit1, Qt::Key_Return);
    });
    EXPECT_TRUE(EditSettings(settings));
    EXPECT_EQ(settings.IPAddress, "10.0.0.5");

    TExpEthernetValues values{100, 300};
    OperateModal<TExpEthernetSettingsWindow>([](TExpEthernetSettingsWindow& window) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QWidget* focused = window.focusWidget();
        ASSERT_TRUE(focused == window.SpinEdit1 || focused->parentWidget() == window.SpinEdit1);
        QTest::keyClicks(focused, QStringLiteral("250"));
        QTest::keyClick(focused, Qt::Key_Return);
        if (window.isVisible())
            window.Button2->click();
    });
    EXPECT_TRUE(EditExpEthernetSettings(values));
    EXPECT_EQ(values.RecvTimeout, 250);
    EXPECT_EQ(values.ConnTimeout, 300);
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST(SettingsDialog, ConfirmingStoresTheAddressWithoutBlanks)
{
    const struct {
        const char* Typed;
        const char* Stored;
    } cases[] = {{"10.0.0.1", "10.0.0.1"}, {"192.168.127.10", "192.168.127.10"}, {"1.22.3.44", "1.22.3.44"}};
    for (const auto& c : cases) {
        TSettings settings;
        QString shownAddress;
        OperateModal<TSettingsWindow>([&](TSettingsWindow& window) {
            shownAddress = window.MaskEdit1->Text();
            window.MaskEdit1->clear();
            window.MaskEdit1->setCursorPosition(0);
            QTest::keyClicks(window.MaskEdit1, QString::fromLatin1(c.Typed));
            window.SpinEdit1->SetText(QStringLiteral("1502"));
            QTest::keyClick(window.MaskEdit1, Qt::Key_Return);
        });
        ASSERT_TRUE(EditSettings(settings)) << c.Typed;
        EXPECT_EQ(shownAddress, QStringLiteral("192.168.127.10 "));
        EXPECT_EQ(settings.IPAddress, c.Stored);
        EXPECT_EQ(settings.TCPPort, 1502);
    }
}

TEST(SettingsDialog, BadValueKeepsTheDialogOpenWithTheTypedText)
{
    TMessageBoxRecorder boxes;
    TSettings settings{"10.1.1.1", 700};
    bool openAfterEnter = false;
    QString textAfterEnter;
    OperateModal<TSettingsWindow>([&](TSettingsWindow& window) {
        window.SpinEdit1->SetText(QStringLiteral("0"));
        QTest::keyClick(window.SpinEdit1, Qt::Key_Enter);
        openAfterEnter = window.isVisible();
        textAfterEnter = window.SpinEdit1->Text();
        QTest::keyClick(window.SpinEdit1, Qt::Key_Escape);
    });
    EXPECT_FALSE(EditSettings(settings));
    EXPECT_TRUE(openAfterEnter);
    EXPECT_EQ(textAfterEnter, QStringLiteral("0"));
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, QString::fromUtf8(PortMessage));
    EXPECT_EQ(settings.IPAddress, "10.1.1.1");
    EXPECT_EQ(settings.TCPPort, 700);
}

TEST(SettingsDialog, TheRealMessageBoxLeavesTheTypedPortAsItWas)
{
    TSettings settings{"10.1.1.1", 700};
    QString textUnderTheBox, textAfterTheBox;
    OperateModal<TSettingsWindow>([&](TSettingsWindow& window) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        window.SpinEdit1->setFocus();
        window.SpinEdit1->SetText(QStringLiteral("0"));
        WhenModalShown([&](QWidget* box) {
            EXPECT_TRUE(QTest::qWaitForWindowActive(box));
            textUnderTheBox = window.SpinEdit1->Text();
            box->close();
        });
        QTest::keyClick(window.SpinEdit1, Qt::Key_Enter);
        textAfterTheBox = window.SpinEdit1->Text();
        QTest::keyClick(window.SpinEdit1, Qt::Key_Escape);
    });
    EXPECT_FALSE(EditSettings(settings));
    EXPECT_EQ(textUnderTheBox, QStringLiteral("0"));
    EXPECT_EQ(textAfterTheBox, QStringLiteral("0"));
}

TEST(SettingsDialog, CancelEscAndTitleBarCloseLeaveTheSettingsUntouched)
{
    const std::function<void(TSettingsWindow&)> closings[] = {
        [](TSettingsWindow& window) { window.Button2->click(); },
        [](TSettingsWindow& window) { QTest::keyClick(window.MaskEdit1, Qt::Key_Escape); },
        [](TSettingsWindow& window) { window.close(); },
    };
    for (const auto& close : closings) {
        TSettings settings{"10.1.1.1", 700};
        OperateModal<TSettingsWindow>([&](TSettingsWindow& window) {
            window.MaskEdit1->setText(QStringLiteral("10.2.2.2"));
            window.SpinEdit1->SetValue(800);
            close(window);
        });
        EXPECT_FALSE(EditSettings(settings));
        EXPECT_EQ(settings.IPAddress, "10.1.1.1");
        EXPECT_EQ(settings.TCPPort, 700);
    }
}

TEST(SettingsDialog, F1AsksForItsHelpPageWhateverTheModifiersAndStaysOpen)
{
    QStringList topics;
    TSettingsWindow window([&](const QString& topic) { topics << topic; });
    QTest::keyClick(window.SpinEdit1, Qt::Key_F1);
    QTest::keyClick(window.MaskEdit1, Qt::Key_F1, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::keyClick(window.Button1, Qt::Key_F1, Qt::AltModifier);
    EXPECT_EQ(topics, QStringList(3, QStringLiteral("KorvelService_Settings.htm")));
    EXPECT_FALSE(window.Accepted);
}

}  // namespace
