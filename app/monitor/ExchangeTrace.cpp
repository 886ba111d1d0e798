#include "ExchangeTrace.h"

#include "ModbusMaster.h"
#include "Monitor_Win.h"

#include <fcntl.h>
#include <unistd.h>

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
    // Opened without waiting, so that a FIFO nobody reads is refused instead of stopping the
    // program at its start; the writes then wait as a file's do.
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    const bool opened =
        fd >= 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 &&
        TraceFile.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text, QFileDevice::AutoCloseHandle);
    if (!opened && fd >= 0)
        ::close(fd);
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
