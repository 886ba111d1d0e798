#pragma once
// The simulated module's two RS-485 lines and the devices on them. A line carries one request at
// a time: a request that finds its line busy waits until the line is free, as a gateway's queue
// does. A device answers after the time request and reply take on the line; an unanswered request
// holds its lines for the request's time on the line and the channel's reply time-out.

#include "GatewayFront.h"
#include "ModuleConfig.h"
#include "SimDevice.h"

#include <QElapsedTimer>
#include <QObject>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class TSimLines : public QObject {
public:
    explicit TSimLines(QObject* parent = nullptr);

    // False when the channel already has a device with that unit.
    bool AddDevice(const TSimDevice& device);
    const std::vector<TSimDevice>& Devices() const { return Devices_; }
    // The device with that unit on the channel (0 or 1), or null.
    const TSimDevice* Device(int channel, uint8_t unit) const;

    // Scales the time bytes take on the lines: 1 as at the baud rate, 0 for none (benchmarks).
    void SetLineTimeFactor(double factor) { LineTimeFactor_ = factor; }
    // Devices show the values of this moment from now on, instead of following the clock.
    void FreezeClock(double seconds) { FrozenSeconds_ = seconds; }
    // Seconds since the lines were created, or the frozen moment.
    double Seconds() const;

    // Told of each request as it is routed: the unit, the function and what the module answers
    // ("device answers", "0x0B", "0x0A").
    std::function<void(uint8_t unit, uint8_t function, const char* outcome)> OnRouted;

    // Routes the request frame (MBAP header included) by the configuration as it is now.
    void Serve(const TModuleConfig& config, const QByteArray& frame, const TGatewayFront::TReply& reply);

private:
    // Takes the lines of the mask for durationUs from when they are all free, and gives the
    // reply when that time has passed.
    void Occupy(uint16_t channelMask, int64_t durationUs, const QByteArray& replyFrame,
                const TGatewayFront::TReply& reply);

    std::vector<TSimDevice> Devices_;
    QElapsedTimer Clock_;
    std::array<int64_t, ChannelCount> BusyUntilUs_{};
    double LineTimeFactor_ = 1;
    std::optional<double> FrozenSeconds_;
};
