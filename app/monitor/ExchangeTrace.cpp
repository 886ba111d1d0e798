#include "ExchangeTrace.h"

#include "ModbusMaster.h"
#include "Monitor_Win.h"

TExchangeTrace::TExchangeTrace(QObject* parent) : QObject(parent)
{
    connect(&Recorder, &TExchangeRecorder::Recorded, this, &TExchangeTrace::Record);
    TraceFile.OnFailed = [this](const QString& reason) {
        Attach();
        if (OnTraceStopped)
            OnTraceStopped(reason);
    };
}

TExchangeTrace::~TExchangeTrace()
{
    SetMaster(nullptr);
    delete Monitor_;
}

void TExchangeTrace::SetMaster(TModbusMaster* master)
{
    if (Master)
        Master->TraceSink = nullptr;
    Master = master;
    Recorder.Master = master;
    Attach();
}

void TExchangeTrace::Attach()
{
    if (Master)
        Master->TraceSink = Monitor_ || TraceFileOpen() ? &Recorder : nullptr;
}

void TExchangeTrace::SetConnection(const TExchangeConnection& connection)
{
    Connection = connection;
    if (Monitor_)
        Monitor_->Connection = connection;
}

void TExchangeTrace::ShowMonitor(QWidget* parent, const TShowHelpTopic& showHelpTopic)
{
    // Closed, it is only hidden and goes on recording: its rows are the evidence of a fault, kept
    // until Очистить or the program's end, without a gap for the time it was out of the way.
    if (!Monitor_) {
        Monitor_ = new TMonitorWindow(showHelpTopic, parent);
        Monitor_->Connection = Connection;
    }
    Monitor_->show();
    Monitor_->raise();
    Monitor_->activateWindow();
    Attach();
}

TMonitorWindow* TExchangeTrace::Monitor() const
{
    return Monitor_;
}

bool TExchangeTrace::OpenTraceFile(const QString& fileName)
{
    const bool opened = TraceFile.Open(fileName);
    Attach();
    if (!opened)
        return false;
    // Each run starts with its header: a second run appended to the file stands apart from the first.
    for (const QString& line : ExchangeHeaderLines(Connection, QDateTime::currentDateTime()))
        TraceFile.Write(line.toUtf8() + '\n');
    return true;
}

bool TExchangeTrace::TraceFileOpen() const
{
    return TraceFile.IsOpen();
}

void TExchangeTrace::Record(const TExchangeRecord& record)
{
    if (Monitor_)
        Monitor_->AddRecord(record);
    // Written out at once, so that the file holds the exchange up to the moment of a fault.
    if (TraceFileOpen())
        TraceFile.Write(TraceFileLine(record).toUtf8() + '\n');
}
