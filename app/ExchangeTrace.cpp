#include "ExchangeTrace.h"

#include "ModbusMaster.h"
#include "Monitor_Win.h"

TExchangeTrace::TExchangeTrace(QObject* parent) : QObject(parent)
{
    connect(&Recorder, &TExchangeRecorder::Recorded, this, &TExchangeTrace::Record);
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
    Attach();
}

void TExchangeTrace::Attach()
{
    if (Master)
        Master->TraceSink = Monitor_ || TraceFile.isOpen() ? &Recorder : nullptr;
}

void TExchangeTrace::ShowMonitor(QWidget* parent, const TShowHelpTopic& showHelpTopic)
{
    if (!Monitor_) {
        Monitor_ = new TMonitorWindow(showHelpTopic, parent);
        // Closed, it is gone, and with it the cost of tracing for it.
        connect(Monitor_, &QDialog::finished, this, [this] {
            TMonitorWindow* closed = Monitor_;
            Monitor_.clear();
            closed->deleteLater();
            Attach();
        });
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
    TraceFile.setFileName(fileName);
    const bool opened = TraceFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    Attach();
    return opened;
}

void TExchangeTrace::Record(const TExchangeRecord& record)
{
    if (Monitor_)
        Monitor_->AddRecord(record);
    if (TraceFile.isOpen()) {
        // Written out at once, so that the file holds the exchange up to the moment of a fault.
        TraceFile.write(TraceFileLine(record).toUtf8() + '\n');
        TraceFile.flush();
    }
}
