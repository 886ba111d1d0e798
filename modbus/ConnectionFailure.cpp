#include "ConnectionFailure.h"

#include "ClientSocket.h"
#include "modbus.h"

#include <QAbstractSocket>

TConnectionFailure ConnectionFailureOf(int socketErrorCode)
{
    switch (socketErrorCode - TClientSocket::SocketErrorBase) {
    case QAbstractSocket::ConnectionRefusedError: return TConnectionFailure::Refused;
    case QAbstractSocket::SocketResourceError: return TConnectionFailure::NoSocket;
    case QAbstractSocket::RemoteHostClosedError: return TConnectionFailure::ClosedByPeer;
    default: return TConnectionFailure::Unreachable;
    }
}

std::string NoReplyText(TConnectionFailure failure)
{
    const std::string noReply = StatusText(StatusNoReply, 0);
    switch (failure) {
    case TConnectionFailure::Refused: return noReply + " (соединение отвергнуто)";
    case TConnectionFailure::Unreachable: return noReply + " (адрес недоступен)";
    case TConnectionFailure::ClosedByPeer: return noReply + " (соединение закрыто модулем)";
    case TConnectionFailure::NoSocket: return "Ошибка создания сокета (недостаточно дескрипторов или памяти)";
    case TConnectionFailure::None: break;
    }
    return noReply;
}
