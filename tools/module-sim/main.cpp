// korvel-module-sim: simulated modules on a loopback (or chosen) address: one, or a fleet on
// consecutive ports.
#include "DeviceOption.h"
#include "ModuleSimServer.h"
#include "SimLines.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr uint MaxModules = 1000;
constexpr uint MaxDelayMs = 60000;
constexpr double MaxLineTimeFactor = 100;

const char* const DeviceHelp =
    "A device on an RS-485 line: CH:UNIT[:BAUD:PARITY:STOPBITS], channel 1 or 2, unit 1..247, "
    "e.g. 1:5 or 2:17:9600:N:1 (parity N, O or E; without them the channel's factory settings, "
    "115200 E 2). Repeatable.\n"
    "A request for another unit than 255 is routed by the module's current configuration: the "
    "device with that unit on a master channel (SLAVE_ADDRESS 0) whose baud rate, parity and stop "
    "bits are the device's answers after the time request and reply take on the line (11 bits a "
    "byte); a device with other settings, or no device with that unit, gives exception 0x0B after "
    "the request's time on the line and the channel's TIMEOUT (with no device, every master "
    "channel is tried and the longest TIMEOUT counts); a device on a slave channel, or no master "
    "channel at all, gives exception 0x0A at once. A line serves one request at a time.\n"
    "Each device is a meter; registers as on the wire, 0-based, 32/64-bit values high word first:\n"
    "  input 0-1 voltage float32 = 230 + 10 sin(2 pi t/60); 2-3 current float32 = 5 + UNIT/10 + "
    "2 sin(2 pi t/90); 4-5 power float32 = voltage * current; 6-7 energy uint32 = 1000 UNIT + "
    "floor(t/10); 8 status (bit 0 set, bit 1 set in odd 30 s periods); 9 temperature int16 in "
    "0.1 C = round(100 sin(2 pi t/120)) - 50; 10-13 frequency float64 = 50 + 0.05 sin(2 pi t/30); "
    "16-19 voltage L2, L3 and 20-23 current L2, L3 float32 as L1 a third of a period behind and "
    "ahead; 24 power factor int16 in 0.001 = round(900 + 50 sin(2 pi t/45)); 25 frequency uint16 in "
    "0.01 Hz; 26-27 reactive energy uint32 LOW word first = 500 UNIT + floor(t/20); 28-29 running "
    "time uint32 = floor(t) s; 14-15 and 30-31 zero; t in seconds since start.\n"
    "  discrete inputs 0-15: input k is bit k of floor(t); coils 0-15: coil 0 set; holding 0-63: "
    "0 = UNIT, 1-2 set point 50.0 float32, 6 transformer ratio 100, 8-12 \"METER-UUU\" ASCII; writes "
    "to coils and holding registers are kept. share/KorvelService/maps/module-sim-meters.csv maps "
    "units 5, 17 and 30.";

bool ParseVersion(const QString& text, uint8_t& major, uint8_t& minor)
{
    const QStringList parts = text.split('.');
    bool majorOk = false, minorOk = false;
    const uint majorValue = parts.value(0).toUInt(&majorOk);
    const uint minorValue = parts.value(1).toUInt(&minorOk);
    if (parts.size() != 2 || !majorOk || !minorOk || majorValue > 255 || minorValue > 255)
        return false;
    major = uint8_t(majorValue);
    minor = uint8_t(minorValue);
    return true;
}

bool ParseMac(const QString& text, std::array<uint8_t, 6>& mac)
{
    static const QRegularExpression form("^([0-9A-Fa-f]{2})([-:][0-9A-Fa-f]{2}){5}$");
    if (!form.match(text).hasMatch())
        return false;
    const QStringList parts = text.split(QRegularExpression("[-:]"));
    for (int i = 0; i < 6; ++i)
        mac[size_t(i)] = uint8_t(parts[i].toUInt(nullptr, 16));
    return true;
}

QString Describe(int functionCode, int startAddress, int count)
{
    switch (functionCode) {
    case 3: return QString("read %1 registers from %2").arg(count).arg(startAddress);
    case 16: return QString("write %1 registers from %2").arg(count).arg(startAddress);
    default: return QString("function %1").arg(functionCode);
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("korvel-module-sim");

    QCommandLineParser parser;
    parser.setApplicationDescription("Simulated Korvel modules: ModbusTCP unit 255, registers 78..140.");
    parser.addHelpOption();
    const QCommandLineOption portOption("port", "TCP port of the first module (0: any free ones).", "port",
                                        QString::number(TModuleSimServer::DefaultPort));
    const QCommandLineOption bindOption("bind", "Address to listen on.", "address", "127.0.0.1");
    const QCommandLineOption countOption("count", "Number of modules, on consecutive ports from --port.", "n", "1");
    const QCommandLineOption delayOption("delay", "Answer every request after this many milliseconds.", "ms", "0");
    const QCommandLineOption firmwareOption("firmware", "Firmware version, major.minor.", "version", "1.0");
    const QCommandLineOption macOption("mac",
                                       "MAC address of the first module, six hexadecimal bytes; "
                                       "the others count up in the last byte.",
                                       "mac", "00-1A-4B-00-00-01");
    const QCommandLineOption jumperOption("jumper", "The factory-configuration jumper is fitted.");
    const QCommandLineOption verboseOption("verbose", "Print one line per request.");
    const QCommandLineOption deviceOption("device", DeviceHelp, "device");
    const QCommandLineOption lineTimeOption(
        "line-time", "Scale of the time bytes take on the RS-485 lines: 1 as at the baud rate, 0 for none.", "factor",
        "1");
    parser.addOptions({portOption, bindOption, countOption, delayOption, firmwareOption, macOption, jumperOption,
                       verboseOption, deviceOption, lineTimeOption});
    parser.process(app);

    QTextStream err(stderr);
    bool portOk = false, countOk = false, delayOk = false, lineTimeOk = false;
    const double lineTime = parser.value(lineTimeOption).toDouble(&lineTimeOk);
    const uint port = parser.value(portOption).toUInt(&portOk);
    const uint count = parser.value(countOption).toUInt(&countOk);
    const uint delay = parser.value(delayOption).toUInt(&delayOk);
    const QHostAddress address(parser.value(bindOption));
    uint8_t major = 0, minor = 0;
    std::array<uint8_t, 6> mac{};
    if (!portOk || port > 65535) {
        err << "korvel-module-sim: bad port " << parser.value(portOption) << "\n";
        return 2;
    }
    if (!countOk || count < 1 || count > MaxModules || (port != 0 && port + count - 1 > 65535)) {
        err << "korvel-module-sim: bad count " << parser.value(countOption) << " (1.." << MaxModules
            << ", the ports must fit below 65536)\n";
        return 2;
    }
    if (!delayOk || delay > MaxDelayMs) {
        err << "korvel-module-sim: bad delay " << parser.value(delayOption) << " (0.." << MaxDelayMs << " ms)\n";
        return 2;
    }
    if (address.isNull()) {
        err << "korvel-module-sim: bad address " << parser.value(bindOption) << "\n";
        return 2;
    }
    if (!ParseVersion(parser.value(firmwareOption), major, minor)) {
        err << "korvel-module-sim: bad firmware version " << parser.value(firmwareOption) << " (expected e.g. 1.3)\n";
        return 2;
    }
    if (!ParseMac(parser.value(macOption), mac)) {
        err << "korvel-module-sim: bad MAC address " << parser.value(macOption)
            << " (expected e.g. 12-34-56-78-9A-BC)\n";
        return 2;
    }

    if (!lineTimeOk || !(lineTime >= 0 && lineTime <= MaxLineTimeFactor)) {
        err << "korvel-module-sim: bad line time " << parser.value(lineTimeOption) << " (0.." << MaxLineTimeFactor
            << ")\n";
        return 2;
    }
    std::vector<TSimDevice> devices;
    for (const QString& text : parser.values(deviceOption)) {
        const auto device = ParseDeviceOption(text);
        const bool repeated = device && std::any_of(devices.begin(), devices.end(), [&](const TSimDevice& other) {
                                  return other.Channel() == device->Channel() && other.Unit() == device->Unit();
                              });
        if (!device || repeated) {
            err << "korvel-module-sim: bad device " << text
                << (repeated ? " (that unit is on that channel already)\n" : " (expected e.g. 1:5 or 2:17:9600:N:1)\n");
            return 2;
        }
        devices.push_back(*device);
    }

    // One event loop serves the whole fleet; each module keeps its own registers.
    std::vector<std::unique_ptr<TModuleSimServer>> modules;
    QTextStream out(stdout);
    for (uint i = 0; i < count; ++i) {
        auto& module = modules.emplace_back(std::make_unique<TModuleSimServer>());
        std::array<uint8_t, 6> moduleMac = mac;
        moduleMac.back() = uint8_t(mac.back() + i);
        module->SetVersion(major, minor);
        module->SetMac(moduleMac);
        module->SetJumperFitted(parser.isSet(jumperOption));
        module->SetAnswerDelay(int(delay));
        module->Lines().SetLineTimeFactor(lineTime);
        for (const TSimDevice& device : devices)
            module->Lines().AddDevice(device);
        const quint16 modulePort = quint16(port == 0 ? 0 : port + i);
        if (!module->Listen(address, modulePort)) {
            err << "korvel-module-sim: cannot listen on " << address.toString() << ":" << modulePort << ": "
                << module->ErrorText() << "\n";
            return 1;
        }
        if (parser.isSet(verboseOption)) {
            const QString prefix = count > 1 ? QString::number(module->Port()) + ": " : QString();
            module->Lines().OnRouted = [prefix](uint8_t unit, uint8_t function, const char* outcome) {
                QTextStream(stdout) << prefix << "unit " << int(unit) << " function " << int(function) << ": "
                                    << outcome << Qt::endl;
            };
            QObject::connect(module.get(), &TModuleSimServer::RequestServed,
                             [prefix](int functionCode, int startAddress, int count) {
                                 QTextStream(stdout)
                                     << prefix << Describe(functionCode, startAddress, count) << Qt::endl;
                             });
        }
        out << "korvel-module-sim: listening on " << address.toString() << ":" << module->Port() << "\n";
    }
    out.flush();
    return app.exec();
}
