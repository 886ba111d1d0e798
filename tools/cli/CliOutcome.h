#pragma once
// Why a line of korvel-cli failed, as one word from a fixed set that scripts can branch on, and the
// status number that goes with it. Module failures keep the Modbus master's status (1 no reply,
// 3 exception ...); failures of the tool's own making number from CliStatusFirst on, apart from
// them.

#include "ModuleClient.h"

#include <cstdint>
#include <string>

enum class TReason : uint8_t {
    Timeout,        // the module did not answer in time
    Refused,        // nothing listens on the port
    Closed,         // the module took the connection and closed it without answering
    Unreachable,    // no route to the address
    Exception,      // the module answered with a Modbus exception
    GatewayPath,    // the module has no path to the line of the device asked (exception 0x0A)
    GatewayTarget,  // the device on the line did not answer the module (exception 0x0B)
    Mismatch,       // the module holds other values than were written
    Checksum,       // the stored configuration's checksum is wrong
    NotAModule,     // the device answers, but not as a module does
    Interrupted,    // the run was stopped before the module was done
    Io,             // a file, stream or socket failed, or the reply could not be understood
    Usage,          // the command line cannot be run
};

const char* ReasonWord(TReason reason);

enum : int {
    CliStatusFirst = 20,
    StatusMismatch = CliStatusFirst,
    StatusChecksum,
    StatusNotAModule,
    StatusInterrupted,
    StatusFileError,
    StatusUsage,
};

struct TCliFailure {
    int Status = 0;
    TReason Reason = TReason::Io;
    uint8_t Exception = 0;  // the Modbus exception code when Reason is Exception
    std::string Text;
};

// A failed exchange with a module, from the module client's result.
TCliFailure ModuleFailure(const TModuleResult& result);
// A failure of the tool's own making: its status follows from the reason.
TCliFailure CliFailure(TReason reason, const std::string& text);
