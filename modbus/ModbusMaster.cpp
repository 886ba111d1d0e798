#include "ModbusMaster.h"

#include "RConvert.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <new>

namespace {

enum OrderClass { ClassPriority, ClassWrite, ClassRead };

bool IsSupportedFunction(uint8_t functionCode)
{
    switch (functionCode) {
    case 0:
    case 3:
    case 4:
    case 6:
    case 16:
    case 34:
    case 36:
    case 37:
    case 39:
    case 45: return true;
    default: return false;
    }
}

bool IsWriteFunction(uint8_t functionCode)
{
    return functionCode == 6 || functionCode == 16 || functionCode == 36 || functionCode == 39;
}

// Functions whose request carries caller data (0 is a raw frame given whole by the caller).
bool CarriesData(uint8_t functionCode)
{
    return functionCode == 0 || IsWriteFunction(functionCode);
}

// Length of the request from the unit identifier on, or -1 for an unknown function.
int RequestLength(uint8_t functionCode, uint16_t count)
{
    switch (functionCode) {
    case 3:
    case 4:
    case 37:
    case 6: return 6;
    case 16:
    case 39: return 7 + 2 * count;
    case 34: return 8;
    case 36: return 8 + count;
    case 45: return 2;
    case 0: return count;
    default: return -1;
    }
}

bool InClass(const TModbusMasterOrder& order, int orderClass)
{
    switch (orderClass) {
    case ClassPriority: return order.Kind == OrderPriority;
    case ClassWrite: return IsWriteFunction(order.FunctionCode);
    default: return !IsWriteFunction(order.FunctionCode);
    }
}

void PutHighFirst(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value >> 8);
    at[1] = uint8_t(value);
}

void PutLowFirst(uint8_t* at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

void Decrement(int& counter)
{
    counter = std::max(counter - 1, 0);
}

}  // namespace

EModbusMasterChangeMaxCountOrdersInRun::EModbusMasterChangeMaxCountOrdersInRun()
    : std::runtime_error("Невозможно изменить максимальное количество заявок, если ModbusMaster запущен !")
{}

EModbusMasterMaxCountOrdersTooBig::EModbusMasterMaxCountOrdersTooBig(int32_t requestedCount)
    : std::runtime_error("Слишком большое значение максимального количества заявок: " + std::to_string(requestedCount) +
                         " !")
    , RequestedCount(requestedCount)
{}

TModbusMaster::TModbusMaster(QObject* owner) : QObject(owner), ResponseTimer_(this)
{
    ResponseTimer_.setInterval(ResponseTimerInterval);
    ResponseTimer_.setTimerType(Qt::PreciseTimer);
    connect(&ResponseTimer_, &QTimer::timeout, this, [this] { ResponseTimerTick(); });
    SetMaxCountOrders(OrderSlots);
}

TModbusMaster::~TModbusMaster()
{
    TModbusMaster::SetActive(false);
}

int TModbusMaster::AddOrder(uint8_t unitId, uint8_t functionCode, uint32_t startAddress, uint16_t count, uint8_t kind,
                            const void* data)
{
    if (!IsSupportedFunction(functionCode))
        return OrderFunctionNotSupported;
    const int requestLength = RequestLength(functionCode, count);
    if (count == 0 || requestLength > MaxRequestLength || (CarriesData(functionCode) && data == nullptr))
        return OrderRequestNotEncodable;
    const auto slot = std::find(Orders_.begin(), Orders_.end(), nullptr);
    if (slot == Orders_.end())
        return OrderTableFull;
    const int orderId = int(slot - Orders_.begin());

    try {
        auto order = std::make_unique<TModbusMasterOrder>();
        order->UnitId = unitId;
        order->FunctionCode = functionCode;
        order->StartAddress = startAddress;
        order->Count = count;
        order->Kind = kind;
        if (CarriesData(functionCode)) {
            order->Data.resize(count);
            std::memcpy(order->Data.data(), data, 2 * size_t(count));
        }
        *slot = std::move(order);
        SlotsInUse_[size_t(orderId / SlotsPerWord)] |= uint64_t(1) << (orderId % SlotsPerWord);
    } catch (const std::bad_alloc&) {
        return OrderNoMemory;
    }
    if (kind == OrderPriority)
        ++PriorityCount_;
    ++(IsWriteFunction(functionCode) ? WriteCount_ : ReadCount_);

    if (CurrentIndex_ == -1)
        ProcessExchange();
    return orderId;
}

int TModbusMaster::ReadHoldingRegisters(uint8_t unitId, uint16_t startAddress, uint16_t count, uint8_t kind)
{
    return AddOrder(unitId, FunctionReadHoldingRegisters, startAddress, count, kind, nullptr);
}

int TModbusMaster::WriteMultipleRegisters(uint8_t unitId, uint16_t startAddress, uint16_t count, const void* data)
{
    return AddOrder(unitId, FunctionWriteMultipleRegisters, startAddress, count, OrderOneShot, data);
}

int TModbusMaster::WriteMultipleRegisters(uint8_t unitId, uint16_t startAddress, std::span<const uint16_t> registers)
{
    if (registers.size() > UINT16_MAX)
        return OrderRequestNotEncodable;
    return WriteMultipleRegisters(unitId, startAddress, uint16_t(registers.size()), registers.data());
}

void TModbusMaster::GetReplyData(std::span<uint16_t> destination) const
{
    const TModbusMasterOrder* order = CurrentOrder();
    if (!order)
        return;
    // The transport fills the order's count of registers at most.
    if (destination.size() >= order->Count) {
        GetReplyData(destination.data());
        return;
    }
    std::vector<uint16_t> reply(order->Count);
    GetReplyData(reply.data());
    const size_t count = std::min({destination.size(), reply.size(), size_t(GetReplyRegisterCount())});
    std::copy_n(reply.begin(), count, destination.begin());
}

std::span<const uint8_t> TModbusMaster::GetReplyFrame() const
{
    return {};
}

int TModbusMaster::SetOrderCallback(int orderId, TModbusOrderCompleteEvent callback)
{
    if (orderId < 0 || orderId >= OrderSlots || !Orders_[orderId])
        return OrderNotFound;
    Orders_[orderId]->Callback = std::move(callback);
    return orderId;
}

void TModbusMaster::DeleteOrder(int orderId)
{
    if (orderId < 0 || orderId >= OrderSlots || !Orders_[orderId])
        return;
    const TModbusMasterOrder& order = *Orders_[orderId];
    if (order.Kind == OrderPriority)
        Decrement(PriorityCount_);
    Decrement(IsWriteFunction(order.FunctionCode) ? WriteCount_ : ReadCount_);
    Orders_[orderId].reset();
    SlotsInUse_[size_t(orderId / SlotsPerWord)] &= ~(uint64_t(1) << (orderId % SlotsPerWord));
    if (orderId != CurrentIndex_)
        return;
    CurrentOrderDeleted_ = true;
    // Its id may be handed out again at once: the exchange in progress must not pass to an order
    // whose request was never sent. Inside its completion the completion itself moves on.
    if (!Completing_) {
        ResponseTimer_.stop();
        CurrentIndex_ = -1;
        ProcessExchange();
    }
}

void TModbusMaster::DeleteAllOrders(int fromId)
{
    for (int id = std::max(fromId, 0); id < OrderSlots; ++id)
        DeleteOrder(id);
}

void TModbusMaster::SetMaxCountOrders(int32_t count)
{
    if (IsRunning())
        throw EModbusMasterChangeMaxCountOrdersInRun();
    if (count > OrderSlots)
        throw EModbusMasterMaxCountOrdersTooBig(count);
    DeleteAllOrders(count);
    MaxCountOrders_ = count;
}

const TModbusMasterOrder* TModbusMaster::Order(int orderId) const
{
    return orderId >= 0 && orderId < OrderSlots ? Orders_[orderId].get() : nullptr;
}

TModbusMasterOrder* TModbusMaster::CurrentOrder() const
{
    return CurrentIndex_ >= 0 ? Orders_[CurrentIndex_].get() : nullptr;
}

int TModbusMaster::TransportKind() const
{
    return 0;
}

std::string TModbusMaster::GetParametersText() const
{
    return "Timeout=" + std::to_string(Timeout_) + ParameterLineEnd + "RepeatCount=" + std::to_string(RepeatCount_) +
           ParameterLineEnd;
}

void TModbusMaster::ApplyParameters(const std::vector<TModbusMasterParameter>& parameters)
{
    for (const auto& [key, value] : parameters) {
        if (key != "TIMEOUT" && key != "REPEATCOUNT")
            continue;
        if (!IsIntegerText(value))
            continue;
        const auto number = ParseIntegerText(value);
        if (!number)
            return;  // out of range: the rest of the text is not applied
        if (key == "TIMEOUT")
            Timeout_ = uint32_t(*number);
        else
            RepeatCount_ = uint8_t(*number);
    }
}

void TModbusMaster::SetParameters(const std::string& text)
{
    ApplyParameters(ParseParameters(text));
    if (OnParametersChanged)
        OnParametersChanged(this);
}

bool TModbusMaster::IsRunning() const
{
    return Running_ && !Fatal_;
}

void TModbusMaster::SetActive(bool active)
{
    if (Fatal_)
        return;
    Running_ = active;
    if (active) {
        ProcessExchange();
        return;
    }
    ResponseTimer_.stop();
    DeleteAllOrders(0);
    CurrentIndex_ = -1;
    RxCount_ = 0;
}

int TModbusMaster::BuildRequest(TModbusMasterOrder& order, uint8_t* bytes, int& length)
{
    length = 0;
    if (order.Count == 0)
        return RequestEmpty;
    const int requestLength = RequestLength(order.FunctionCode, order.Count);
    if (requestLength < 0)
        return RequestUnknownFunction;
    const uint16_t address = uint16_t(order.StartAddress);
    const auto* data = reinterpret_cast<const uint8_t*>(order.Data.data());
    bytes[0] = order.UnitId;
    bytes[1] = order.FunctionCode;
    switch (order.FunctionCode) {
    case 3:
    case 4:
    case 37:
        PutHighFirst(bytes + 2, address);
        PutHighFirst(bytes + 4, order.Count);
        order.ExpectedLength = uint16_t(3 + 2 * order.Count);
        break;
    case 16:
    case 39:
        PutHighFirst(bytes + 2, address);
        PutHighFirst(bytes + 4, order.Count);
        bytes[6] = uint8_t(2 * order.Count);
        SwapBytePairs(data, bytes + 7, order.Count);
        order.ExpectedLength = 6;
        break;
    case 6:
        PutHighFirst(bytes + 2, address);
        SwapBytePairs(data, bytes + 4, 1);
        order.ExpectedLength = 6;
        break;
    case 34:
        PutLowFirst(bytes + 2, order.Count, 2);
        PutLowFirst(bytes + 4, order.StartAddress, 4);
        order.ExpectedLength = uint16_t(order.Count + 2);
        break;
    case 36:
        PutLowFirst(bytes + 2, order.Count, 2);
        PutLowFirst(bytes + 4, order.StartAddress, 4);
        std::memcpy(bytes + 8, data, order.Count);
        order.ExpectedLength = 2;
        break;
    case 45: order.ExpectedLength = 2; break;
    case 0:
        std::memcpy(bytes, data, order.Count);
        order.ExpectedLength = uint16_t(order.StartAddress);
        break;
    }
    length = requestLength;
    return RequestBuilt;
}

bool TModbusMaster::ClassQueued(int orderClass) const
{
    switch (orderClass) {
    case ClassPriority: return PriorityCount_ > 0;
    case ClassWrite: return WriteCount_ > 0;
    default: return ReadCount_ > 0;
    }
}

int TModbusMaster::SelectNextOrder(int after) const
{
    const int orderClass = ClassQueued(ClassPriority) ? ClassPriority
                           : ClassQueued(ClassWrite)  ? ClassWrite
                           : ClassQueued(ClassRead)   ? ClassRead
                                                      : -1;
    if (orderClass < 0)
        return -1;
    // Start after the current order so that orders of one class take turns; only slots in use are
    // looked at, as a poll asks again at every answer.
    const int start = (after + 1 + OrderSlots) % OrderSlots;
    const auto fits = [&](int id) { return Orders_[id]->Count != 0 && InClass(*Orders_[id], orderClass); };
    for (int id = NextSlotInUse(start); id != -1; id = NextSlotInUse(id + 1))
        if (fits(id))
            return id;
    for (int id = NextSlotInUse(0); id != -1 && id < start; id = NextSlotInUse(id + 1))
        if (fits(id))
            return id;
    return -1;
}

int TModbusMaster::NextSlotInUse(int from) const
{
    for (int word = from / SlotsPerWord; word < int(SlotsInUse_.size()); ++word) {
        uint64_t bits = SlotsInUse_[size_t(word)];
        if (word == from / SlotsPerWord)
            bits &= ~uint64_t(0) << (from % SlotsPerWord);
        if (bits != 0)
            return word * SlotsPerWord + std::countr_zero(bits);
    }
    return -1;
}

void TModbusMaster::SendCurrentOrder()
{
    TimeoutFlag_ = false;
    TransmissionFailed_ = false;
    RetransmissionRefused_ = false;
    TimeoutCountdown_ = Timeout_;
    ResponseTimer_.start();
    RxCount_ = 0;
    if (SendOrder(*CurrentOrder()) != SendFatal)
        return;
    SetActive(false);
    Fatal_ = true;
    if (OnFatalError)
        OnFatalError(this);
    // Not dead: the handler may have started the master again or queued an order. The engine's
    // part does nothing once fatal, but the transport's closes what the handler opened.
    SetActive(false);
}

void TModbusMaster::ProcessExchange()
{
    if (!IsRunning() || Completing_)
        return;
    if (CurrentIndex_ != -1 && !Orders_[CurrentIndex_])
        CurrentIndex_ = -1;
    if (CurrentIndex_ == -1) {
        CurrentIndex_ = SelectNextOrder(CurrentIndex_);
        if (CurrentIndex_ == -1)
            return;
        RepeatsLeft_ = RepeatCount_;
        SendCurrentOrder();
        return;
    }

    uint8_t status = StatusOk;
    if (!CheckReply(status)) {
        if (!TimeoutFlag_)
            return;
        TimeoutFlag_ = false;
        status = StatusNoReply;
        if (!TransmissionFailed_)
            Trace(TModbusTraceEvent::Timeout, ReceiveBuffer_.data(), RxCount_);
        TimedOut();
    } else {
        Trace(TModbusTraceEvent::Received, ReceiveBuffer_.data(), RxCount_, status);
    }
    ResponseTimer_.stop();
    if (status == StatusOk || status == StatusException || RetransmissionRefused_ || RepeatsLeft_ == 0) {
        CompleteOrder(status);
        return;
    }
    --RepeatsLeft_;
    Trace(TModbusTraceEvent::Retransmission);
    SendCurrentOrder();
}

void TModbusMaster::AbortCurrentOrder(uint8_t status)
{
    if (Completing_ || !CurrentOrder())
        return;
    ResponseTimer_.stop();
    CompleteOrder(status);
}

void TModbusMaster::TransmissionFailed()
{
    if (!AwaitingReply())
        return;
    TransmissionFailed_ = true;
    TimeoutCountdown_ = 0;
}

void TModbusMaster::CompleteOrder(uint8_t status)
{
    const int orderId = CurrentIndex_;
    TModbusMasterOrder& order = *Orders_[orderId];
    // Kinds other than one-shot and priority are served like cyclic orders.
    const bool oneShot = order.Kind == OrderOneShot || order.Kind == OrderPriority;
    // Held here: the callback may delete or replace its own order. A one-shot order is deleted
    // after its callback whatever happens, so its callback is taken rather than copied.
    TModbusOrderCompleteEvent callback = oneShot ? std::move(order.Callback) : order.Callback;
    if (!callback)
        callback = OnOrderComplete;
    std::exception_ptr failure;
    CurrentOrderDeleted_ = false;
    Completing_ = true;
    if (callback) {
        try {
            callback(this, orderId, status);
        } catch (...) {
            failure = std::current_exception();  // passed on once the table is consistent again
        }
    }
    // Unless the callback already removed it (a stop empties the table; its id may even hold a
    // new order by now).
    if (oneShot && !CurrentOrderDeleted_)
        DeleteOrder(orderId);
    Completing_ = false;

    CurrentIndex_ = IsRunning() ? SelectNextOrder(orderId) : -1;
    if (CurrentIndex_ != -1) {
        RepeatsLeft_ = RepeatCount_;
        SendCurrentOrder();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TModbusMaster::ResponseTimerTick()
{
    if (TimeoutCountdown_ > 0) {
        --TimeoutCountdown_;
        return;
    }
    ResponseTimer_.stop();
    TimeoutFlag_ = true;
    ProcessExchange();
}

void TModbusMaster::ReceiveData(const uint8_t* bytes, int count)
{
    // Nothing is awaited while a callback runs; keep its reply intact.
    if (Completing_)
        return;
    if (RxCount_ + count < ReceiveBufferSize) {
        std::memcpy(ReceiveBuffer_.data() + RxCount_, bytes, size_t(count));
        RxCount_ += count;
    }
    ProcessExchange();
}

void TModbusMaster::DiscardReceived(int count)
{
    count = std::clamp(count, 0, RxCount_);
    std::memmove(ReceiveBuffer_.data(), ReceiveBuffer_.data() + count, size_t(RxCount_ - count));
    RxCount_ -= count;
}

void TModbusMaster::Trace(TModbusTraceEvent event, const uint8_t* bytes, int count, uint8_t status) const
{
    if (TraceSink)
        TraceSink->Trace(event, bytes, count, status);
}
