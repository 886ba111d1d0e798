#include "ExchangeRecord.h"

#include "DeviceRequests.h"
#include "ExchangeHeader.h"
#include "ModbusMaster.h"
#include "ModuleRegisters.h"
#include "modbus.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

constexpr int MbapHeaderSize = TModbusTCPMaster::MbapHeaderSize;
constexpr int UnitOffset = MbapHeaderSize;
constexpr int FunctionOffset = MbapHeaderSize + 1;
constexpr int DataOffset = MbapHeaderSize + 2;
constexpr int LengthOffset = TModbusTCPMaster::LengthFieldAt;
constexpr int ExceptionFlag = TModbusTCPMaster::ExceptionFlag;
constexpr int ExceptionFrameSize = TModbusTCPMaster::ExceptionReplyLength;

int Word(const QByteArray& frame, int at)
{
    return (uint8_t(frame[at]) << 8) | uint8_t(frame[at + 1]);
}

// The header fields every frame long enough to have them carries.
TExchangeRecord DecodeHeader(const QByteArray& frame, TExchangeDirection direction)
{
    TExchangeRecord record;
    record.Direction = direction;
    record.Bytes = frame;
    if (frame.size() > UnitOffset) {
        record.TransactionId = Word(frame, 0);
        record.Unit = uint8_t(frame[UnitOffset]);
    }
    if (frame.size() > FunctionOffset)
        record.Function = uint8_t(frame[FunctionOffset]);
    return record;
}

// The frame is exactly as long as its MBAP header says, and long enough to hold a function.
bool HasItsOwnLength(const QByteArray& frame)
{
    return frame.size() > FunctionOffset && frame.size() == MbapHeaderSize + Word(frame, LengthOffset);
}

}  // namespace

QString RequestMeaning(int unit, int function, int firstRegister, int count)
{
    if (unit == ModuleUnitId && firstRegister == ConfigFirstRegister) {
        if (function == FunctionReadHoldingRegisters && count == ConfigReadRegisterCount)
            return QCoreApplication::translate("TExchangeRecord", "чтение конфигурации");
        if (function == FunctionWriteMultipleRegisters && count == ConfigWriteRegisterCount)
            return QCoreApplication::translate("TExchangeRecord", "запись конфигурации");
    }
    if (unit == ModuleUnitId && function == FunctionReadHoldingRegisters && firstRegister == InfoFirstRegister &&
        count == InfoRegisterCount)
        return QCoreApplication::translate("TExchangeRecord", "чтение информации");
    if (function == FunctionReadHoldingRegisters)
        return QCoreApplication::translate("TExchangeRecord", "чтение регистров");
    if (function == FunctionReadInputRegisters)
        return QCoreApplication::translate("TExchangeRecord", "чтение входных регистров");
    if (function == FunctionWriteMultipleRegisters)
        return QCoreApplication::translate("TExchangeRecord", "запись регистров");
    return QCoreApplication::translate("TExchangeRecord", "функция %1").arg(function);
}

QString ExceptionMeaning(int code)
{
    // The name is the one korvel-cli and the collection tell too.
    return QCoreApplication::translate("TExchangeRecord", "исключение: %1")
        .arg(QString::fromStdString(ExceptionName(uint8_t(code))));
}

TExchangeRecord DecodeRequest(const QByteArray& frame)
{
    TExchangeRecord record = DecodeHeader(frame, TExchangeDirection::Request);
    if (frame.size() >= DataOffset + 4) {
        record.FirstRegister = Word(frame, DataOffset);
        record.Count = Word(frame, DataOffset + 2);
    }
    record.Meaning = RequestMeaning(record.Unit, record.Function, record.FirstRegister, record.Count);
    return record;
}

TExchangeRecord DecodeReply(const QByteArray& frame, const TExchangeRecord* request)
{
    TExchangeRecord record = DecodeHeader(frame, TExchangeDirection::Reply);
    if (request) {
        record.FirstRegister = request->FirstRegister;
        record.Count = request->Count;
        record.Meaning = request->Meaning;
    }
    // Bit 7 alone is no exception: stray bytes have it as often as not. An exception is unit,
    // function and code, nothing more.
    const bool exceptionFlag = record.Function >= 0 && (record.Function & ExceptionFlag) != 0;
    if (!HasItsOwnLength(frame) || (exceptionFlag && frame.size() != ExceptionFrameSize)) {
        record.IsMalformed = true;
        record.Meaning = QCoreApplication::translate("TExchangeRecord", "кадр неверной длины");
    } else if (exceptionFlag) {
        record.IsException = true;
        record.Meaning = ExceptionMeaning(uint8_t(frame[DataOffset]));
    }
    return record;
}

TExchangeRecord EventRecord(TExchangeEvent event, const QString& meaning)
{
    TExchangeRecord record;
    record.Event = event;
    record.Meaning = meaning;
    return record;
}

QString DirectionArrow(TExchangeDirection direction)
{
    switch (direction) {
    case TExchangeDirection::Request: return QStringLiteral("→");
    case TExchangeDirection::Reply: return QStringLiteral("←");
    case TExchangeDirection::Event: break;
    }
    return QStringLiteral("×");
}

QString RegistersText(const TExchangeRecord& record)
{
    if (record.FirstRegister < 0 || record.Count <= 0)
        return {};
    return QStringLiteral("%1..%2 (%3)")
        .arg(record.FirstRegister)
        .arg(record.FirstRegister + record.Count - 1)
        .arg(record.Count);
}

QString HexText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString TraceFileLine(const TExchangeRecord& record)
{
    static const char* const Marks[] = {">>", "<<", "!!"};
    QString line = ExchangeClockText(record.WallMs) + ' ' + QString::number(record.TimeMs, 'f', 1) + ' ' +
                   Marks[int(record.Direction)];
    if (!record.Bytes.isEmpty())
        line += ' ' + HexText(record.Bytes);
    // The field names are the file's own layout, the same whatever language the window speaks, so
    // that traces read and parse alike; only the meaning is the window's text.
    QStringList text;
    if (record.TransactionId >= 0)
        text << QStringLiteral("транзакция %1").arg(record.TransactionId);
    if (record.Unit >= 0)
        text << QStringLiteral("устройство %1").arg(record.Unit);
    if (record.Function >= 0)
        text << QStringLiteral("функция %1").arg(record.Function);
    if (const QString registers = RegistersText(record); !registers.isEmpty())
        text << QStringLiteral("регистры ") + registers;
    if (record.LatencyMs >= 0)
        text << QStringLiteral("%1 мс").arg(record.LatencyMs, 0, 'f', 1);
    text << record.Meaning;
    return line + " | " + text.join(QStringLiteral(", "));
}
