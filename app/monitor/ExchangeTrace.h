#pragma once
// Where the exchange with the module is shown and kept: the exchange monitor while it is open,
// and the trace file named on the command line. The master traces only while one of them listens.

#include "ExchangeRecorder.h"
#include "Forms.h"

#include <QFile>
#include <QObject>
#include <QPointer>

class TModbusMaster;
class TMonitorWindow;

class TExchangeTrace : public QObject {
public:
    explicit TExchangeTrace(QObject* parent = nullptr);
    ~TExchangeTrace() override;

    // The master whose exchange is traced; null when it is gone.
    void SetMaster(TModbusMaster* master);
    // Opens the monitor beside parent, or brings the open one up.
    void ShowMonitor(QWidget* parent, const TShowHelpTopic& showHelpTopic);
    TMonitorWindow* Monitor() const;
    // Appends the rows to the file from now on; false when it cannot be opened for appending.
    bool OpenTraceFile(const QString& fileName);

private:
    void Attach();
    void Record(const TExchangeRecord& record);

    TExchangeRecorder Recorder;
    TModbusMaster* Master = nullptr;
    QPointer<TMonitorWindow> Monitor_;
    QFile TraceFile;
};
