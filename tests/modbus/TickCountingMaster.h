#pragma once
// A ModbusTCP master that counts the ticks of its response timer: how long an exchange took in the
// master's own time, which a loaded machine slows down but does not inflate.

#include "ModbusMaster.h"

class TTickCountingMaster : public TModbusTCPMaster {
public:
    void ResponseTimerTick() override
    {
        ++Ticks;
        TModbusTCPMaster::ResponseTimerTick();
    }
    int Ticks = 0;
};
