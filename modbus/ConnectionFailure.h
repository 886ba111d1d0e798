#pragma once
// Why a connection to a peer could not be made or kept until it answered. An exchange that got no reply carries it, so
// that a refused port or a process out of descriptors is told as such rather than as a silent peer.

#include <cstdint>
#include <string>

enum class TConnectionFailure : uint8_t {
    None,          // connected, or not tried: a missing reply was waited out
    Refused,       // nothing listens on the port: the peer reset the connect
    Unreachable,   // no route to the address, or an address the system will not connect to
    NoSocket,      // the system gave no socket: out of descriptors or memory
    ClosedByPeer,  // the peer took the connection and closed it without answering
};

// The failure a socket error stands for (a TClientSocket error code).
TConnectionFailure ConnectionFailureOf(int socketErrorCode);

// What an exchange that got no reply is told as: the no-reply status text with the failure named
// ("Нет ответа (соединение отвергнуто)"); no socket is an error of its own, not a silent peer.
std::string NoReplyText(TConnectionFailure failure);
