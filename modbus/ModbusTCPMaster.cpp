// The ModbusTCP transport of the master engine (declared in ModbusMaster.h).
#include "ModbusMaster.h"

#include "RConvert.h"

#include <algorithm>
#include <utility>

namespace {

uint16_t GetHighFirst(const uint8_t* at)
{
    return uint16_t(at[0] << 8 | at[1]);
}

bool IsRegisterReadFunction(uint8_t functionCode)
{
    return functionCode == 3 || functionCode == 4 || functionCode == 37;
}

// The reads whose reply is unit, function code, byte count and that many bytes.
bool IsReadFunction(uint8_t functionCode)
{
    return functionCode >= 1 && functionCode <= 4;
}

}  // namespace

TModbusTCPMaster::TModbusTCPMaster(QObject* owner) : TModbusMaster(owner), Socket_(this)
{
    Socket_.OnConnect = [this] { SocketConnect(); };
    Socket_.OnDisconnect = [this] { SocketDisconnect(); };
    Socket_.OnRead = [this] { SocketRead(); };
    Socket_.OnError = [this](int& errorCode) { SocketError(errorCode); };
}

TModbusTCPMaster::~TModbusTCPMaster()
{
    // Not SetActive(false): an order cut off by destruction gets no callback.
    CloseConnection();
}

int TModbusTCPMaster::TransportKind() const
{
    return 2;
}

std::string TModbusTCPMaster::GetParametersText() const
{
    return "IPAddress=" + Socket_.Address() + ParameterLineEnd + "TCPPort=" + std::to_string(Socket_.Port()) +
           ParameterLineEnd + TModbusMaster::GetParametersText();
}

void TModbusTCPMaster::SetParameters(const std::string& text)
{
    TModbusMaster::SetParameters(text);
    for (const auto& [key, value] : ParseParameters(text)) {
        if (key == "IPADDRESS")
            Socket_.SetAddress(value);
        else if (key == "TCPPORT" && IsValueInRange(value, 1, 65535))
            Socket_.SetPort(StrToIntDefault(value, 0));
    }
}

bool TModbusTCPMaster::IsRunning() const
{
    return Started_;
}

void TModbusTCPMaster::SetActive(bool active)
{
    if (active) {
        Started_ = true;
        // Orders queued while stopped are served now rather than at the next queueing.
        ProcessExchange();
        return;
    }
    CloseConnection();
    Started_ = false;
    // No order is left half-served across a stop: the interrupted one ends as unanswered.
    AbortCurrentOrder(StatusNoReply);
}

std::string TModbusTCPMaster::GetConnectionText() const
{
    return Socket_.Address() + ":" + std::to_string(Socket_.Port());
}

// Told by its shape, not by its code: code 0 is no valid exception code, but a peer that sends it
// has answered, and waiting on for more bytes would turn its answer into a time-out.
bool TModbusTCPMaster::IsExceptionReply() const
{
    return RxCount() == ExceptionReplyLength && (ReceiveBuffer()[FunctionCodeAt] & ExceptionFlag) != 0;
}

uint8_t TModbusTCPMaster::GetExceptionCode() const
{
    return IsExceptionReply() ? ReceiveBuffer()[ExceptionCodeAt] : 0;
}

int TModbusTCPMaster::GetReplyRegisterCount() const
{
    if (RxCount() > RegistersAt && IsRegisterReadFunction(ReceiveBuffer()[FunctionCodeAt]))
        return (RxCount() - RegistersAt) / 2;
    return 0;
}

void TModbusTCPMaster::GetReplyData(void* destination) const
{
    const TModbusMasterOrder* order = CurrentOrder();
    if (!order)
        return;
    const int count = std::min(GetReplyRegisterCount(), int(order->Count));
    SwapBytePairs(ReceiveBuffer() + RegistersAt, destination, size_t(count));
}

std::span<const uint8_t> TModbusTCPMaster::GetReplyFrame() const
{
    if (!CurrentOrder() || RxCount() <= UnitIdAt)
        return {};
    return {ReceiveBuffer() + UnitIdAt, size_t(RxCount() - UnitIdAt)};
}

void TModbusTCPMaster::ResponseTimerTick()
{
    // A retransmission after a time-out always goes out on a new connection. The trace tells the
    // close after the time-out that caused it, not before.
    if (TimeoutCountdownExpired()) {
        TimedOutCloseUntraced_ = Connected_;
        Connected_ = false;
        CloseConnection();
    }
    TModbusMaster::ResponseTimerTick();
    // A reply that was complete at the time-out wins over it: then the close is told after the reply.
    TimedOut();
}

void TModbusTCPMaster::TimedOut()
{
    if (std::exchange(TimedOutCloseUntraced_, false))
        Trace(TModbusTraceEvent::Disconnected);
}

void TModbusTCPMaster::BuildFrame(TModbusMasterOrder& order)
{
    ++TransactionId_;
    TxBuffer_[0] = uint8_t(TransactionId_ >> 8);
    TxBuffer_[1] = uint8_t(TransactionId_);
    TxBuffer_[2] = 0;
    TxBuffer_[3] = 0;
    int length = 0;
    BuildRequest(order, TxBuffer_.data() + MbapHeaderSize, length);
    TxBuffer_[4] = uint8_t(length >> 8);
    TxBuffer_[5] = uint8_t(length);
    TxLength_ = length + MbapHeaderSize;
}

int TModbusTCPMaster::SendOrder(TModbusMasterOrder& order)
{
    BuildFrame(order);
    ConnectionFailure_ = TConnectionFailure::None;
    if (Connected_)
        return SendFrame();
    Connecting_ = true;
    Socket_.SetActive(true);
    return RequestBuilt;
}

int TModbusTCPMaster::SendFrame()
{
    UnaskedBytes_ = 0;
    // A connection lost under the send is reported by the socket's error notification; the
    // exchange then ends by time-out and the retransmission opens a new connection.
    if (Socket_.SendBuf(TxBuffer_.data(), TxLength_) < 0)
        Connected_ = false;
    Trace(TModbusTraceEvent::Sent, TxBuffer_.data(), TxLength_);
    return RequestBuilt;
}

bool TModbusTCPMaster::CheckReply(uint8_t& status)
{
    const TModbusMasterOrder& order = *CurrentOrder();
    for (;;) {
        const uint8_t* reply = ReceiveBuffer();
        const int received = RxCount() - MbapHeaderSize;
        if (received < 0)
            return false;
        const int lengthField = GetHighFirst(reply + LengthFieldAt);
        // Whole by its own header: a unit and a function code at least.
        const bool wholeByHeader = lengthField >= 2 && received >= lengthField;
        // A late answer to an earlier transmission, or a copy of it, is no answer to this one,
        // whatever else it says: skip it once it is whole and keep waiting for the right one
        // within the same time-out.
        if (GetHighFirst(reply + TransactionIdAt) != TransactionId_) {
            if (received < lengthField)
                return false;
            DiscardReceived(MbapHeaderSize + lengthField);
            continue;
        }
        if (received < int(order.ExpectedLength) && !IsExceptionReply() && !wholeByHeader)
            return false;
        if (reply[UnitIdAt] != order.UnitId) {
            status = StatusWrongUnit;
            return true;
        }
        // A reply to another function would fill the caller's buffer with something it did not ask
        // for. The frame sent is the reference: a raw order carries its function in its data.
        const uint8_t asked = TxBuffer_[FunctionCodeAt];
        const uint8_t function = reply[FunctionCodeAt];
        if (function != asked && function != (asked | ExceptionFlag)) {
            status = StatusWrongFunction;
            return true;
        }
        if (received != lengthField) {
            // The header disagrees with the bytes: broken on the way, perhaps, so it is asked again.
            status = StatusWrongLength;
            return true;
        }
        if (IsExceptionReply()) {
            status = StatusException;
            return true;
        }
        if (!FitsOrder(order, received)) {
            status = StatusWrongLength;
            RefuseRetransmission();
            return true;
        }
        status = StatusOk;
        return true;
    }
}

bool TModbusTCPMaster::FitsOrder(const TModbusMasterOrder& order, int received) const
{
    if (received != int(order.ExpectedLength))
        return false;
    // A read's byte count says how much data follows; the length alone does not.
    return !IsReadFunction(ReceiveBuffer()[FunctionCodeAt]) ||
           ReceiveBuffer()[ByteCountAt] == received - ReadHeaderLength;
}

void TModbusTCPMaster::CloseConnection()
{
    if (Connected_)
        Trace(TModbusTraceEvent::Disconnected);
    Connected_ = false;
    Connecting_ = false;
    Socket_.SetActive(false);
}

void TModbusTCPMaster::SocketConnect()
{
    Connected_ = true;
    Connecting_ = false;
    Trace(TModbusTraceEvent::Connected);
    if (TxLength_ > 0)
        SendFrame();
}

void TModbusTCPMaster::SocketDisconnect()
{
    const bool wasConnected = Connected_;
    Connected_ = false;
    if (wasConnected && !PeerClosedBeforeReply())
        Trace(TModbusTraceEvent::Disconnected);
}

bool TModbusTCPMaster::PeerClosedBeforeReply()
{
    // The peer hung up on the request without a byte of answer (a gateway whose connections are all
    // taken does so): nothing more can come, so it is told at once, as a refused connection is.
    if (!AwaitingReply() || RxCount() > 0 || ConnectionFailure_ != TConnectionFailure::None)
        return false;
    ConnectionFailure_ = TConnectionFailure::ClosedByPeer;
    Trace(TModbusTraceEvent::ClosedByPeer);
    TransmissionFailed();
    return true;
}

void TModbusTCPMaster::SocketError(int& errorCode)
{
    const TConnectionFailure failure = ConnectionFailureOf(errorCode);
    errorCode = 0;  // silenced: the exchange in progress ends without reply
    Connected_ = false;
    // The close itself has been told.
    if (ConnectionFailure_ == TConnectionFailure::ClosedByPeer)
        return;
    if (!Connecting_) {
        if (failure == TConnectionFailure::ClosedByPeer && PeerClosedBeforeReply())
            return;
        // The request may have reached the peer before the connection broke: its reply is waited for.
        Trace(TModbusTraceEvent::ConnectionFailed);
        return;
    }
    // The request never left: waiting out the time-out would only delay the same outcome.
    Connecting_ = false;
    ConnectionFailure_ = failure;
    Trace(ConnectionFailure_ == TConnectionFailure::Refused ? TModbusTraceEvent::ConnectionRefused
                                                            : TModbusTraceEvent::ConnectionFailed);
    TransmissionFailed();
}

void TModbusTCPMaster::SocketRead()
{
    std::array<uint8_t, ReadChunkSize> chunk;
    const int count = Socket_.ReceiveBuf(chunk.data(), ReadChunkSize);
    if (count <= 0)
        return;
    if (AwaitingReply()) {
        ReceiveData(chunk.data(), count);
        return;
    }
    // Nothing was asked, so this is no reply. A peer that keeps sending is cut off rather than
    // read for ever; the next request opens a new connection.
    UnaskedBytes_ += count;
    if (UnaskedBytes_ > UnaskedBytesLimit)
        CloseConnection();
}
