#pragma once
// The simulator program started as a user starts it: on a port the system picks, which it announces
// on its first line of output.

#include "Wait.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

// Starts KORVEL_MODULE_SIM with "--port 0" and the given options; output gathers what it printed so
// far. Returns the port it listens on, 0 when it did not say in time.
inline quint16 StartSimProgram(QProcess& program, const QStringList& options, QString& output)
{
    program.start(KORVEL_MODULE_SIM, QStringList{"--port", "0"} + options);
    if (!program.waitForStarted())
        return 0;
    quint16 port = 0;
    const QRegularExpression listening("listening on 127\\.0\\.0\\.1:(\\d+)");
    WaitUntil([&] {
        output += QString::fromUtf8(program.readAllStandardOutput());
        port = quint16(listening.match(output).captured(1).toUInt());
        return port != 0;
    });
    return port;
}
