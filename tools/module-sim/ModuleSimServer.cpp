#include "ModuleSimServer.h"

#include "GatewayFront.h"
#include "ModuleDefaults.h"
#include "SimLines.h"

#include <QModbusTcpServer>
#include <QTcpServer>

#include <cstring>

namespace {

constexpr int RegisterCount = TModuleSimServer::LastRegister - TModuleSimServer::FirstRegister + 1;
constexpr int MacFirstRegister = InfoFirstRegister + offsetof(TModuleInfo, MAC) / 2;
constexpr int JumperRegister = InfoFirstRegister + offsetof(TModuleInfo, Flags) / 2;

}  // namespace

// Counts and reports every request the Qt server processes.
class TModuleSimModbusServer : public QModbusTcpServer {
public:
    explicit TModuleSimModbusServer(TModuleSimServer& owner) : QModbusTcpServer(&owner), Owner_(owner) {}

protected:
    QModbusResponse processRequest(const QModbusPdu& request) override
    {
        QModbusResponse response = QModbusTcpServer::processRequest(request);
        const QByteArray data = request.data();
        const auto word = [&](int at) {
            return data.size() >= at + 2 ? int(quint8(data[at]) << 8 | quint8(data[at + 1])) : 0;
        };
        Owner_.NoteRequest(request.functionCode(), word(0), word(2));
        return response;
    }

private:
    TModuleSimServer& Owner_;
};

TModuleSimServer::TModuleSimServer(QObject* parent)
    : QObject(parent)
    , Server_(new TModuleSimModbusServer(*this))
    , Lines_(new TSimLines(this))
{
    Server_->setServerAddress(ModuleUnitId);
    QModbusDataUnitMap map;
    map.insert(QModbusDataUnit::HoldingRegisters,
               QModbusDataUnit(QModbusDataUnit::HoldingRegisters, FirstRegister, RegisterCount));
    Server_->setMap(map);

    SetVersion(1, 0);
    SetMac({0x00, 0x1A, 0x4B, 0x00, 0x00, 0x01});
    SetJumperFitted(false);

    const TConfigImage image = BuildConfigImage(FactoryDefaults);
    for (size_t k = 0; k < image.size(); ++k)
        SetRegister(ConfigFirstRegister + int(k), image[k]);
}

TModuleSimServer::~TModuleSimServer() = default;

bool TModuleSimServer::Listen(const QHostAddress& address, quint16 port)
{
    Server_->setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                    QHostAddress(QHostAddress::LocalHost).toString());
    Server_->setConnectionParameter(QModbusDevice::NetworkPortParameter, 0);
    if (!Server_->connectDevice())
        return false;
    Front_ = new TGatewayFront(
        AnswerDelayMs_,
        [this](const QByteArray& frame, const TGatewayFront::TReply& reply) { Lines_->Serve(Config(), frame, reply); },
        this);
    return Front_->Listen(address, port, ServerPort());
}

quint16 TModuleSimServer::Port() const
{
    return Front_ ? Front_->Port() : 0;
}

quint16 TModuleSimServer::ServerPort() const
{
    // The Qt server does not report the port it bound; its listening socket does.
    if (const auto* listener = Server_->findChild<QTcpServer*>())
        return listener->serverPort();
    return 0;
}

QString TModuleSimServer::ErrorText() const
{
    return Front_ ? Front_->ErrorText() : Server_->errorString();
}

TModuleConfig TModuleSimServer::Config() const
{
    std::array<uint8_t, sizeof(TModuleConfig)> image{};
    for (size_t k = 0; k < ConfigReadRegisterCount; ++k) {
        const uint16_t value = Register(ConfigFirstRegister + int(k));
        image[2 * k] = uint8_t(value);
        image[2 * k + 1] = uint8_t(value >> 8);
    }
    TModuleConfig config;
    std::memcpy(&config, image.data(), sizeof config);
    return config;
}

void TModuleSimServer::SetVersion(uint8_t major, uint8_t minor)
{
    SetRegister(InfoFirstRegister, uint16_t(major << 8 | minor));
}

void TModuleSimServer::SetMac(const std::array<uint8_t, 6>& mac)
{
    for (int k = 0; k < 3; ++k)
        SetRegister(MacFirstRegister + k, uint16_t(mac[2 * k] | mac[2 * k + 1] << 8));
}

void TModuleSimServer::SetJumperFitted(bool fitted)
{
    SetRegister(JumperRegister, fitted ? 1 : 0);
}

uint16_t TModuleSimServer::Register(int address) const
{
    quint16 value = 0;
    if (address >= FirstRegister && address <= LastRegister)
        Server_->data(QModbusDataUnit::HoldingRegisters, quint16(address), &value);
    return value;
}

void TModuleSimServer::SetRegister(int address, uint16_t value)
{
    if (address >= FirstRegister && address <= LastRegister)
        Server_->setData(QModbusDataUnit::HoldingRegisters, quint16(address), value);
}

void TModuleSimServer::NoteRequest(int functionCode, int startAddress, int count)
{
    ++RequestCount_;
    emit RequestServed(functionCode, startAddress, count);
}
