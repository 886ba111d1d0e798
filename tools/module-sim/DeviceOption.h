#pragma once
// The simulator's --device option: CH:UNIT[:BAUD:PARITY:STOPBITS], the channel numbered 1 or 2
// as the window numbers them, the unit 1..247, the baud rate as the baud list writes it, the
// parity N, O or E and the stop bits 1 or 2. Without serial settings the device takes the
// channel's factory settings.

#include "SimDevice.h"

#include <QString>

#include <optional>

std::optional<TSimDevice> ParseDeviceOption(const QString& text);
