#include "ExchangeTrace.h"

#include "ModbusMaster.h"
#include "Monitor_Win.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString StandardOutputName = QStringLiteral("-");

// Why a trace stopped, in the operator's words for the usual causes; the system's own otherwise.
const char* const NoSpaceText = QT_TRANSLATE_NOOP("TExchangeTrace", "нет места на диске");
const char* const QuotaText = QT_TRANSLATE_NOOP("TExchangeTrace", "превышена дисковая квота");
const char* const ReaderGoneText = QT_TRANSLATE_NOOP("TExchangeTrace", "читающая сторона канала закрыта");
const char* const TooLargeText = QT_TRANSLATE_NOOP("TExchangeTrace", "файл достиг предельного размера");
const char* const InputOutputText = QT_TRANSLATE_NOOP("TExchangeTrace", "ошибка ввода-вывода");

QString FailureReason(int error)
{
    const auto text = [](const char* source) { return QCoreApplication::translate("TExchangeTrace", source); };
    switch (error) {
    case ENOSPC: return text(NoSpaceText);
    case EDQUOT: return text(QuotaText);
    case EPIPE: return text(ReaderGoneText);
    case EFBIG: return text(TooLargeText);
    case EIO: return text(InputOutputText);
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}
}  // namespace

TExchangeTrace::TExchangeTrace(QObject* parent) : QObject(parent)
{
    connect(&Recorder, &TExchangeRecorder::Recorded, this, &TExchangeTrace::Record);
}

TExchangeTrace::~TExchangeTrace()
{
    SetMaster(nullptr);
    delete Monitor_;
    CloseTraceFile();
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
    CloseTraceFile();
    int fd = -1;
    if (fileName == StandardOutputName) {
        // A copy, so that the trace's end leaves the program's own output open.
        fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    } else {
        // Opened without waiting, so that a FIFO nobody reads is refused instead of stopping the
        // program at its start; the writes then wait as a file's do. Nothing here seeks: a pipe or
        // FIFO refuses that, and O_APPEND, which they ignore, keeps a file's earlier lines.
        fd = ::open(QFile::encodeName(fileName).constData(),
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
        if (fd >= 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd >= 0) {
        // A reader that goes away ends the trace with EPIPE, not the program with SIGPIPE.
        std::signal(SIGPIPE, SIG_IGN);
        TraceFile = fd;
    }
    Attach();
    if (fd < 0)
        return false;
    // Each run starts with its header: a second run appended to the file stands apart from the first.
    for (const QString& line : ExchangeHeaderLines(Connection, QDateTime::currentDateTime()))
        if (TraceFileOpen())
            WriteTraceLine(line.toUtf8() + '\n');
    return true;
}

bool TExchangeTrace::TraceFileOpen() const
{
    return TraceFile >= 0;
}

void TExchangeTrace::CloseTraceFile()
{
    if (TraceFile >= 0)
        ::close(TraceFile);
    TraceFile = -1;
}

void TExchangeTrace::WriteTraceLine(const QByteArray& line)
{
    // One write per line, so that a reader takes whole lines; a short write is followed by the rest.
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t count = ::write(TraceFile, line.constData() + written, size_t(line.size() - written));
        if (count > 0) {
            written += count;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // An output inherited non-blocking waits here as a blocking one would.
            pollfd ready{TraceFile, POLLOUT, 0};
            ::poll(&ready, 1, -1);
            continue;
        }
        const int error = count < 0 ? errno : EIO;
        // A file that took part of the line (a disk filling up) gets it taken back: the file ends
        // with its last whole line. A pipe's reader is gone by then, or took whole lines.
        struct stat status {};
        if (written > 0 && ::fstat(TraceFile, &status) == 0 && S_ISREG(status.st_mode)) {
            // Should it fail too, the stop is told all the same.
            [[maybe_unused]] const int truncated = ::ftruncate(TraceFile, status.st_size - written);
        }
        CloseTraceFile();
        Attach();
        if (OnTraceStopped)
            OnTraceStopped(FailureReason(error));
        return;
    }
}

void TExchangeTrace::Record(const TExchangeRecord& record)
{
    if (Monitor_)
        Monitor_->AddRecord(record);
    // Written out at once, so that the file holds the exchange up to the moment of a fault.
    if (TraceFileOpen())
        WriteTraceLine(TraceFileLine(record).toUtf8() + '\n');
}
