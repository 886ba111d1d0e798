#include "CliOutcome.h"

#include "modbus.h"

const char* ReasonWord(TReason reason)
{
    switch (reason) {
    case TReason::Timeout: return "timeout";
    case TReason::Refused: return "refused";
    case TReason::Unreachable: return "unreachable";
    case TReason::Exception: return "exception";
    case TReason::Mismatch: return "mismatch";
    case TReason::Checksum: return "checksum";
    case TReason::NotAModule: return "not_a_module";
    case TReason::Interrupted: return "interrupted";
    case TReason::Io: return "io";
    case TReason::Usage: return "usage";
    }
    return "io";
}

TCliFailure ModuleFailure(const TModuleResult& result)
{
    TCliFailure failure{result.Status, TReason::Io, 0, result.Text};
    switch (result.Status) {
    case StatusNoReply: failure.Reason = TReason::Timeout; break;
    case StatusException:
        failure.Reason = TReason::Exception;
        failure.Exception = result.Exception;
        break;
    default:
        // A reply of the wrong length, function or unit was received but cannot be used.
        failure.Reason = TReason::Io;
        break;
    }
    return failure;
}

TCliFailure CliFailure(TReason reason, const std::string& text)
{
    int status = StatusFileError;
    switch (reason) {
    case TReason::Mismatch: status = StatusMismatch; break;
    case TReason::Checksum: status = StatusChecksum; break;
    case TReason::NotAModule: status = StatusNotAModule; break;
    case TReason::Interrupted: status = StatusInterrupted; break;
    case TReason::Usage: status = StatusUsage; break;
    default: status = StatusFileError; break;
    }
    return {status, reason, 0, text};
}
