#pragma once
// The editor of one RS-485 channel. It holds no channel record: the owner moves each field through
// a setter and a checked getter, and hears of every edit through OnChanged.

#include "Forms.h"
#include "IPAddress.h"
#include "ui_RS485Settings_Frm.h"

#include <QFrame>

#include <cstdint>
#include <functional>
#include <stdexcept>

// A change notification; the sender is the object that changed.
using TNotifyEvent = std::function<void(QObject* sender)>;

// A value the operator typed that the channel cannot take; what() is the message, UTF-8.
class ERS485SettingsError : public std::runtime_error {
public:
    explicit ERS485SettingsError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

class TRS485SettingsFrame : public QFrame, public Ui::TRS485SettingsFrame {
    Q_OBJECT
    // The held times, by the names the field table gives them.
    Q_PROPERTY(int EthRecvTout MEMBER EthRecvTout)
    Q_PROPERTY(int EthConnTout MEMBER EthConnTout)

public:
    enum TMode { Master = 0, Slave = 1 };

    explicit TRS485SettingsFrame(QWidget* owner = nullptr);

    // Fills the lists and the initial values; call once, after assigning OnChanged.
    void FillLists();

    void SetMode(int mode);
    int GetMode() const;

    void SetSlaveAddress(int32_t value);
    void SetIPAddress0(const TIPAddress& address);
    void SetTCPPort0(int32_t value);
    void SetIPAddress1(const TIPAddress& address);
    void SetTCPPort1(int32_t value);
    void SetBaudIndex(int index);
    void SetParity(int index);
    void SetStopBits(int index);
    void SetTimeout(int32_t value);
    void SetReplies(int32_t value);

    // Each throws ERS485SettingsError when the control's text is not a valid value.
    int32_t GetSlaveAddress() const;
    TIPAddress GetIPAddress0() const;
    int32_t GetTCPPort0() const;
    TIPAddress GetIPAddress1() const;
    int32_t GetTCPPort1() const;
    int GetBaudIndex() const;
    int GetParity() const;
    int GetStopBits() const;
    int32_t GetTimeout() const;
    int32_t GetReplies() const;

    TNotifyEvent OnChanged;
    // Opens the help of the frame's dialogs.
    TShowHelpTopic ShowHelpTopic;
    // The channel's ModbusTCP time-out and connection-establishment time, ms.
    int32_t EthRecvTout = 0;
    int32_t EthConnTout = 0;

public slots:
    void ComboBox4Change();
    void Button1Click();

private:
    void HookChangeEvents(QObject* parent);
    void NotifyChanged();

    // The mode the controls were last switched to.
    int ShownMode = Master;
};
