#include "SimLines.h"

#include "GatewayRoute.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

constexpr int MbapHeaderSize = 6;
constexpr int UnitAt = 6;
constexpr int PduAt = 7;
constexpr int LengthFieldAt = 4;
constexpr int SerialFrameExtra = 3;  // the unit before the PDU and the checksum after it
constexpr uint8_t ExceptionFlag = 0x80;

QByteArray ReplyFrame(const QByteArray& request, const QByteArray& pdu)
{
    QByteArray frame = request.left(MbapHeaderSize + 1);
    const int length = int(pdu.size()) + 1;
    frame[LengthFieldAt] = char(length >> 8);
    frame[LengthFieldAt + 1] = char(length & 0xFF);
    return frame + pdu;
}

QByteArray ExceptionFrame(const QByteArray& request, uint8_t code)
{
    const char pdu[] = {char(quint8(request[PduAt]) | ExceptionFlag), char(code)};
    return ReplyFrame(request, QByteArray(pdu, sizeof pdu));
}

}  // namespace

TSimLines::TSimLines(QObject* parent) : QObject(parent)
{
    Clock_.start();
}

bool TSimLines::AddDevice(const TSimDevice& device)
{
    if (Device(device.Channel(), device.Unit()))
        return false;
    Devices_.push_back(device);
    return true;
}

const TSimDevice* TSimLines::Device(int channel, uint8_t unit) const
{
    const auto found = std::find_if(Devices_.begin(), Devices_.end(), [&](const TSimDevice& device) {
        return device.Channel() == channel && device.Unit() == unit;
    });
    return found == Devices_.end() ? nullptr : &*found;
}

double TSimLines::Seconds() const
{
    return FrozenSeconds_ ? *FrozenSeconds_ : double(Clock_.nsecsElapsed()) / 1e9;
}

void TSimLines::Serve(const TModuleConfig& config, const QByteArray& frame, const TGatewayFront::TReply& reply)
{
    const TGatewayRoute route = RouteRequest(config, Devices_, quint8(frame[UnitAt]));
    const QByteArray request = frame.mid(PduAt);
    const int requestBytes = int(request.size()) + SerialFrameExtra;
    if (OnRouted) {
        static const char* const outcomes[] = {"device answers", "0x0B", "0x0A"};  // in TGatewayRoute::TKind's order
        OnRouted(quint8(frame[UnitAt]), quint8(frame[PduAt]), outcomes[route.Kind]);
    }
    switch (route.Kind) {
    case TGatewayRoute::PathUnavailable: reply(ExceptionFrame(frame, GatewayPathUnavailable)); return;
    case TGatewayRoute::TargetFailed: {
        // The slowest of the lines it goes out on decides when the time-out ends.
        int64_t requestUs = 0;
        for (size_t k = 0; k < ChannelCount; ++k)
            if (route.ChannelMask & 1 << k)
                requestUs = std::max(requestUs, LineTimeUs(config.Channels[k].BaudIndex, requestBytes));
        Occupy(route.ChannelMask,
               int64_t(std::llround(double(requestUs) * LineTimeFactor_)) + int64_t(route.TimeoutMs) * 1000,
               ExceptionFrame(frame, GatewayTargetFailed), reply);
        return;
    }
    case TGatewayRoute::Device: {
        TSimDevice& device = Devices_[size_t(route.DeviceIndex)];
        const QByteArray answer = device.Answer(request, Seconds());
        const int64_t lineUs =
            LineTimeUs(device.Serial().BaudIndex, requestBytes + int(answer.size()) + SerialFrameExtra);
        Occupy(route.ChannelMask, int64_t(std::llround(double(lineUs) * LineTimeFactor_)), ReplyFrame(frame, answer),
               reply);
        return;
    }
    }
}

void TSimLines::Occupy(uint16_t channelMask, int64_t durationUs, const QByteArray& replyFrame,
                       const TGatewayFront::TReply& reply)
{
    const int64_t nowUs = Clock_.nsecsElapsed() / 1000;
    int64_t startUs = nowUs;
    for (size_t k = 0; k < ChannelCount; ++k)
        if (channelMask & 1 << k)
            startUs = std::max(startUs, BusyUntilUs_[k]);
    const int64_t endUs = startUs + durationUs;
    for (size_t k = 0; k < ChannelCount; ++k)
        if (channelMask & 1 << k)
            BusyUntilUs_[k] = endUs;
    if (endUs == nowUs) {
        reply(replyFrame);
        return;
    }
    const int waitMs = int((endUs - nowUs + 999) / 1000);
    QTimer::singleShot(waitMs, Qt::PreciseTimer, this, [reply, replyFrame] { reply(replyFrame); });
}
