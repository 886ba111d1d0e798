#pragma once
// A simulated module: the ModbusTCP server of unit 255 with the information block (registers
// 78..83) and the configuration block (84..140). It starts with a plausible information block
// and the factory configuration, and keeps whatever is written. Requests for other units reach
// the simulated devices on its RS-485 lines, routed by the configuration it holds.

#include "ModuleRegisters.h"

#include <QHostAddress>
#include <QObject>

#include <array>
#include <cstdint>

class TGatewayFront;
class TModuleSimModbusServer;
class TSimLines;

class TModuleSimServer : public QObject {
    Q_OBJECT
public:
    static constexpr int FirstRegister = InfoFirstRegister;
    static constexpr int LastRegister = MarkerRegister;
    static constexpr uint16_t DefaultPort = 1502;

    explicit TModuleSimServer(QObject* parent = nullptr);
    ~TModuleSimServer() override;

    // Every request is answered delayMs later; set before Listen.
    void SetAnswerDelay(int delayMs) { AnswerDelayMs_ = delayMs; }
    // Port 0 takes any free port; Port() then tells which.
    bool Listen(const QHostAddress& address, quint16 port);
    quint16 Port() const;
    QString ErrorText() const;

    void SetVersion(uint8_t major, uint8_t minor);
    // In display order: the first byte is the low byte of register 79.
    void SetMac(const std::array<uint8_t, 6>& mac);
    void SetJumperFitted(bool fitted);

    // Registers outside 78..140 read as 0 and ignore writes.
    uint16_t Register(int address) const;
    void SetRegister(int address, uint16_t value);

    int RequestCount() const { return RequestCount_; }

    // The configuration block as the module holds it now.
    TModuleConfig Config() const;
    // The lines and their devices; add devices before Listen.
    TSimLines& Lines() { return *Lines_; }

signals:
    // One per request answered or refused by the server, after the registers were updated.
    void RequestServed(int functionCode, int startAddress, int count);

private:
    friend class TModuleSimModbusServer;
    void NoteRequest(int functionCode, int startAddress, int count);
    quint16 ServerPort() const;

    TModuleSimModbusServer* Server_;  // a child, so that it follows the object to another thread
    TSimLines* Lines_;                // a child, as the server
    TGatewayFront* Front_ = nullptr;  // takes the connections, in front of the server
    int AnswerDelayMs_ = 0;
    int RequestCount_ = 0;
};
