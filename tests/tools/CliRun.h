#pragma once
// korvel-cli run as a script runs it, for the tests of the tool: its exit status, what it printed,
// and its JSON lines parsed back. The calling test's event loop keeps running meanwhile, so the
// servers of the test answer the program.

#include "Wait.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

struct TRun {
    int Exit = -1;
    QByteArray Out;
    QByteArray Err;

    std::vector<QJsonObject> JsonLines() const
    {
        std::vector<QJsonObject> objects;
        for (const QByteArray& line : Out.split('\n'))
            if (!line.isEmpty())
                objects.push_back(QJsonDocument::fromJson(line).object());
        return objects;
    }

    // The lines about modules, without the run's summary at the end.
    std::vector<QJsonObject> ModuleLines() const
    {
        std::vector<QJsonObject> objects = JsonLines();
        if (!objects.empty() && objects.back()["command"] == "summary")
            objects.pop_back();
        return objects;
    }
};

// prepare, when given, sets the process up before it starts; input is all its stdin gets.
inline TRun RunCli(const QStringList& arguments, const std::function<void(QProcess&)>& prepare = {},
                   const QByteArray& input = {})
{
    QProcess program;
    if (prepare)
        prepare(program);
    program.start(KORVEL_CLI, QStringList{"--timeout", "200"} + arguments);
    program.write(input);
    program.closeWriteChannel();
    TRun run;
    EXPECT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }, std::chrono::seconds(30)))
        << arguments.join(' ').toStdString();
    run.Exit = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    run.Out = program.readAllStandardOutput();
    run.Err = program.readAllStandardError();
    return run;
}
