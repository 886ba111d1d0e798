#pragma once
// Where the exchange with the module is shown and kept: the exchange monitor from its first opening
// on, and the trace file named on the command line. The master traces only while one of them listens.

#include "ExchangeHeader.h"
#include "ExchangeRecorder.h"
#include "Forms.h"
#include "TraceFile.h"

#include <QObject>
#include <QPointer>

#include <functional>

class TModbusMaster;
class TMonitorWindow;

class TExchangeTrace : public QObject {
public:
    explicit TExchangeTrace(QObject* parent = nullptr);
    ~TExchangeTrace() override;

    // The master whose exchange is traced; null when it is gone.
    void SetMaster(TModbusMaster* master);
    // Where and how the module is reached, for the headers of the trace and of a saved capture.
    void SetConnection(const TExchangeConnection& connection);
    // Opens the monitor beside parent, or brings it up again with the rows it kept.
    void ShowMonitor(QWidget* parent, const TShowHelpTopic& showHelpTopic);
    TMonitorWindow* Monitor() const;
    // Appends the header, then the rows, to the file from now on; false when it cannot be opened for
    // appending.
    // A FIFO or a pipe is written to as well, while something reads it; "-" is the standard output.
    // Writing never waits for the reader (see TTraceFile).
    bool OpenTraceFile(const QString& fileName);
    bool TraceFileOpen() const;

    // Called once when a write to the trace file fails, or its reader falls too far behind, and the
    // trace stops, with the reason.
    std::function<void(const QString& reason)> OnTraceStopped;

private:
    void Attach();
    void Record(const TExchangeRecord& record);

    TExchangeRecorder Recorder;
    TModbusMaster* Master = nullptr;
    QPointer<TMonitorWindow> Monitor_;
    TExchangeConnection Connection;
    TTraceFile TraceFile;
};
