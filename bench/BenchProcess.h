#pragma once
// The benchmarks that measure whole programs: a simulated module started for them, and a program run
// from its start to its end with its wall-clock and processor time. KORVEL_MODULE_SIM names the simulator.

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <sys/resource.h>

class TSimProcess {
public:
    explicit TSimProcess(const QStringList& arguments)
    {
        Process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process_.start(KORVEL_MODULE_SIM, QStringList{"--port", "0"} + arguments);
        const QRegularExpression listening("listening on [0-9.]+:(\\d+)");
        while (Port_ == 0 && Process_.waitForReadyRead(10000)) {
            const QRegularExpressionMatch match = listening.match(QString::fromUtf8(Process_.readAll()));
            if (match.hasMatch())
                Port_ = quint16(match.captured(1).toUInt());
        }
    }
    ~TSimProcess()
    {
        Process_.kill();
        Process_.waitForFinished();
    }
    quint16 Port() const { return Port_; }

private:
    QProcess Process_;
    quint16 Port_ = 0;
};

struct TRun {
    double WallMs = -1;
    double CpuMs = -1;  // user and system time of the process
    QByteArray Out;
};

// The processor time of the children this process has waited for so far.
inline double ChildrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000 + double(t.tv_usec) / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// The whole process, from its start to its end; its output kept only when asked for.
inline TRun Run(const QString& program, const QStringList& arguments, bool keepOutput = false)
{
    QProcess process;
    if (!keepOutput)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const double cpuBefore = ChildrenCpuMs();
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    TRun run;
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return run;
    run.WallMs = double(clock.nsecsElapsed()) / 1e6;
    run.CpuMs = ChildrenCpuMs() - cpuBefore;
    if (keepOutput)
        run.Out = process.readAllStandardOutput();
    return run;
}
