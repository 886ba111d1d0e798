#pragma once
// Support routines of the Modbus masters: status texts, exception names, register byte order and the
// KEY=VALUE parameter text.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Status codes reported at the completion of every order.
enum : uint8_t {
    StatusOk = 0,
    StatusNoReply = 1,
    StatusCRCError = 2,
    StatusException = 3,
    StatusWrongUnit = 4,
    StatusUnknownOrder = 5,
    StatusWrongLength = 6,
    StatusWrongFunction = 7,
};

std::string StatusText(uint8_t status, uint8_t exceptionCode);
// The wrong-length status with the length that came and the length the request asks for, both from
// the unit identifier on (reply: the frame from there); a read whose byte count disagrees with its
// data names both. A peer that answered a write has probably done it, and the text says so, so that
// nobody takes it for a write that never arrived.
std::string WrongLengthText(std::span<const uint8_t> reply, int expectedLength);
// The name of a Modbus exception code: "недопустимый адрес данных" for 2, "код N" for a code the
// protocol does not define.
std::string ExceptionName(uint8_t code);
// The same told from the side of a device on the module's line: the two gateway exceptions say what
// happened on the line ("нет пути к линии", "устройство на линии не ответило").
std::string LineExceptionName(uint8_t code);

// The gateway exceptions: no path to the line asked for, and no answer from the device on it.
inline constexpr uint8_t ExceptionGatewayPath = 0x0A;
inline constexpr uint8_t ExceptionGatewayTarget = 0x0B;

// Copies wordCount 16-bit words, exchanging the two bytes of each: caller buffers hold registers
// low byte first, the wire carries them high byte first. Source and destination may be the same.
void SwapBytePairs(const void* source, void* destination, size_t wordCount);

struct TModbusMasterParameter {
    std::string Key;
    std::string Value;
};

// Parameter lines end with CR LF; text after the last CR LF is not a line.
inline constexpr const char* ParameterLineEnd = "\r\n";

int CountLines(const std::string& text);
// Blanks, NUL and 0xFF bytes are removed first; keys and values come back upper-cased; lines
// without a key are skipped.
std::vector<TModbusMasterParameter> ParseParameters(std::string text);
