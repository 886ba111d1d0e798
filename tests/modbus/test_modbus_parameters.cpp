// Status texts, exception names, register byte order and the KEY=VALUE parameter text of the masters.
#include "ModbusMaster.h"
#include "modbus.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ModbusText, StatusTexts)
{
    const struct {
        uint8_t status, exceptionCode;
        const char* text;
    } cases[] = {
        {0, 0, "Есть связь"},
        {1, 0, "Нет ответа"},
        {2, 0, "Ошибка CRC"},
        {3, 2, "Исключение (код: 2)"},
        {0x83, 2, "Исключение (код: 2)"},
        {3, 255, "Исключение (код: 255)"},
        {4, 0, "Ошибка формата кадра (сет. адрес в ответе)"},
        {5, 0, "Неопределенный идентификатор заявки - состояние недоступно"},
        {6, 0, "Ошибка формата кадра (длина ответа)"},
        {0x86, 0, "Ошибка формата кадра (длина ответа)"},
        {7, 0, "Ошибка формата кадра (код функции)"},
        {8, 0, "Неизвестный код ошибки"},
        {127, 0, "Неизвестный код ошибки"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StatusText(c.status, c.exceptionCode), c.text) << int(c.status);
}

// A reply of the wrong length says what came against what was asked for, from the unit on; an answer
// to a write says it has probably been done.
TEST(ModbusText, WrongLengthNamesTheLengths)
{
    const std::string written = "; устройство ответило, запись, вероятно, выполнена";
    const struct {
        std::vector<uint8_t> reply;
        int expected;
        std::string text;
    } cases[] = {
        {{7, 3, 6, 0, 1, 0, 2, 0, 3}, 11, "Ошибка формата кадра (длина ответа: 9 байт вместо 11)"},
        {{7, 3, 10, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5}, 11, "Ошибка формата кадра (длина ответа: 13 байт вместо 11)"},
        {{7, 3, 6, 0, 1, 0, 2, 0, 3, 0, 4},
         11,
         "Ошибка формата кадра (длина ответа: счётчик байтов 6 при 8 байтах данных)"},
        {{7, 16, 0, 100, 0}, 6, "Ошибка формата кадра (длина ответа: 5 байт вместо 6)" + written},
        {{7, 6, 0, 100, 0}, 6, "Ошибка формата кадра (длина ответа: 5 байт вместо 6)" + written},
        {{7, 5, 0, 100, 0xFF}, 6, "Ошибка формата кадра (длина ответа: 5 байт вместо 6)" + written},
        // Right in itself: the fault was its header's, which this frame no longer shows.
        {{7, 3, 8, 0, 1, 0, 2, 0, 3, 0, 4}, 11, "Ошибка формата кадра (длина ответа)"},
        {{}, 11, "Ошибка формата кадра (длина ответа: 0 байт вместо 11)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WrongLengthText(c.reply, c.expected), c.text) << c.text;
}

// The codes the protocol defines by name; the gaps between them and anything past them by number.
TEST(ModbusText, ExceptionNames)
{
    const struct {
        uint8_t code;
        const char* name;
    } cases[] = {
        {0, "код 0"},
        {1, "недопустимая функция"},
        {2, "недопустимый адрес данных"},
        {3, "недопустимое значение данных"},
        {4, "отказ устройства"},
        {5, "запрос принят, выполняется"},
        {6, "устройство занято"},
        {7, "код 7"},
        {8, "ошибка четности памяти"},
        {9, "код 9"},
        {10, "шлюз: путь недоступен"},
        {11, "шлюз: устройство не отвечает"},
        {12, "код 12"},
        {255, "код 255"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExceptionName(c.code), c.name) << int(c.code);
}

TEST(ModbusText, SwapBytePairsInPlaceAndApart)
{
    uint8_t bytes[] = {0xC0, 0xA8, 0x7F, 0x0A};
    uint8_t copy[4] = {};
    SwapBytePairs(bytes, copy, 2);
    SwapBytePairs(bytes, bytes, 2);
    const uint8_t expected[] = {0xA8, 0xC0, 0x0A, 0x7F};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), bytes));
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), copy));
}

TEST(ModbusText, CountLinesCountsCrLfPairsOnly)
{
    EXPECT_EQ(CountLines(""), 0);
    EXPECT_EQ(CountLines("A=1"), 0);
    EXPECT_EQ(CountLines("A=1\r\nB=2\r\n"), 2);
    EXPECT_EQ(CountLines("A=1\rB=2\nC\r\r\n\n"), 1);
}

TEST(ModbusText, ParseParameters)
{
    using namespace std::string_literals;
    const auto pairs =
        ParseParameters(" timeout = 20 \r\n=5\r\nnoequals\r\nKey=a=b\r\nip\xFF"s + "address=1.2.3.4\0\r\nlast=1"s);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].Key, "TIMEOUT");
    EXPECT_EQ(pairs[0].Value, "20");
    EXPECT_EQ(pairs[1].Key, "KEY");
    EXPECT_EQ(pairs[1].Value, "A=B");
    EXPECT_EQ(pairs[2].Key, "IPADDRESS");
    EXPECT_EQ(pairs[2].Value, "1.2.3.4");
}

struct ParameterCase {
    const char* name;
    std::string text;
    uint32_t timeout;
    uint8_t repeatCount;
    int port;
    friend void PrintTo(const ParameterCase& c, std::ostream* os) { *os << c.name; }
};

class ModbusParameterText : public testing::TestWithParam<ParameterCase> {};

// Starting from TIMEOUT=50, REPEATCOUNT=2, port 502.
TEST_P(ModbusParameterText, Applies)
{
    const ParameterCase& c = GetParam();
    TModbusTCPMaster master;
    master.SetParameters("TIMEOUT=50\r\nREPEATCOUNT=2\r\nTCPPORT=502\r\n");
    int changes = 0;
    master.OnParametersChanged = [&](TModbusMaster*) { ++changes; };
    master.SetParameters(c.text);
    EXPECT_EQ(master.Timeout(), c.timeout);
    EXPECT_EQ(master.RepeatCount(), c.repeatCount);
    EXPECT_EQ(master.GetConnectionText(), ":" + std::to_string(c.port));
    EXPECT_EQ(changes, 1);
}

INSTANTIATE_TEST_SUITE_P(
    , ModbusParameterText,
    testing::Values(ParameterCase{"lowerCaseKey", "timeout=20\r\n", 20, 2, 502},
                    ParameterCase{"noFinalLineEnd", "timeout=20", 50, 2, 502},
                    ParameterCase{"repeatCountModulo256", "REPEATCOUNT=258\r\n", 50, 2, 502},
                    ParameterCase{"negativeTimeout", "TIMEOUT=-1\r\n", 4294967295u, 2, 502},
                    ParameterCase{"portZero", "TCPPORT=0\r\n", 50, 2, 502},
                    ParameterCase{"portAbove65535", "TCPPORT=65536\r\n", 50, 2, 502},
                    ParameterCase{"portSet", "TCPPORT=1502\r\n", 50, 2, 1502},
                    ParameterCase{"notANumberSkipped", "TIMEOUT=abc\r\nREPEATCOUNT=5\r\n", 50, 5, 502},
                    ParameterCase{"outOfRangeStops", "TIMEOUT=4294967296\r\nREPEATCOUNT=5\r\n", 50, 2, 502},
                    ParameterCase{"loneMinusStops", "TIMEOUT=-\r\nREPEATCOUNT=5\r\n", 50, 2, 502},
                    ParameterCase{"laterLineWins", "TIMEOUT=1\r\nTIMEOUT=2\r\n", 2, 2, 502},
                    ParameterCase{"portAfterStopStillApplied", "TIMEOUT=99999999999\r\nTCPPORT=600\r\n", 50, 2, 600}),
    [](const auto& info) { return info.param.name; });

TEST(ModbusParameters, TextGivenBack)
{
    TModbusTCPMaster master;
    master.SetParameters("IPADDRESS=192.168.127.10\r\nTCPPORT=502\r\nTIMEOUT=50\r\nREPEATCOUNT=2\r\n");
    EXPECT_EQ(master.GetParametersText(), "IPAddress=192.168.127.10\r\nTCPPort=502\r\nTimeout=50\r\nRepeatCount=2\r\n");
    EXPECT_EQ(master.GetConnectionText(), "192.168.127.10:502");
    EXPECT_EQ(master.TransportKind(), 2);

    // The text given back is taken again as it is.
    TModbusTCPMaster again;
    again.SetParameters(master.GetParametersText());
    EXPECT_EQ(again.GetParametersText(), master.GetParametersText());
}
