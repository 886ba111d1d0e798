#pragma once
// A loopback ModbusTCP peer on a thread of its own that floods: once its mode says so, it sends
// bytes as fast as the connection takes them until the master hangs up. Every other request gets
// a proper read reply. Being outside the master's event loop, it floods as a remote peer would.

#include <atomic>
#include <cstdint>
#include <thread>

class TFloodServer {
public:
    enum class TMode {
        InsteadOfFirstReply,  // the first request gets the stream instead of its reply
        AfterFirstReply,      // the first request is answered; the stream follows unasked on StartFlood()
    };

    explicit TFloodServer(TMode mode);
    ~TFloodServer();
    TFloodServer(const TFloodServer&) = delete;
    TFloodServer& operator=(const TFloodServer&) = delete;

    // On 127.0.0.1, at a free port.
    bool Listen();
    uint16_t Port() const { return Port_; }

    void StartFlood() { FloodStarted_ = true; }

    int Connections() const { return Connections_; }
    int Requests() const { return Requests_; }
    // The master has closed the flooded connection.
    bool FloodEnded() const { return FloodEnded_; }
    int64_t BytesFlooded() const { return BytesFlooded_; }

private:
    void Run();
    void Serve(int socket);
    void Flood(int socket);

    TMode Mode_;
    int Listener_ = -1;
    uint16_t Port_ = 0;
    std::thread Thread_;
    std::atomic<bool> Stop_{false};
    std::atomic<int> Connections_{0};
    std::atomic<int> Requests_{0};
    std::atomic<bool> FloodStarted_{false};
    std::atomic<bool> FloodEnded_{false};
    std::atomic<int64_t> BytesFlooded_{0};
};
