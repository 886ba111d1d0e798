#include "BaudRates.h"
#include "ExpEthernetSettings_Win.h"
#include "RS485Settings_Frm.h"
#include "WidgetsTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QTest>

namespace {

class RS485Frame : public testing::Test {
protected:
    RS485Frame()
    {
        Frame.OnChanged = [this](QObject* sender) {
            EXPECT_EQ(sender, &Frame);
            ++Changes;
        };
        Frame.FillLists();
        Changes = 0;
    }

    // The operator picks a mode from the list.
    void PickMode(int mode)
    {
        QTest::keyClick(Frame.ComboBox4, mode == TRS485SettingsFrame::Master ? Qt::Key_Up : Qt::Key_Down);
        ASSERT_EQ(Frame.GetMode(), mode);
    }

    // Which controls the operator can use, in the order master-only, slave-only.
    void ExpectEnabledFor(int mode)
    {
        const bool master = mode == TRS485SettingsFrame::Master;
        for (QWidget* control : {static_cast<QWidget*>(Frame.SpinEdit1), static_cast<QWidget*>(Frame.SpinEdit2)})
            EXPECT_EQ(control->isEnabled(), master) << control->objectName().toStdString();
        for (QWidget* control :
             std::initializer_list<QWidget*>{Frame.SpinEdit3, Frame.GroupBox4, Frame.MaskEdit1, Frame.SpinEdit4,
                                             Frame.GroupBox5, Frame.MaskEdit2, Frame.SpinEdit5, Frame.Button1})
            EXPECT_EQ(control->isEnabled(), !master) << control->objectName().toStdString();
        for (QWidget* control :
             std::initializer_list<QWidget*>{Frame.ComboBox1, Frame.ComboBox2, Frame.ComboBox3, Frame.ComboBox4})
            EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
    }

    TRS485SettingsFrame Frame;
    int Changes = 0;
};

TEST_F(RS485Frame, StartsAsAMasterWithTheInitialValues)
{
    TRS485SettingsFrame fresh;
    int changes = 0;
    fresh.OnChanged = [&](QObject*) { ++changes; };
    fresh.FillLists();
    EXPECT_GT(changes, 0) << "filling goes through the change handlers";

    EXPECT_EQ(Frame.ComboBox1->count(), 20);
    EXPECT_EQ(Frame.ComboBox1->currentText(), QStringLiteral("600"));
    EXPECT_EQ(Frame.ComboBox1->itemText(19), QString::fromLatin1(BaudRates[19]));
    EXPECT_EQ(Frame.ComboBox2->currentText(), QStringLiteral("NONE"));
    EXPECT_EQ(Frame.ComboBox2->count(), 3);
    EXPECT_EQ(Frame.ComboBox3->currentText(), QStringLiteral("1"));
    EXPECT_EQ(Frame.ComboBox3->count(), 2);
    EXPECT_EQ(Frame.ComboBox4->currentText(), QStringLiteral("Ведущий"));
    EXPECT_EQ(Frame.ComboBox4->itemText(1), QStringLiteral("Ведомый"));
    EXPECT_FALSE(Frame.ComboBox1->isEditable());
    EXPECT_EQ(Frame.GetIPAddress0(), (TIPAddress{192, 168, 127, 1}));
    EXPECT_EQ(Frame.GetIPAddress1(), (TIPAddress{192, 168, 127, 2}));
    EXPECT_EQ(Frame.GetTCPPort0(), 502);
    EXPECT_EQ(Frame.GetTCPPort1(), 502);
    EXPECT_EQ(Frame.GetTimeout(), 100);
    EXPECT_EQ(Frame.GetReplies(), 0);
    EXPECT_EQ(Frame.GetSlaveAddress(), 0);
    EXPECT_EQ(Frame.EthRecvTout, 0);
    EXPECT_EQ(Frame.EthConnTout, 0);
    ExpectEnabledFor(TRS485SettingsFrame::Master);
}

TEST(RS485FrameLayout, EveryLabelShowsItsWholeTextInTheRoomOfTheMainWindowsPage)
{
    QWidget page;
    auto* frame = new TRS485SettingsFrame(&page);
    frame->FillLists();
    frame->setGeometry(0, 0, 656, 365);  // what a channel page of the 676 x 533 main window leaves it
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    for (const QLabel* label : frame->findChildren<QLabel*>())
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
}

TEST_F(RS485Frame, PickingAModeSetsTheAddressAndSwitchesTheControls)
{
    PickMode(TRS485SettingsFrame::Slave);
    EXPECT_EQ(Frame.SpinEdit3->Text(), QStringLiteral("1"));
    EXPECT_EQ(Changes, 1) << "the address change is what reports the edit";
    ExpectEnabledFor(TRS485SettingsFrame::Slave);

    PickMode(TRS485SettingsFrame::Master);
    EXPECT_EQ(Frame.SpinEdit3->Text(), QStringLiteral("0"));
    EXPECT_EQ(Changes, 2);
    ExpectEnabledFor(TRS485SettingsFrame::Master);
}

TEST_F(RS485Frame, PickingTheModeAlreadyShownKeepsTheAddress)
{
    for (const int mode : {TRS485SettingsFrame::Slave, TRS485SettingsFrame::Master}) {
        PickMode(mode);
        Frame.SpinEdit3->SetText(QStringLiteral("17"));
        Changes = 0;
        // The drop-down list chooses its current entry again.
        Frame.ComboBox4->showPopup();
        QTest::keyClick(Frame.ComboBox4->view(), Qt::Key_Return);
        EXPECT_EQ(Frame.GetMode(), mode);
        EXPECT_EQ(Frame.SpinEdit3->Text(), QStringLiteral("17")) << mode;
        EXPECT_EQ(Changes, 0) << mode;
        ExpectEnabledFor(mode);
    }
}

TEST_F(RS485Frame, ShowingASlaveAddressChoosesTheMode)
{
    const struct {
        int32_t SlaveAddress;
        int Mode;
        int32_t Shown;
    } cases[] = {{0, TRS485SettingsFrame::Master, 0},
                 {17, TRS485SettingsFrame::Slave, 17},
                 {300, TRS485SettingsFrame::Slave, 255}};
    for (const auto& c : cases) {
        // The owner's order: the address, then the mode it implies.
        Frame.SetSlaveAddress(c.SlaveAddress);
        Frame.SetMode(c.SlaveAddress != 0 ? TRS485SettingsFrame::Slave : TRS485SettingsFrame::Master);
        EXPECT_EQ(Frame.GetMode(), c.Mode) << c.SlaveAddress;
        EXPECT_EQ(Frame.GetSlaveAddress(), c.Shown) << c.SlaveAddress;
        ExpectEnabledFor(c.Mode);
    }
}

TEST_F(RS485Frame, SettersPutValuesIntoRangeAndUnknownListIndexesSelectTheFirstEntry)
{
    Frame.SetTCPPort0(0);
    Frame.SetTCPPort1(70000);
    Frame.SetTimeout(2);
    Frame.SetReplies(3);
    EXPECT_EQ(Frame.SpinEdit4->Text(), QStringLiteral("1"));
    EXPECT_EQ(Frame.SpinEdit5->Text(), QStringLiteral("65535"));
    EXPECT_EQ(Frame.SpinEdit1->Text(), QStringLiteral("5"));
    EXPECT_EQ(Frame.SpinEdit2->Text(), QStringLiteral("3")) << "0..0 limits nothing";

    const struct {
        void (TRS485SettingsFrame::*Set)(int);
        int (TRS485SettingsFrame::*Get)() const;
        int Given, Selected;
    } lists[] = {
        {&TRS485SettingsFrame::SetBaudIndex, &TRS485SettingsFrame::GetBaudIndex, 19, 19},
        {&TRS485SettingsFrame::SetBaudIndex, &TRS485SettingsFrame::GetBaudIndex, 20, 0},
        {&TRS485SettingsFrame::SetBaudIndex, &TRS485SettingsFrame::GetBaudIndex, 65535, 0},
        {&TRS485SettingsFrame::SetParity, &TRS485SettingsFrame::GetParity, 2, 2},
        {&TRS485SettingsFrame::SetParity, &TRS485SettingsFrame::GetParity, 3, 0},
        {&TRS485SettingsFrame::SetStopBits, &TRS485SettingsFrame::GetStopBits, 1, 1},
        {&TRS485SettingsFrame::SetStopBits, &TRS485SettingsFrame::GetStopBits, 2, 0},
    };
    for (const auto& list : lists) {
        (Frame.*list.Set)(list.Given);
        EXPECT_EQ((Frame.*list.Get)(), list.Selected) << list.Given;
    }
}

TEST_F(RS485Frame, OperatorsListChoiceReportsAChange)
{
    QTest::keyClick(Frame.ComboBox2, Qt::Key_Down);
    EXPECT_EQ(Frame.GetParity(), 1);
    EXPECT_EQ(Changes, 1);
    Frame.SetParity(2);
    EXPECT_EQ(Changes, 1) << "a list set by the owner is no edit";
    Frame.MaskEdit1->setText(QStringLiteral("10.0.0.1"));
    Frame.SpinEdit1->SetText(QStringLiteral("7"));
    EXPECT_EQ(Changes, 3);
}

struct TGetterCase {
    TSpinEdit* TRS485SettingsFrame::*SpinEdit;  // or, when null, MaskEdit
    TMaskEdit* TRS485SettingsFrame::*MaskEdit;
    const char* Text;
    std::function<void(const TRS485SettingsFrame&)> Get;
    const char* Message;  // empty: the getter passes
};

void PrintTo(const TGetterCase& c, std::ostream* out)
{
    *out << '"' << c.Text << '"';
}

class RS485FrameGetters : public RS485Frame, public testing::WithParamInterface<TGetterCase> {};

TEST_P(RS485FrameGetters, RejectTheControlsTextWithItsRangeEvenWhenDisabled)
{
    const TGetterCase& c = GetParam();
    const QString text = QString::fromUtf8(c.Text);
    QString shown;
    if (c.SpinEdit) {
        (Frame.*c.SpinEdit)->SetText(text);
        shown = (Frame.*c.SpinEdit)->Text();
    } else {
        (Frame.*c.MaskEdit)->setText(text);
        shown = (Frame.*c.MaskEdit)->Text();
    }
    const QString expected = QString::fromUtf8(c.Message);
    if (expected.isEmpty()) {
        EXPECT_NO_THROW(c.Get(Frame));
        return;
    }
    try {
        c.Get(Frame);
        ADD_FAILURE() << "no error for " << c.Text;
    } catch (const ERS485SettingsError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()), expected);
    }
    const QString after = c.SpinEdit ? (Frame.*c.SpinEdit)->Text() : (Frame.*c.MaskEdit)->Text();
    EXPECT_EQ(after, shown) << "the operator's text stays";
}

auto Get(auto getter)
{
    return [getter](const TRS485SettingsFrame& frame) { (frame.*getter)(); };
}

using F = TRS485SettingsFrame;

INSTANTIATE_TEST_SUITE_P(
    Widgets, RS485FrameGetters,
    testing::Values(TGetterCase{&F::SpinEdit1, nullptr, "4", Get(&F::GetTimeout),
                                "Недопустимое значение таймаута 4. Допускаются значения 5..1000"},
                    TGetterCase{&F::SpinEdit1, nullptr, "5", Get(&F::GetTimeout), ""},
                    TGetterCase{&F::SpinEdit1, nullptr, "1001", Get(&F::GetTimeout),
                                "Недопустимое значение таймаута 1001. Допускаются значения 5..1000"},
                    TGetterCase{&F::SpinEdit2, nullptr, "1", Get(&F::GetReplies),
                                "Недопустимое значение количества повторов 1. Допускаются значения 0..0"},
                    TGetterCase{&F::SpinEdit2, nullptr, "0", Get(&F::GetReplies), ""},
                    TGetterCase{&F::SpinEdit5, nullptr, "0", Get(&F::GetTCPPort1),
                                "Недопустимое значение TCP порта сервера 1 0. Допускаются значения 1..65535"},
                    TGetterCase{&F::SpinEdit4, nullptr, "65536", Get(&F::GetTCPPort0),
                                "Недопустимое значение TCP порта сервера 0 65536. Допускаются значения 1..65535"},
                    TGetterCase{&F::SpinEdit4, nullptr, "65535", Get(&F::GetTCPPort0), ""},
                    TGetterCase{&F::SpinEdit3, nullptr, "abc", Get(&F::GetSlaveAddress),
                                "Недопустимое значение адреса abc. Допускаются значения 0..255"},
                    TGetterCase{&F::SpinEdit3, nullptr, "", Get(&F::GetSlaveAddress),
                                "Недопустимое значение адреса . Допускаются значения 0..255"},
                    TGetterCase{nullptr, &F::MaskEdit1, "300.1.1.1", Get(&F::GetIPAddress0),
                                "Недопустимое значение IP адреса сервера 0 300.1  .1  .1  "},
                    TGetterCase{nullptr, &F::MaskEdit2, "1..2.3", Get(&F::GetIPAddress1),
                                "Недопустимое значение IP адреса сервера 1 1  .   .2  .3  "},
                    TGetterCase{nullptr, &F::MaskEdit2, "10.0.0.1", Get(&F::GetIPAddress1), ""}));

TEST_F(RS485Frame, AddressesTypedWithBlanksAreRead)
{
    Frame.SetIPAddress1({10, 0, 0, 1});
    EXPECT_EQ(Frame.MaskEdit2->Text(), QStringLiteral("10 .0  .0  .1  "));
    EXPECT_EQ(Frame.GetIPAddress1(), (TIPAddress{10, 0, 0, 1}));
}

TEST_F(RS485Frame, ExtraParametersOkReportsAChangeEvenWhenUnchangedAndCancelChangesNothing)
{
    Frame.EthRecvTout = 200;
    Frame.EthConnTout = 300;
    OperateModal<TExpEthernetSettingsWindow>([](TExpEthernetSettingsWindow& window) { window.Button2->click(); });
    Frame.Button1Click();
    EXPECT_EQ(Changes, 0);
    EXPECT_EQ(Frame.EthRecvTout, 200);
    EXPECT_EQ(Frame.EthConnTout, 300);

    OperateModal<TExpEthernetSettingsWindow>([](TExpEthernetSettingsWindow& window) { window.Button1->click(); });
    Frame.Button1Click();
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(Frame.EthRecvTout, 200);
    EXPECT_EQ(Frame.EthConnTout, 300);

    Frame.EthRecvTout = 0;  // a fresh channel's zero shows, and comes back, as the lower end
    OperateModal<TExpEthernetSettingsWindow>([](TExpEthernetSettingsWindow& window) {
        window.SpinEdit2->SetValue(900);
        window.Button1->click();
    });
    Frame.Button1Click();
    EXPECT_EQ(Changes, 2);
    EXPECT_EQ(Frame.EthRecvTout, 5);
    EXPECT_EQ(Frame.EthConnTout, 900);
}

}  // namespace
