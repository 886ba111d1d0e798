#include "FloodServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

constexpr int MbapHeaderSize = 6;
constexpr int FloodBlockSize = 64 * 1024;
// Blocking calls wake this often, so that the server notices that it is being stopped.
constexpr int WakeMilliseconds = 20;

uint16_t WordAt(const uint8_t* at)
{
    return uint16_t(at[0] << 8 | at[1]);
}

void PutWord(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value >> 8);
    at[1] = uint8_t(value);
}

void SetWakeTimeouts(int socket)
{
    const timeval wake{0, WakeMilliseconds * 1000};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake);
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &wake, sizeof wake);
}

}  // namespace

TFloodServer::TFloodServer(TMode mode) : Mode_(mode)
{}

TFloodServer::~TFloodServer()
{
    Stop_ = true;
    if (Thread_.joinable())
        Thread_.join();
    if (Listener_ >= 0)
        close(Listener_);
}

bool TFloodServer::Listen()
{
    Listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (Listener_ < 0 || bind(Listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(Listener_, 4) != 0 || getsockname(Listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    Port_ = ntohs(address.sin_port);
    Thread_ = std::thread([this] { Run(); });
    return true;
}

void TFloodServer::Run()
{
    while (!Stop_) {
        pollfd waiting{Listener_, POLLIN, 0};
        if (poll(&waiting, 1, WakeMilliseconds) <= 0)
            continue;
        const int socket = accept4(Listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        ++Connections_;
        SetWakeTimeouts(socket);
        Serve(socket);
        close(socket);
    }
}

void TFloodServer::Serve(int socket)
{
    std::vector<uint8_t> pending;
    uint8_t buffer[512];
    while (!Stop_) {
        const ssize_t received = recv(socket, buffer, sizeof buffer, 0);
        if (received == 0 || (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return;
        if (received > 0)
            pending.insert(pending.end(), buffer, buffer + received);
        while (pending.size() >= size_t(MbapHeaderSize) &&
               pending.size() >= size_t(MbapHeaderSize + WordAt(&pending[4]))) {
            const size_t frameSize = MbapHeaderSize + WordAt(&pending[4]);
            const std::vector<uint8_t> request(pending.begin(), pending.begin() + long(frameSize));
            pending.erase(pending.begin(), pending.begin() + long(frameSize));
            const bool first = Requests_++ == 0;
            if (first && Mode_ == TMode::InsteadOfFirstReply) {
                Flood(socket);
                return;
            }
            // A read reply with as many zero registers as asked for.
            const uint16_t count = request.size() >= 12 ? WordAt(&request[10]) : 0;
            std::vector<uint8_t> reply(size_t(MbapHeaderSize + 3 + 2 * count), 0);
            PutWord(&reply[0], WordAt(&request[0]));
            PutWord(&reply[4], uint16_t(3 + 2 * count));
            reply[6] = request[6];
            reply[7] = request[7];
            reply[8] = uint8_t(2 * count);
            send(socket, reply.data(), reply.size(), MSG_NOSIGNAL);
            if (first) {
                while (!Stop_ && !FloodStarted_)
                    poll(nullptr, 0, WakeMilliseconds);
                Flood(socket);
                return;
            }
        }
    }
}

void TFloodServer::Flood(int socket)
{
    // From any offset these bytes read as the start of a long frame of another transaction from
    // unit 255, so that a master waiting for its reply keeps waiting rather than judging them.
    const std::vector<uint8_t> block(FloodBlockSize, 0xFF);
    while (!Stop_) {
        const ssize_t sent = send(socket, block.data(), block.size(), MSG_NOSIGNAL);
        if (sent > 0)
            BytesFlooded_ += sent;
        else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
    }
    FloodEnded_ = !Stop_;
}
