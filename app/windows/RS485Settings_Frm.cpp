#include "RS485Settings_Frm.h"

#include "BaudRates.h"
#include "ExpEthernetSettings_Win.h"
#include "FieldControls.h"
#include "Forms.h"
#include "IPAddressText.h"
#include "ModuleDefaults.h"

#include <initializer_list>

namespace {

const QStringList ParityTexts{QStringLiteral("NONE"), QStringLiteral("ODD"), QStringLiteral("EVEN")};
const QStringList StopBitsTexts{QStringLiteral("1"), QStringLiteral("2")};

// The frame starts with the factory values of the servers, time-out and repeats; its lists start
// at their first entries, unlike the factory record.
constexpr const TChannelConfig& Initial = FactoryChannelDefaults;

void FillList(QComboBox* list, const QStringList& items)
{
    list->clear();
    list->addItems(items);
    list->setCurrentIndex(0);
}

// An index the list does not have selects its first entry.
void SetListIndex(QComboBox* list, int index)
{
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : 0);
}

// A channel field as the window's collection takes it from this frame: the checks and messages are
// the same for both channels.
const TConfigField& ChannelField(const char* key)
{
    return *FindConfigField("CHANNEL_0", key);
}

TModuleConfig Collected(const TRS485SettingsFrame* frame, const TConfigField& field)
{
    TModuleConfig config{};
    QString message;
    if (!CollectField(frame, field, config, message))
        throw ERS485SettingsError(message);
    return config;
}

int32_t CollectedWord(const TRS485SettingsFrame* frame, const char* key)
{
    const TConfigField& field = ChannelField(key);
    return FieldWord(Collected(frame, field), field);
}

TIPAddress CollectedAddress(const TRS485SettingsFrame* frame, const char* key)
{
    const TConfigField& field = ChannelField(key);
    return FieldAddress(Collected(frame, field), field);
}

}  // namespace

TRS485SettingsFrame::TRS485SettingsFrame(QWidget* owner) : QFrame(owner)
{
    setupUi(this);
    SetFormFont(this);
    connect(ComboBox4, &QComboBox::activated, this, &TRS485SettingsFrame::ComboBox4Change);
    connect(Button1, &QPushButton::clicked, this, &TRS485SettingsFrame::Button1Click);
    HookChangeEvents(this);
}

void TRS485SettingsFrame::HookChangeEvents(QObject* parent)
{
    for (QObject* child : parent->children()) {
        if (child == ComboBox4)
            continue;
        if (auto* spinEdit = qobject_cast<TSpinEdit*>(child))
            connect(spinEdit, &TSpinEdit::Changed, this, &TRS485SettingsFrame::NotifyChanged);
        else if (auto* maskEdit = qobject_cast<TMaskEdit*>(child))
            connect(maskEdit, &TMaskEdit::Changed, this, &TRS485SettingsFrame::NotifyChanged);
        // Only the operator's choices count as changes of a list, as with the mode list.
        else if (auto* list = qobject_cast<QComboBox*>(child))
            connect(list, &QComboBox::activated, this, &TRS485SettingsFrame::NotifyChanged);
        else if (qobject_cast<QGroupBox*>(child))
            HookChangeEvents(child);
    }
}

void TRS485SettingsFrame::NotifyChanged()
{
    if (OnChanged)
        OnChanged(this);
}

void TRS485SettingsFrame::FillLists()
{
    QStringList baudRates;
    for (const char* rate : BaudRates)
        baudRates << QString::fromLatin1(rate);
    FillList(ComboBox1, baudRates);
    FillList(ComboBox2, ParityTexts);
    FillList(ComboBox3, StopBitsTexts);
    FillList(ComboBox4, {tr("Ведущий"), tr("Ведомый")});  // in the order of TMode
    MaskEdit1->setText(QString::fromStdString(IPToStr(Initial.IPAddress0)));
    SpinEdit4->SetValue(Initial.TCPPort0);
    MaskEdit2->setText(QString::fromStdString(IPToStr(Initial.IPAddress1)));
    SpinEdit5->SetValue(Initial.TCPPort1);
    SpinEdit1->SetValue(Initial.Timeout);
    SpinEdit2->SetValue(Initial.Replies);
    SetMode(Master);
}

void TRS485SettingsFrame::SetMode(int mode)
{
    ComboBox4->setCurrentIndex(mode);
    ShownMode = mode;
    SpinEdit1->setEnabled(mode == Master);
    SpinEdit2->setEnabled(mode == Master);
    const std::initializer_list<QWidget*> slaveControls{GroupBox4, MaskEdit1, SpinEdit4, MaskEdit2,
                                                        SpinEdit5, GroupBox5, SpinEdit3, Button1};
    for (QWidget* control : slaveControls)
        control->setEnabled(mode == Slave);
}

int TRS485SettingsFrame::GetMode() const
{
    return ComboBox4->currentIndex();
}

void TRS485SettingsFrame::ComboBox4Change()
{
    const int mode = ComboBox4->currentIndex();
    // The list reports a pick of the mode already shown too; that is no change, and the address
    // the operator set for it stays.
    if (mode == ShownMode)
        return;
    SetMode(mode);
    SpinEdit3->SetValue(mode == Master ? 0 : 1);
}

void TRS485SettingsFrame::Button1Click()
{
    TExpEthernetValues values{EthRecvTout, EthConnTout};
    if (!EditExpEthernetSettings(values, ShowHelpTopic))
        return;
    EthRecvTout = values.RecvTimeout;
    EthConnTout = values.ConnTimeout;
    NotifyChanged();
}

void TRS485SettingsFrame::SetSlaveAddress(int32_t value)
{
    SpinEdit3->SetValue(value);
}

void TRS485SettingsFrame::SetIPAddress0(const TIPAddress& address)
{
    MaskEdit1->setText(QString::fromStdString(IPToStr(address)));
}

void TRS485SettingsFrame::SetTCPPort0(int32_t value)
{
    SpinEdit4->SetValue(value);
}

void TRS485SettingsFrame::SetIPAddress1(const TIPAddress& address)
{
    MaskEdit2->setText(QString::fromStdString(IPToStr(address)));
}

void TRS485SettingsFrame::SetTCPPort1(int32_t value)
{
    SpinEdit5->SetValue(value);
}

void TRS485SettingsFrame::SetBaudIndex(int index)
{
    SetListIndex(ComboBox1, index);
}

void TRS485SettingsFrame::SetParity(int index)
{
    SetListIndex(ComboBox2, index);
}

void TRS485SettingsFrame::SetStopBits(int index)
{
    SetListIndex(ComboBox3, index);
}

void TRS485SettingsFrame::SetTimeout(int32_t value)
{
    SpinEdit1->SetValue(value);
}

void TRS485SettingsFrame::SetReplies(int32_t value)
{
    SpinEdit2->SetValue(value);
}

int32_t TRS485SettingsFrame::GetSlaveAddress() const
{
    return CollectedWord(this, "SLAVE_ADDRESS");
}

TIPAddress TRS485SettingsFrame::GetIPAddress0() const
{
    return CollectedAddress(this, "IP_ADDRESS_0");
}

int32_t TRS485SettingsFrame::GetTCPPort0() const
{
    return CollectedWord(this, "TCP_PORT_0");
}

TIPAddress TRS485SettingsFrame::GetIPAddress1() const
{
    return CollectedAddress(this, "IP_ADDRESS_1");
}

int32_t TRS485SettingsFrame::GetTCPPort1() const
{
    return CollectedWord(this, "TCP_PORT_1");
}

int TRS485SettingsFrame::GetBaudIndex() const
{
    return ComboBox1->currentIndex();
}

int TRS485SettingsFrame::GetParity() const
{
    return ComboBox2->currentIndex();
}

int TRS485SettingsFrame::GetStopBits() const
{
    return ComboBox3->currentIndex();
}

int32_t TRS485SettingsFrame::GetTimeout() const
{
    return CollectedWord(this, "TIMEOUT");
}

int32_t TRS485SettingsFrame::GetReplies() const
{
    return CollectedWord(this, "REPLIES");
}
