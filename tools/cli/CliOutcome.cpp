#include "CliOutcome.h"

#include "modbus.h"

const char* ReasonWord(TReason reason)
{
    switch (reason) {
    case TReason::Timeout: return "timeout";
    case TReason::Refused: return "refused";
    case TReason::Closed: return "closed";
    case TReason::Unreachable: return "unreachable";
    case TReason::Exception: return "exception";
    case TReason::GatewayPath: return "gateway_path";
    case TReason::GatewayTarget: return "gateway_target";
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
    case StatusNoReply:
        switch (result.Connection) {
        case TConnectionFailure::None: failure.Reason = TReason::Timeout; break;
        case TConnectionFailure::Refused: failure.Reason = TReason::Refused; break;
        case TConnectionFailure::ClosedByPeer: failure.Reason = TReason::Closed; break;
        case TConnectionFailure::Unreachable: failure.Reason = TReason::Unreachable; break;
        // The tool's own lack of a descriptor, not the module's doing.
        case TConnectionFailure::NoSocket: failure.Reason = TReason::Io; break;
        }
        break;
    case StatusException:
        failure.Reason = result.Exception == ExceptionGatewayPath     ? TReason::GatewayPath
                         : result.Exception == ExceptionGatewayTarget ? TReason::GatewayTarget
                                                                      : TReason::Exception;
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
