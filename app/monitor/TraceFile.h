#pragma once
// The file, FIFO or pipe a trace is appended to, line by line. Writing never waits: what the
// reader of a pipe or FIFO has not taken yet is kept in a bounded backlog and sent when it reads
// again, so a reader that stalls costs the trace, never the program's event loop.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

class QSocketNotifier;

class TTraceFile : public QObject {
public:
    // Lines held for a reader that does not keep up; past this the trace stops.
    static constexpr qsizetype BacklogLimit = 1024 * 1024;

    explicit TTraceFile(QObject* parent = nullptr);
    ~TTraceFile() override;

    // Appends to fileName from now on; "-" is the standard output. False when it cannot be opened
    // for appending; a FIFO is opened only while something reads it.
    bool Open(const QString& fileName);
    bool IsOpen() const { return Descriptor >= 0; }
    // Lines still waiting for the reader are dropped.
    void Close();
    // One line, its end included; kept whole where the output allows.
    void Write(const QByteArray& line);

    // Called once when the trace stops because it cannot be written, with the reason.
    std::function<void(const QString& reason)> OnFailed;

private:
    // Sends what the output takes now: 0, or the error that ended the writing.
    int SendBacklog();
    void Fail(const QString& reason);

    int Descriptor = -1;
    QSocketNotifier* Writable = nullptr;  // enabled while lines wait for the reader
    std::deque<QByteArray> Backlog;
    qsizetype BacklogBytes = 0;
    qsizetype HeadSent = 0;  // bytes of the first waiting line already sent
};
