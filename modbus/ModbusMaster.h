#pragma once
// The queue-driven Modbus master: a table of orders served one exchange at a time, a 10 ms
// response timer, retransmissions and a status code for every completed order. TModbusMaster is
// the transport-independent engine; TModbusTCPMaster carries it over one ModbusTCP connection.

#include "ClientSocket.h"
#include "ConnectionFailure.h"
#include "modbus.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

class TModbusMaster;

using TModbusOrderCompleteEvent = std::function<void(TModbusMaster* sender, int orderId, uint8_t status)>;
using TModbusMasterEvent = std::function<void(TModbusMaster* sender)>;

// Order kinds.
enum : uint8_t {
    OrderCyclic = 0,
    OrderOneShot = 1,
    OrderPriority = 2,
};

// Negative results of queueing and of SetOrderCallback.
enum : int {
    OrderNoMemory = -1,
    OrderTableFull = -2,
    OrderFunctionNotSupported = -3,
    OrderNotFound = -4,
    // A request with no registers, or longer than the largest Modbus request.
    OrderRequestNotEncodable = -5,
};

// Function codes the application uses.
enum : uint8_t {
    FunctionReadHoldingRegisters = 3,
    FunctionWriteMultipleRegisters = 16,
};

struct TModbusMasterOrder {
    uint8_t UnitId = 0;
    uint8_t FunctionCode = 0;
    uint32_t StartAddress = 0;
    uint16_t Count = 0;
    uint8_t Kind = OrderCyclic;
    uint16_t ExpectedLength = 0;
    std::vector<uint16_t> Data;
    TModbusOrderCompleteEvent Callback;
};

class EModbusMasterChangeMaxCountOrdersInRun : public std::runtime_error {
public:
    EModbusMasterChangeMaxCountOrdersInRun();
};

class EModbusMasterMaxCountOrdersTooBig : public std::runtime_error {
public:
    explicit EModbusMasterMaxCountOrdersTooBig(int32_t requestedCount);
    int32_t RequestedCount;
};

// What a master tells its trace sink.
enum class TModbusTraceEvent : uint8_t {
    Sent,            // bytes: the request as it goes out
    Received,        // bytes: the reply as judged; status: the judgement
    Timeout,         // no complete reply in time; bytes: what had come of it
    Retransmission,  // the request goes out again
    Connected,
    Disconnected,
    ConnectionFailed,
    ConnectionRefused,  // nothing listens on the port
    ClosedByPeer,       // the peer closed the connection before it answered
};

// Told every transmission, reply and connection event while attached to a master; a master
// without one spends nothing on tracing.
class TModbusTraceSink {
public:
    virtual ~TModbusTraceSink() = default;
    virtual void Trace(TModbusTraceEvent event, const uint8_t* bytes, int count, uint8_t status) = 0;
};

class TModbusMaster : public QObject {
public:
    static constexpr int OrderSlots = 256;
    static constexpr int ReceiveBufferSize = 300;
    static constexpr int ResponseTimerInterval = 10;  // ms
    // The largest request from the unit identifier on: unit, function code and a 253-byte PDU.
    static constexpr int MaxRequestLength = 254;

    explicit TModbusMaster(QObject* owner = nullptr);
    ~TModbusMaster() override;

    // Results: the order id 0..255, or OrderNoMemory, OrderTableFull, OrderFunctionNotSupported,
    // OrderRequestNotEncodable. Data (Count words) is copied for functions 0, 6, 16, 36 and 39.
    int AddOrder(uint8_t unitId, uint8_t functionCode, uint32_t startAddress, uint16_t count, uint8_t kind,
                 const void* data);
    int ReadHoldingRegisters(uint8_t unitId, uint16_t startAddress, uint16_t count, uint8_t kind);
    // A write is always one-shot; data holds count registers, each low byte first.
    int WriteMultipleRegisters(uint8_t unitId, uint16_t startAddress, uint16_t count, const void* data);
    int WriteMultipleRegisters(uint8_t unitId, uint16_t startAddress, std::span<const uint16_t> registers);
    int SetOrderCallback(int orderId, TModbusOrderCompleteEvent callback);
    void DeleteOrder(int orderId);
    void SetMaxCountOrders(int32_t count);
    int MaxCountOrders() const { return MaxCountOrders_; }

    virtual int TransportKind() const;
    virtual std::string GetParametersText() const;
    virtual void SetParameters(const std::string& text);
    virtual bool IsRunning() const;
    virtual void SetActive(bool active);
    virtual std::string GetConnectionText() const = 0;
    virtual int GetReplyRegisterCount() const = 0;
    virtual uint8_t GetExceptionCode() const = 0;
    // Copies the reply's registers, each low byte first; meant for the completion callback. The
    // destination has room for the order's count of registers.
    virtual void GetReplyData(void* destination) const = 0;
    // The same, never beyond the destination's end.
    void GetReplyData(std::span<uint16_t> destination) const;
    // The reply as received from its unit identifier on, for an order whose reply carries no
    // registers (a raw frame); meant for the completion callback. Empty where the transport has none.
    virtual std::span<const uint8_t> GetReplyFrame() const;
    virtual void ResponseTimerTick();

    // Called by the transport with each chunk of received bytes.
    void ReceiveData(const uint8_t* bytes, int count);

    uint32_t Timeout() const { return Timeout_; }
    uint8_t RepeatCount() const { return RepeatCount_; }
    int CurrentIndex() const { return CurrentIndex_; }
    bool IsFatal() const { return Fatal_; }
    bool IsResponseTimerActive() const { return ResponseTimer_.isActive(); }
    const TModbusMasterOrder* Order(int orderId) const;

    TModbusOrderCompleteEvent OnOrderComplete;
    TModbusMasterEvent OnFatalError;
    TModbusMasterEvent OnParametersChanged;
    TModbusTraceSink* TraceSink = nullptr;

protected:
    // Results of BuildRequest and SendOrder.
    enum : int {
        RequestBuilt = 0,
        RequestEmpty = 1,
        SendFatal = 2,
        RequestUnknownFunction = 3,
    };

    // Encodes the request from the unit identifier on into bytes (room for MaxRequestLength) and
    // stores the reply length the order expects.
    static int BuildRequest(TModbusMasterOrder& order, uint8_t* bytes, int& length);

    // Hands the order's request to the transport: 0, or SendFatal when the transport is lost.
    virtual int SendOrder(TModbusMasterOrder& order) = 0;
    // False while the received bytes are no complete reply yet; true with a status once judged.
    virtual bool CheckReply(uint8_t& status) = 0;
    // A transmission has ended without reply and that has been traced; before any retransmission.
    virtual void TimedOut() {}

    TModbusMasterOrder* CurrentOrder() const;
    // True while received bytes can belong to a reply: an order is current and not completing.
    bool AwaitingReply() const { return CurrentIndex_ != -1 && !Completing_; }
    const uint8_t* ReceiveBuffer() const { return ReceiveBuffer_.data(); }
    int RxCount() const { return RxCount_; }
    // Removes bytes from the front of the receive buffer, for a transport that skips a frame.
    void DiscardReceived(int count);
    // Ends the exchange in progress with a status, as if the transport had judged it.
    void AbortCurrentOrder(uint8_t status);
    // The request in progress cannot reach the peer (its connection failed): the wait ends at the
    // next tick of the response timer instead of running out, with no time-out traced. The next
    // transmission then follows as after a time-out, so a refused port costs a tick per try.
    void TransmissionFailed();
    void ProcessExchange();
    // The reply just judged is the peer's own answer, whole by its header, only not the one the request
    // asks for: the same request would be answered the same way, and a write would be done twice.
    // The order completes with the status at once, without a retransmission.
    void RefuseRetransmission() { RetransmissionRefused_ = true; }
    // True when the next tick of the response timer declares the time-out.
    bool TimeoutCountdownExpired() const { return TimeoutCountdown_ == 0; }
    void Trace(TModbusTraceEvent event, const uint8_t* bytes = nullptr, int count = 0, uint8_t status = StatusOk) const;

private:
    // Slots are examined from the one after `after` (-1: from slot 0), wrapping round.
    int SelectNextOrder(int after) const;
    // The first slot from `from` on that holds an order, or -1.
    int NextSlotInUse(int from) const;
    bool ClassQueued(int orderClass) const;
    void SendCurrentOrder();
    void CompleteOrder(uint8_t status);
    void DeleteAllOrders(int fromId);
    void ApplyParameters(const std::vector<TModbusMasterParameter>& parameters);

    std::array<std::unique_ptr<TModbusMasterOrder>, OrderSlots> Orders_;
    // A bit a slot, set while it holds an order.
    static constexpr int SlotsPerWord = 64;
    std::array<uint64_t, OrderSlots / SlotsPerWord> SlotsInUse_{};
    int MaxCountOrders_ = OrderSlots;
    int CurrentIndex_ = -1;
    uint32_t Timeout_ = 0;
    uint8_t RepeatCount_ = 0;
    uint8_t RepeatsLeft_ = 0;
    bool Running_ = false;
    bool Fatal_ = false;
    // Set while an order completes: a nested event loop in its callback must not judge the same
    // reply again, nor replace the buffer the callback reads.
    bool Completing_ = false;
    bool CurrentOrderDeleted_ = false;
    QTimer ResponseTimer_;
    uint32_t TimeoutCountdown_ = 0;
    bool TimeoutFlag_ = false;
    bool TransmissionFailed_ = false;
    bool RetransmissionRefused_ = false;
    std::array<uint8_t, ReceiveBufferSize> ReceiveBuffer_{};
    int RxCount_ = 0;
    int PriorityCount_ = 0;
    int WriteCount_ = 0;
    int ReadCount_ = 0;
};

class TModbusTCPMaster : public TModbusMaster {
public:
    static constexpr int MbapHeaderSize = 6;
    static constexpr int TxBufferSize = MbapHeaderSize + MaxRequestLength;  // 260
    // Offsets in a reply frame: the MBAP header, then unit, function code and the PDU's body.
    static constexpr int TransactionIdAt = 0;
    static constexpr int LengthFieldAt = 4;
    static constexpr int UnitIdAt = 6;
    static constexpr int FunctionCodeAt = 7;
    static constexpr int ExceptionCodeAt = 8;  // in an exception reply; a read reply has its byte count here
    static constexpr int ByteCountAt = 8;
    static constexpr int ReadHeaderLength = 3;  // a read reply's unit, function code and byte count
    static constexpr int RegistersAt = 9;       // a read reply's first register
    static constexpr int ExceptionReplyLength = 9;
    static constexpr uint8_t ExceptionFlag = 0x80;
    static constexpr int ReadChunkSize = 1024;
    // Bytes a peer may send unasked before the connection is closed on it.
    static constexpr int UnaskedBytesLimit = 4096;

    explicit TModbusTCPMaster(QObject* owner = nullptr);
    ~TModbusTCPMaster() override;

    int TransportKind() const override;
    std::string GetParametersText() const override;
    // Throws ESocketError when the address or port is changed while the connection is open.
    void SetParameters(const std::string& text) override;
    bool IsRunning() const override;
    void SetActive(bool active) override;
    std::string GetConnectionText() const override;
    int GetReplyRegisterCount() const override;
    uint8_t GetExceptionCode() const override;
    using TModbusMaster::GetReplyData;
    void GetReplyData(void* destination) const override;
    std::span<const uint8_t> GetReplyFrame() const override;
    void ResponseTimerTick() override;

    uint16_t TransactionId() const { return TransactionId_; }
    // Why the connection of the last transmission could not be made, or was closed by the peer before
    // it answered; None when it was made and kept, so that an order completed without reply tells a
    // refused port or a peer that hangs up from a silent peer.
    TConnectionFailure ConnectionFailure() const { return ConnectionFailure_; }

protected:
    int SendOrder(TModbusMasterOrder& order) override;
    bool CheckReply(uint8_t& status) override;
    // Numbers the order's request with the next transaction identifier and frames it in TxBuffer.
    void BuildFrame(TModbusMasterOrder& order);

private:
    // The reply received is an exception reply, whatever its code.
    bool IsExceptionReply() const;
    // A reply whole by its own header fits the order: its length, and a read's byte count.
    bool FitsOrder(const TModbusMasterOrder& order, int received) const;
    int SendFrame();
    void SocketConnect();
    void SocketDisconnect();
    void SocketRead();
    void SocketError(int& errorCode);
    // Ends the transmission at once when the peer closed the connection before answering it.
    bool PeerClosedBeforeReply();
    void CloseConnection();
    // Traces the close of a connection that a time-out ended, after the time-out itself.
    void TimedOut() override;

    TClientSocket Socket_;
    bool Connected_ = false;
    bool TimedOutCloseUntraced_ = false;
    bool Connecting_ = false;
    TConnectionFailure ConnectionFailure_ = TConnectionFailure::None;
    bool Started_ = false;
    uint16_t TransactionId_ = 0;
    std::array<uint8_t, TxBufferSize> TxBuffer_{};
    int TxLength_ = 0;
    int UnaskedBytes_ = 0;  // received since the last request while none was awaited
};
