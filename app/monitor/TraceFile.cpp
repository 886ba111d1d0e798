#include "TraceFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString StandardOutputName = QStringLiteral("-");

// Why a trace stopped, in the operator's words for the usual causes; the system's own otherwise.
const char* const NoSpaceText = QT_TRANSLATE_NOOP("TTraceFile", "нет места на диске");
const char* const QuotaText = QT_TRANSLATE_NOOP("TTraceFile", "превышена дисковая квота");
const char* const ReaderGoneText = QT_TRANSLATE_NOOP("TTraceFile", "читающая сторона канала закрыта");
const char* const TooLargeText = QT_TRANSLATE_NOOP("TTraceFile", "файл достиг предельного размера");
const char* const InputOutputText = QT_TRANSLATE_NOOP("TTraceFile", "ошибка ввода-вывода");
const char* const ReaderStalledText =
    QT_TRANSLATE_NOOP("TTraceFile", "читающая сторона канала не успевает читать (не принято %1 КиБ)");

QString Translated(const char* source)
{
    return QCoreApplication::translate("TTraceFile", source);
}

QString FailureReason(int error)
{
    switch (error) {
    case ENOSPC: return Translated(NoSpaceText);
    case EDQUOT: return Translated(QuotaText);
    case EPIPE: return Translated(ReaderGoneText);
    case EFBIG: return Translated(TooLargeText);
    case EIO: return Translated(InputOutputText);
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

bool IsRegularFile(int fd)
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// The standard output as a descriptor of the trace's own. A pipe, FIFO or terminal is opened anew,
// so that it can be made non-blocking without changing the program's own standard output; where
// that cannot be done (a socket), the copy shares the flag.
int OpenStandardOutput()
{
    if (IsRegularFile(STDOUT_FILENO))
        return ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    const int reopened = ::open("/proc/self/fd/1", O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (reopened >= 0)
        return reopened;
    const int copy = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (copy >= 0)
        ::fcntl(copy, F_SETFL, ::fcntl(copy, F_GETFL) | O_NONBLOCK);
    return copy;
}
}  // namespace

TTraceFile::TTraceFile(QObject* parent) : QObject(parent)
{}

TTraceFile::~TTraceFile()
{
    Close();
}

bool TTraceFile::Open(const QString& fileName)
{
    Close();
    // Non-blocking, so that a FIFO nobody reads is refused instead of stopping the program at its
    // start, and a reader that stops reading never stops it later. Nothing here seeks: a pipe or
    // FIFO refuses that, and O_APPEND, which they ignore, keeps a file's earlier lines.
    const int fd = fileName == StandardOutputName
                       ? OpenStandardOutput()
                       : ::open(QFile::encodeName(fileName).constData(),
                                O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0)
        return false;
    // A reader that goes away ends the trace with EPIPE, not the program with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    Descriptor = fd;
    return true;
}

void TTraceFile::Close()
{
    if (!IsOpen())
        return;
    // Whatever the reader takes at once still goes; the rest would wait for it.
    SendBacklog();
    // Later: this may run from the notifier's own signal.
    if (Writable) {
        Writable->setEnabled(false);
        Writable->deleteLater();
    }
    Writable = nullptr;
    Backlog.clear();
    BacklogBytes = 0;
    HeadSent = 0;
    ::close(Descriptor);
    Descriptor = -1;
}

void TTraceFile::Write(const QByteArray& line)
{
    if (!IsOpen())
        return;
    Backlog.push_back(line);
    BacklogBytes += line.size();
    // Lines already wait for the reader: this one goes after them, once it reads again.
    if (Backlog.size() > 1) {
        if (BacklogBytes > BacklogLimit)
            Fail(Translated(ReaderStalledText).arg(BacklogBytes / 1024));
        return;
    }
    if (const int error = SendBacklog())
        Fail(FailureReason(error));
}

int TTraceFile::SendBacklog()
{
    // One write per line, so that a reader takes whole lines (a pipe takes a short line whole or
    // not at all); a short write is followed by the rest.
    while (!Backlog.empty()) {
        const QByteArray& line = Backlog.front();
        const ssize_t count = ::write(Descriptor, line.constData() + HeadSent, size_t(line.size() - HeadSent));
        if (count > 0) {
            HeadSent += count;
            if (HeadSent == line.size()) {
                BacklogBytes -= line.size();
                Backlog.pop_front();
                HeadSent = 0;
            }
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!Writable) {
                Writable = new QSocketNotifier(Descriptor, QSocketNotifier::Write, this);
                connect(Writable, &QSocketNotifier::activated, this, [this] {
                    if (const int error = SendBacklog())
                        Fail(FailureReason(error));
                });
            }
            Writable->setEnabled(true);
            return 0;
        }
        const int error = count < 0 ? errno : EIO;
        // A file that took part of the line (a disk filling up) gets it taken back: the file ends
        // with its last whole line. A pipe's reader is gone by then, or took whole lines.
        struct stat status {};
        if (HeadSent > 0 && ::fstat(Descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
            // Should it fail too, the stop is told all the same.
            [[maybe_unused]] const int truncated = ::ftruncate(Descriptor, status.st_size - HeadSent);
        }
        return error;
    }
    if (Writable)
        Writable->setEnabled(false);
    return 0;
}

void TTraceFile::Fail(const QString& reason)
{
    // Nothing more is sent: whatever waits would end after a broken line.
    Backlog.clear();
    BacklogBytes = 0;
    HeadSent = 0;
    Close();
    if (OnFailed)
        OnFailed(reason);
}
