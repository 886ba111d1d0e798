#include "modbus.h"

#include "RConvert.h"

#include <algorithm>
#include <cstring>

std::string StatusText(uint8_t status, uint8_t exceptionCode)
{
    switch (status % 128) {
    case StatusOk: return "Есть связь";
    case StatusNoReply: return "Нет ответа";
    case StatusCRCError: return "Ошибка CRC";
    case StatusException: return "Исключение (код: " + std::to_string(exceptionCode) + ")";
    case StatusWrongUnit: return "Ошибка формата кадра (сет. адрес в ответе)";
    case StatusUnknownOrder: return "Неопределенный идентификатор заявки - состояние недоступно";
    case StatusWrongLength: return "Ошибка формата кадра (длина ответа)";
    case StatusWrongFunction: return "Ошибка формата кадра (код функции)";
    default: return "Неизвестный код ошибки";
    }
}

std::string WrongLengthText(std::span<const uint8_t> reply, int expectedLength)
{
    constexpr size_t FunctionAt = 1;
    constexpr size_t ByteCountAt = 2;
    const uint8_t function = reply.size() > FunctionAt ? reply[FunctionAt] & 0x7F : 0;
    const bool read = function >= 1 && function <= 4;
    const bool write = function == 5 || function == 6 || function == 15 || function == 16;
    std::string text = StatusText(StatusWrongLength, 0);
    const size_t data = reply.size() > ByteCountAt ? reply.size() - ByteCountAt - 1 : 0;
    if (int(reply.size()) != expectedLength)
        text = "Ошибка формата кадра (длина ответа: " + std::to_string(reply.size()) + " байт вместо " +
               std::to_string(expectedLength) + ")";
    else if (read && reply.size() > ByteCountAt && reply[ByteCountAt] != data)
        text = "Ошибка формата кадра (длина ответа: счётчик байтов " + std::to_string(reply[ByteCountAt]) + " при " +
               std::to_string(data) + " байтах данных)";
    if (write)
        text += "; устройство ответило, запись, вероятно, выполнена";
    return text;
}

std::string ExceptionName(uint8_t code)
{
    switch (code) {
    case 1: return "недопустимая функция";
    case 2: return "недопустимый адрес данных";
    case 3: return "недопустимое значение данных";
    case 4: return "отказ устройства";
    case 5: return "запрос принят, выполняется";
    case 6: return "устройство занято";
    case 8: return "ошибка четности памяти";
    case 10: return "шлюз: путь недоступен";
    case 11: return "шлюз: устройство не отвечает";
    default: return "код " + std::to_string(code);
    }
}

std::string LineExceptionName(uint8_t code)
{
    switch (code) {
    case ExceptionGatewayPath: return "нет пути к линии";
    case ExceptionGatewayTarget: return "устройство на линии не ответило";
    default: return ExceptionName(code);
    }
}

void SwapBytePairs(const void* source, void* destination, size_t wordCount)
{
    const auto* from = static_cast<const uint8_t*>(source);
    auto* to = static_cast<uint8_t*>(destination);
    for (size_t i = 0; i < wordCount; ++i) {
        const uint8_t low = from[2 * i];
        const uint8_t high = from[2 * i + 1];
        to[2 * i] = high;
        to[2 * i + 1] = low;
    }
}

int CountLines(const std::string& text)
{
    int count = 0;
    for (size_t at = text.find(ParameterLineEnd); at != std::string::npos; at = text.find(ParameterLineEnd, at + 2))
        ++count;
    return count;
}

namespace {

std::string UpperCaseLatin(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; });
    return text;
}

}  // namespace

std::vector<TModbusMasterParameter> ParseParameters(std::string text)
{
    RemoveChars(text, std::string_view(" \0\xFF", 3));
    std::vector<TModbusMasterParameter> parameters;
    size_t lineStart = 0;
    for (size_t lineEnd = text.find(ParameterLineEnd); lineEnd != std::string::npos;
         lineEnd = text.find(ParameterLineEnd, lineStart)) {
        const std::string line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        const size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0)
            continue;
        parameters.push_back({UpperCaseLatin(line.substr(0, equals)), UpperCaseLatin(line.substr(equals + 1))});
    }
    return parameters;
}
