// The exchange monitor and the trace file, driven through the window against the simulated module
// and scripted loopback servers.

#include "AppTestSupport.h"

#include "ExchangeHeader.h"
#include "ExchangeTrace.h"
#include "ModbusMaster.h"
#include "ModuleSimServer.h"
#include "Monitor_Win.h"
#include "ScriptedServer.h"
#include "TraceFile.h"
#include "Wait.h"

#include "ScratchMount.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTcpServer>

#include <sys/stat.h>
#include <QRegularExpression>
#include <QStyle>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

const QString ReadText = QStringLiteral("Конфигурация успешно считана");

// The monitor shows what it keeps in batches.
bool AllShown(const TMonitorWindow& monitor)
{
    return monitor.Rows().rowCount() == int(monitor.Rows().Records().size());
}

// What arrives at a non-blocking descriptor until it holds count lines, or the deadline passes.
QStringList ReadLines(int fd, int count)
{
    QByteArray text;
    WaitUntil([&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            text.append(buffer, n);
        return text.count('\n') >= count;
    });
    return QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
}

// The process's stderr goes to a file while this lives.
class TStderrCapture {
public:
    explicit TStderrCapture(const QString& fileName) : FileName(fileName), Saved(::dup(STDERR_FILENO))
    {
        const int fd = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~TStderrCapture()
    {
        ::dup2(Saved, STDERR_FILENO);
        ::close(Saved);
    }
    TStderrCapture(const TStderrCapture&) = delete;
    TStderrCapture& operator=(const TStderrCapture&) = delete;
    QString Text() const { return QString::fromUtf8(FileBytes(FileName)); }

private:
    QString FileName;
    int Saved;
};

// The lines a capture or a run of the trace starts with.
constexpr int HeaderLines = 3;

QString ModuleAt(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

// The header of a capture taken from the module at the loopback port with the default times.
void ExpectHeader(const QStringList& lines, quint16 port)
{
    ASSERT_GE(lines.size(), HeaderLines);
    EXPECT_TRUE(QRegularExpression("^# ==== KorvelService \\d+\\.\\d+\\.\\d+\\.\\d+$").match(lines[0]).hasMatch())
        << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression("^# Дата: \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
                                   "\\(UTC[+-]\\d\\d:\\d\\d\\)$")
                    .match(lines[1])
                    .hasMatch())
        << lines[1].toStdString();
    EXPECT_EQ(lines[2], "# Модуль: " + ModuleAt(port) + ", ожидание ответа 510 мс, передач запроса 3");
}

const QString NoSpaceToldText = QStringLiteral("Запись трассировки прекращена: нет места на диске");

class MonitorTest : public MainWindowFixture {
protected:
    TMonitorWindow* OpenMonitor()
    {
        Action("ShowMonitorAction")->trigger();
        return Window().ExchangeTrace->Monitor();
    }

    // Runs a module command and waits until its outcome was told.
    void Run(const char* action)
    {
        const size_t boxes = Dialogs.Boxes.size();
        Action(action)->trigger();
        ASSERT_TRUE(WaitUntil([&] { return Dialogs.Boxes.size() > boxes; }, std::chrono::seconds(10)));
    }

    // "direction | transaction | unit | function | registers | length | meaning" of each row, once
    // every record kept is shown.
    static QStringList RowTexts(const TMonitorWindow& monitor)
    {
        EXPECT_TRUE(WaitUntil([&] { return AllShown(monitor); }));
        QStringList rows;
        const TExchangeTableModel& model = monitor.Rows();
        for (int row = 0; row < model.rowCount(); ++row) {
            QStringList cells;
            for (int column : {TExchangeTableModel::DirectionColumn, TExchangeTableModel::TransactionColumn,
                               TExchangeTableModel::UnitColumn, TExchangeTableModel::FunctionColumn,
                               TExchangeTableModel::RegistersColumn, TExchangeTableModel::LengthColumn,
                               TExchangeTableModel::MeaningColumn})
                cells << model.data(model.index(row, column)).toString();
            rows << cells.join(" | ");
        }
        return rows;
    }
};

TEST_F(MonitorTest, ARead_ShowsItsRequestAndReplyWithTheLatency)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    TMonitorWindow* monitor = OpenMonitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->windowTitle(), "Монитор обмена");
    EXPECT_FALSE(monitor->isModal());
    Run("ReadConfigAction");
    EXPECT_EQ(Dialogs.Boxes.back().Text, ReadText);

    EXPECT_EQ(RowTexts(*monitor), QStringList({
                                      "× |  |  |  |  |  | соединение установлено (" + ModuleAt(module.Port()) + ")",
                                      "→ | 1 | 255 | 3 | 84..139 (56) | 12 | чтение конфигурации",
                                      "← | 1 | 255 | 3 | 84..139 (56) | 121 | чтение конфигурации",
                                  }));
    const TExchangeRecord& reply = monitor->Rows().Records().at(2);
    EXPECT_GE(reply.LatencyMs, 0);
    EXPECT_GE(reply.TimeMs, monitor->Rows().Records().at(1).TimeMs);
    EXPECT_EQ(HexText(monitor->Rows().Records().at(1).Bytes), "00 01 00 00 00 06 FF 03 00 54 00 38");
    const TExchangeCounters& counters = monitor->Counters();
    EXPECT_EQ(counters.Requests, 1);
    EXPECT_EQ(counters.Replies, 1);
    EXPECT_EQ(counters.Timeouts, 0);
    EXPECT_EQ(counters.MedianLatencyMs(), reply.LatencyMs);
    EXPECT_EQ(counters.WorstLatencyMs(), reply.LatencyMs);
}

TEST_F(MonitorTest, ASilentModuleShowsEachTimeOutAndRetransmission)
{
    TScriptedServer silent([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(silent.Listen());
    PointSettingsAt(silent.Port());
    TMonitorWindow* monitor = OpenMonitor();
    Run("ReadInfoAction");
    EXPECT_EQ(Dialogs.Boxes.back().Text, "Ошибка считывания информации (Нет ответа)");
    const TExchangeCounters& counters = monitor->Counters();
    EXPECT_EQ(counters.Requests, 3);
    EXPECT_EQ(counters.Replies, 0);
    EXPECT_EQ(counters.Timeouts, 3);
    EXPECT_EQ(counters.Retransmissions, 2);
    EXPECT_EQ(counters.MedianLatencyMs(), -1);
    const QStringList rows = RowTexts(*monitor);
    EXPECT_EQ(
        rows.filter(QRegularExpression("^→ \\| \\d+ \\| 255 \\| 3 \\| 78..83 \\(6\\) \\| 12 \\| чтение информации$"))
            .size(),
        3);
    EXPECT_EQ(rows.filter("таймаут: нет ответа").size(), 3);
    EXPECT_EQ(rows.filter("повторная передача").size(), 2);
    // Each event names its module, and each in the order it happened: the time-out closes the
    // connection, and the retransmission goes out on a new one.
    const QString at = " (" + ModuleAt(silent.Port()) + ")";
    QStringList meanings;
    for (const QString& row : rows)
        meanings << row.section(" | ", -1);
    const QStringList transmission{"соединение установлено" + at, "чтение информации", "таймаут: нет ответа" + at,
                                   "соединение закрыто" + at};
    EXPECT_EQ(meanings, transmission + QStringList{"повторная передача" + at} + transmission +
                            QStringList{"повторная передача" + at} + transmission)
        << rows.join('\n').toStdString();
    EXPECT_TRUE(
        monitor->CountersText().startsWith("Запросов: 3   Ответов: 0   Таймаутов: 3   Повторов: 2   Исключений: 0"));
}

// A refused port, or a module that takes the connection and closes it, is told at once with its
// cause (a refused one with where the settings point), and each is a row of its own saying the same:
// no time-out is waited out or counted.
TEST_F(MonitorTest, AConnectionRefusedOrClosedIsToldAtOnceWithItsCause)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    TScriptedServer hangingUp([](const TScriptedRequest&) { return TScriptedAnswer{}; });
    ASSERT_TRUE(hangingUp.Listen());
    hangingUp.SetCloseOnAccept(true);
    const struct {
        quint16 Port;
        QString Told;
        const char* Row;
        int Requests;
    } cases[] = {
        {closedPort,
         QString("Ошибка считывания информации (Нет ответа (соединение отвергнуто))\n"
                 "IP адрес модуля: 127.0.0.1, TCP порт: %1")
             .arg(closedPort),
         "соединение отвергнуто", 0},
        {hangingUp.Port(), "Ошибка считывания информации (Нет ответа (соединение закрыто модулем))",
         "соединение закрыто модулем", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Row);
        Window_.reset();
        PointSettingsAt(c.Port);
        TMonitorWindow* monitor = OpenMonitor();
        Run("ReadInfoAction");
        EXPECT_EQ(Dialogs.Boxes.back().Text, c.Told);
        const QStringList rows = RowTexts(*monitor);
        EXPECT_EQ(rows.filter(QString("%1 (127.0.0.1:%2)").arg(c.Row).arg(c.Port)).size(), 3)
            << rows.join('\n').toStdString();
        EXPECT_EQ(monitor->Counters().Timeouts, 0);
        EXPECT_EQ(monitor->Counters().Requests, c.Requests);
    }
}

TEST_F(MonitorTest, AnExceptionIsNamedAndCounted)
{
    TScriptedServer refusing(
        [](const TScriptedRequest& request) { return TScriptedAnswer{ExceptionReply(request, 2)}; });
    ASSERT_TRUE(refusing.Listen());
    PointSettingsAt(refusing.Port());
    TMonitorWindow* monitor = OpenMonitor();
    Run("ReadConfigAction");
    EXPECT_EQ(RowTexts(*monitor).last(),
              "← | 1 | 255 | 131 | 84..139 (56) | 9 | исключение: недопустимый адрес данных");
    EXPECT_EQ(monitor->Counters().Exceptions, 1);
    EXPECT_EQ(monitor->Counters().Replies, 1);
}

TEST_F(MonitorTest, TheMasterTracesFromTheMonitorsFirstOpeningOrWhileAFileIsKept)
{
    EXPECT_EQ(Window().Client->Master().TraceSink, nullptr);
    ASSERT_TRUE(Window().ExchangeTrace->OpenTraceFile(Path("trace.txt")));
    EXPECT_NE(Window().Client->Master().TraceSink, nullptr);

    Window_.reset();
    EXPECT_EQ(Window().Client->Master().TraceSink, nullptr);
    TMonitorWindow* monitor = OpenMonitor();
    EXPECT_NE(Window().Client->Master().TraceSink, nullptr);
    QTest::mouseClick(monitor->Button4, Qt::LeftButton);
    EXPECT_NE(Window().Client->Master().TraceSink, nullptr);
}

// Closed by Esc or Закрыть, the monitor keeps its rows and goes on recording; reopened, it shows
// them all, until Очистить.
TEST_F(MonitorTest, TheRowsOutliveClosingAndReopening)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    const struct {
        const char* Name;
        std::function<void(TMonitorWindow*)> Close;
    } closings[] = {
        {"Esc", [](TMonitorWindow* monitor) { QTest::keyClick(monitor->TableView1, Qt::Key_Escape); }},
        {"Закрыть", [](TMonitorWindow* monitor) { QTest::mouseClick(monitor->Button4, Qt::LeftButton); }},
    };
    TMonitorWindow* monitor = OpenMonitor();
    Run("ReadConfigAction");
    size_t rows = monitor->Rows().Records().size();
    ASSERT_EQ(rows, 3u);
    for (const auto& closing : closings) {
        SCOPED_TRACE(closing.Name);
        closing.Close(monitor);
        ASSERT_TRUE(WaitUntil([&] { return !monitor->isVisible(); }));
        // What happens while it is closed is kept too.
        Run("ReadConfigAction");
        rows += 2;
        TMonitorWindow* reopened = OpenMonitor();
        ASSERT_EQ(reopened, monitor);
        EXPECT_TRUE(reopened->isVisible());
        const QStringList texts = RowTexts(*reopened);
        ASSERT_EQ(size_t(texts.size()), rows);
        EXPECT_EQ(texts[1], "→ | 1 | 255 | 3 | 84..139 (56) | 12 | чтение конфигурации");
        EXPECT_EQ(texts.last(),
                  "← | " + QString::number(rows / 2) + " | 255 | 3 | 84..139 (56) | 121 | чтение конфигурации");
        EXPECT_EQ(reopened->Counters().Requests, int(rows - 1) / 2);
    }
    QTest::mouseClick(monitor->Button2, Qt::LeftButton);
    QTest::mouseClick(monitor->Button4, Qt::LeftButton);
    EXPECT_TRUE(OpenMonitor()->Rows().Records().empty());
}

TEST_F(MonitorTest, PauseKeepsTheRowsClearEmptiesThemAndSaveWritesThem)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    TMonitorWindow* monitor = OpenMonitor();
    Run("ReadConfigAction");
    const int rows = int(monitor->Rows().Records().size());
    ASSERT_EQ(rows, 3);

    QTest::mouseClick(monitor->Button1, Qt::LeftButton);  // pause
    Run("ReadConfigAction");
    EXPECT_EQ(int(monitor->Rows().Records().size()), rows);
    QTest::mouseClick(monitor->Button1, Qt::LeftButton);

    Dialogs.FileAnswers = {Path("monitor.txt")};
    QTest::mouseClick(monitor->Button3, Qt::LeftButton);
    ASSERT_EQ(Dialogs.FileDialogs.size(), 1u);
    EXPECT_EQ(Dialogs.FileDialogs[0].Filter, "Текстовые файлы (*.txt)|*.txt");
    const QStringList saved = QString::fromUtf8(FileBytes(Path("monitor.txt"))).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(saved.size(), HeaderLines + rows + 1);
    ExpectHeader(saved, module.Port());
    EXPECT_EQ(saved[HeaderLines + 1], TraceFileLine(monitor->Rows().Records()[1]));
    EXPECT_EQ(saved.last(), monitor->CountersText());

    QTest::mouseClick(monitor->Button2, Qt::LeftButton);
    EXPECT_EQ(monitor->Rows().rowCount(), 0);
    EXPECT_TRUE(monitor->Rows().Records().empty());
    EXPECT_EQ(monitor->Counters().Requests, 0);
}

// Each run of the program appends its header, then a line per frame and event, each with the
// wall-clock time it happened.
TEST_F(MonitorTest, TheTraceFileGetsAHeaderPerRunAndOneLinePerFrameAndEvent)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    QFile previous(Path("trace.txt"));
    ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
    previous.write("earlier session\n");
    previous.close();

    const QDateTime started = QDateTime::currentDateTime().addMSecs(-1);
    for (int run = 0; run < 2; ++run) {
        Window_.reset();
        ASSERT_TRUE(Window().ExchangeTrace->OpenTraceFile(Path("trace.txt")));
        Run("ReadConfigAction");
    }
    const QDateTime ended = QDateTime::currentDateTime().addMSecs(1);
    const QStringList lines = QString::fromUtf8(FileBytes(Path("trace.txt"))).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines[0], "earlier session");  // appended, not replaced
    // The first run ends with its connection closed as its window goes.
    QList<int> runStarts;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith("# ===="))
            runStarts << i;
    ASSERT_EQ(runStarts, QList<int>({1, 1 + HeaderLines + 4})) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines[runStarts[1] - 1].endsWith(" !! | соединение закрыто (" + ModuleAt(module.Port()) + ")"));
    ASSERT_EQ(lines.size(), runStarts[1] + HeaderLines + 3);
    const QString time = QStringLiteral("(\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3}) \\d+\\.\\d ");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const QStringList runLines = lines.mid(runStarts[run], HeaderLines + 3);
        ExpectHeader(runLines, module.Port());
        const QStringList rows = runLines.mid(HeaderLines);
        const QRegularExpression patterns[] = {
            QRegularExpression("^" + time + "!! \\| соединение установлено \\(127\\.0\\.0\\.1:" +
                               QString::number(module.Port()) + "\\)$"),
            QRegularExpression("^" + time +
                               ">> 00 01 00 00 00 06 FF 03 00 54 00 38 \\| транзакция 1, устройство 255, "
                               "функция 3, регистры 84\\.\\.139 \\(56\\), чтение конфигурации$"),
            QRegularExpression("^" + time +
                               "<< 00 01 00 00 00 73 FF 03 70( [0-9A-F]{2}){112} \\| транзакция 1, устройство 255, "
                               "функция 3, регистры 84\\.\\.139 \\(56\\), \\d+\\.\\d мс, чтение конфигурации$"),
        };
        for (int i = 0; i < 3; ++i) {
            const QRegularExpressionMatch match = patterns[i].match(rows[i]);
            ASSERT_TRUE(match.hasMatch()) << rows[i].toStdString();
            const QDateTime clock = QDateTime::fromString(match.captured(1), "dd.MM.yyyy hh:mm:ss.zzz");
            EXPECT_TRUE(clock >= started && clock <= ended) << rows[i].toStdString();
        }
    }
}

TEST_F(MonitorTest, ABurstIsShownAtOnceFollowingTheEndUnlessTheOperatorScrolledBack)
{
    TMonitorWindow* monitor = OpenMonitor();
    QTableView* table = monitor->TableView1;
    const QScrollBar* scroll = table->verticalScrollBar();
    const auto lastShownAtTheBottom = [&] {
        return AllShown(*monitor) && table->rowAt(table->viewport()->height() - 1) == monitor->Rows().rowCount() - 1;
    };
    int insertions = 0;
    QObject::connect(&monitor->Rows(), &QAbstractItemModel::rowsInserted, [&] { ++insertions; });
    for (int i = 0; i < 500; ++i)
        monitor->AddRecord(EventRecord(TExchangeEvent::Retransmission, "повторная передача"));
    ASSERT_TRUE(WaitUntil(lastShownAtTheBottom));
    EXPECT_EQ(monitor->Rows().rowCount(), 500);
    EXPECT_EQ(insertions, 1);

    table->verticalScrollBar()->setValue(0);
    monitor->AddRecord(EventRecord(TExchangeEvent::Timeout, "таймаут: нет ответа"));
    ASSERT_TRUE(WaitUntil([&] { return AllShown(*monitor); }));
    EXPECT_EQ(scroll->value(), 0);

    table->scrollToBottom();
    monitor->AddRecord(EventRecord(TExchangeEvent::Timeout, "таймаут: нет ответа"));
    ASSERT_TRUE(WaitUntil(lastShownAtTheBottom));
    EXPECT_EQ(scroll->value(), scroll->maximum());

    // Left at the end, it stays there whatever the window's size.
    for (const int height : {monitor->height() / 2, monitor->height() * 2, monitor->height() / 3}) {
        SCOPED_TRACE(height);
        monitor->resize(monitor->width(), height);
        ASSERT_TRUE(WaitUntil([&] { return table->viewport()->height() < height; }));
        monitor->AddRecord(EventRecord(TExchangeEvent::Timeout, "таймаут: нет ответа"));
        ASSERT_TRUE(WaitUntil(lastShownAtTheBottom));
    }
}

// Ctrl+C takes the selected rows as the trace file has them, bytes and all, in the table's order.
TEST_F(MonitorTest, CtrlCCopiesTheSelectedRowsWithTheirBytes)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    TMonitorWindow* monitor = OpenMonitor();
    Run("ReadConfigAction");
    ASSERT_TRUE(WaitUntil([&] { return AllShown(*monitor); }));
    QTableView* table = monitor->TableView1;
    QItemSelectionModel* selection = table->selectionModel();
    for (int row : {2, 1})
        selection->select(table->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->setFocus();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    const auto& records = monitor->Rows().Records();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              TraceFileLine(records[1]) + '\n' + TraceFileLine(records[2]) + '\n');
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(" << 00 01 00 00 00 73 FF 03 70 "));
}

TEST_F(MonitorTest, ATraceFileThatCannotBeOpenedIsToldAndNothingIsTraced)
{
    // A FIFO nobody reads would stop the program at its start if it were waited for.
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("unread-fifo")).constData(), 0600), 0);
    for (const QString& name : {Path("no-such-folder/trace.txt"), Path("unread-fifo")}) {
        SCOPED_TRACE(name.toStdString());
        Dialogs.Boxes.clear();
        Window().StartTrace(name);
        ASSERT_EQ(Dialogs.Boxes.size(), 1u);
        EXPECT_EQ(Dialogs.Boxes[0].Text, "Ошибка открытия файла " + name);
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
        EXPECT_EQ(Window().Client->Master().TraceSink, nullptr);
    }
}

// A trace can be watched live: through a FIFO something reads, and through the standard output
// when it is a pipe.
TEST_F(MonitorTest, TheTraceGoesThroughAFifoOrAPipeThatIsRead)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    for (const bool toStandardOutput : {false, true}) {
        SCOPED_TRACE(toStandardOutput ? "- with the standard output a pipe" : "a FIFO with a reader");
        Window_.reset();  // a window of its own, which connects anew
        Dialogs.Boxes.clear();
        int reader = -1;
        if (toStandardOutput) {
            int ends[2];
            ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
            reader = ends[0];
            const int output = ::dup(STDOUT_FILENO);
            std::fflush(stdout);
            ::dup2(ends[1], STDOUT_FILENO);
            Window().StartTrace("-");
            ::dup2(output, STDOUT_FILENO);
            ::close(output);
            ::close(ends[1]);
        } else {
            const QString fifo = Path("watched-fifo");
            ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
            reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(reader, 0);
            Window().StartTrace(fifo);
        }
        // The window goes first: a reader gone before it would stop its trace.
        const auto closeReader = qScopeGuard([this, reader] {
            Window_.reset();
            ::close(reader);
        });
        EXPECT_TRUE(Dialogs.Boxes.empty());
        Run("ReadConfigAction");
        const QStringList lines = ReadLines(reader, HeaderLines + 3);
        ASSERT_EQ(lines.size(), HeaderLines + 3) << lines.join('\n').toStdString();
        ExpectHeader(lines, module.Port());
        EXPECT_TRUE(lines[HeaderLines].contains(" !! | соединение установлено")) << lines[HeaderLines].toStdString();
        EXPECT_TRUE(lines[HeaderLines + 1].contains(" >> 00 01 00 00 00 06 FF 03 00 54 00 38 | "));
        EXPECT_TRUE(lines[HeaderLines + 2].contains(" << 00 01 00 00 00 73 FF 03 70 "));
    }
}

// A trace that cannot be written any more is told once, in the status bar and on stderr, and the
// exchange goes on without it.
TEST_F(MonitorTest, ATraceWriteThatFailsIsToldOnceAndStopsTheTrace)
{
    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    const struct {
        const char* Name;
        bool ClosedPipe;  // else /dev/full
        QString Told;
    } cases[] = {
        {"/dev/full", false, NoSpaceToldText},
        {"a FIFO whose reader went away", true,
         QStringLiteral("Запись трассировки прекращена: читающая сторона канала закрыта")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Window_.reset();
        Dialogs.Boxes.clear();
        TStderrCapture errors(Path("stderr.txt"));
        if (c.ClosedPipe) {
            const QString fifo = Path("abandoned-fifo");
            ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
            const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(reader, 0);
            Window().StartTrace(fifo);
            ::close(reader);
        } else {
            Window().StartTrace("/dev/full");
        }
        EXPECT_TRUE(Dialogs.Boxes.empty());
        Run("ReadConfigAction");
        Run("ReadConfigAction");
        EXPECT_EQ(Dialogs.Boxes.back().Text, ReadText);
        EXPECT_EQ(Window().statusBar()->currentMessage(), c.Told);
        EXPECT_EQ(errors.Text().count("KorvelService: " + c.Told + "\n"), 1) << errors.Text().toStdString();
        EXPECT_EQ(Window().Client->Master().TraceSink, nullptr);
    }
}

namespace {

// A FIFO in the folder with a reader held open that reads only when asked.
struct TStalledFifo {
    explicit TStalledFifo(const QString& name) : Name(name)
    {
        if (::mkfifo(QFile::encodeName(name).constData(), 0600) == 0)
            Reader = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ~TStalledFifo()
    {
        if (Reader >= 0)
            ::close(Reader);
    }
    TStalledFifo(const TStalledFifo&) = delete;
    TStalledFifo& operator=(const TStalledFifo&) = delete;

    QString Name;
    int Reader = -1;
};

// Should a trace write wait for the reader, this reads for it once the deadline has passed, so that
// the test fails instead of hanging.
class TRescueReader {
public:
    explicit TRescueReader(int reader)
        : Thread([this, reader] {
            std::unique_lock lock(Mutex);
            if (Finished.wait_for(lock, std::chrono::seconds(5), [this] { return Done; }))
                return;
            Rescued = true;
            lock.unlock();
            char buffer[4096];
            while (!Stop)
                if (::read(reader, buffer, sizeof buffer) <= 0)
                    std::this_thread::yield();
        })
    {}
    ~TRescueReader()
    {
        {
            const std::lock_guard lock(Mutex);
            Done = true;
        }
        Stop = true;
        Finished.notify_all();
        Thread.join();
    }
    TRescueReader(const TRescueReader&) = delete;
    TRescueReader& operator=(const TRescueReader&) = delete;
    bool Needed() const { return Rescued; }

private:
    std::mutex Mutex;
    std::condition_variable Finished;
    bool Done = false;
    std::atomic<bool> Stop = false;
    std::atomic<bool> Rescued = false;
    std::thread Thread;
};

constexpr const char* ReaderStalledToldText =
    "Запись трассировки прекращена: читающая сторона канала не успевает читать";

}  // namespace

// A reader that never reads costs the trace, never the window: nothing waits for it, and once the
// lines it has not taken pass the bound the trace stops, told as any failed trace is.
TEST_F(MonitorTest, AReaderThatNeverReadsStopsTheTraceNotTheWindow)
{
    const TStalledFifo fifo(Path("stalled-fifo"));
    ASSERT_GE(fifo.Reader, 0);
    TStderrCapture errors(Path("stderr.txt"));
    Window().StartTrace(fifo.Name);
    TModbusTraceSink* sink = Window().Client->Master().TraceSink;
    ASSERT_NE(sink, nullptr);

    int traced = 0;
    {
        const TRescueReader rescue(fifo.Reader);
        // Each line is some 70 bytes: the bound is passed long before the last of these.
        for (; traced < 100000 && Window().Client->Master().TraceSink; ++traced)
            sink->Trace(TModbusTraceEvent::Retransmission, nullptr, 0, StatusOk);
        EXPECT_FALSE(rescue.Needed()) << "a trace write waited for the reader";
    }
    EXPECT_LT(traced, 100000) << "the trace never stopped";
    EXPECT_GT(traced, int(TTraceFile::BacklogLimit / 100)) << "the backlog should hold more than the pipe";
    const QString told = Window().statusBar()->currentMessage();
    EXPECT_TRUE(told.startsWith(ReaderStalledToldText)) << told.toStdString();
    EXPECT_EQ(errors.Text().count("KorvelService: " + told + "\n"), 1) << errors.Text().toStdString();

    // What reached the reader ends with a whole line, the header first.
    QByteArray taken;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fifo.Reader, buffer, sizeof buffer)) > 0;)
        taken.append(buffer, n);
    ASSERT_TRUE(taken.endsWith('\n'));
    EXPECT_TRUE(taken.startsWith("# ==== KorvelService "));
    EXPECT_LT(taken.count('\n'), HeaderLines + traced);
}

// A reader that pauses and reads again gets every line, in order, once it has caught up.
TEST_F(MonitorTest, AReaderThatPausesGetsEveryLineWhenItReadsAgain)
{
    const TStalledFifo fifo(Path("paused-fifo"));
    ASSERT_GE(fifo.Reader, 0);
    Window().StartTrace(fifo.Name);
    TModbusTraceSink* sink = Window().Client->Master().TraceSink;
    ASSERT_NE(sink, nullptr);
    // More than the pipe holds, less than the backlog's bound; each line numbered by its transaction.
    constexpr int Frames = 3000;
    {
        const TRescueReader rescue(fifo.Reader);
        for (int i = 0; i < Frames; ++i) {
            const uint8_t request[] = {uint8_t(i >> 8), uint8_t(i), 0, 0, 0, 6, 255, 3, 0, 84, 0, 56};
            sink->Trace(TModbusTraceEvent::Sent, request, int(sizeof request), StatusOk);
        }
        EXPECT_FALSE(rescue.Needed()) << "a trace write waited for the reader";
    }
    const QStringList lines = ReadLines(fifo.Reader, HeaderLines + Frames);
    ASSERT_EQ(lines.size(), HeaderLines + Frames);
    for (int i = 0; i < Frames; ++i)
        ASSERT_TRUE(lines[HeaderLines + i].contains(QStringLiteral("транзакция %1,").arg(i))) << i;
    EXPECT_NE(Window().Client->Master().TraceSink, nullptr) << "the trace goes on";
}

// A disk that fills up mid-line: the file keeps its lines up to the last whole one, and the stop is
// told once however many frames follow.
TEST_F(MonitorTest, AFullDiskLeavesTheTraceWithWholeLinesOnly)
{
    const QString small = Path("small");
    ASSERT_TRUE(QDir().mkpath(small));
    if (const std::string failure = MountSmallFileSystem(small.toStdString(), 64 * 1024); !failure.empty())
        GTEST_SKIP() << failure;
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(small).constData(), MNT_DETACH); });
    // Earlier lines end a little short of the file's first page, and a filler takes every other one:
    // the next lines fit until one crosses into the page the disk has not got.
    const QString trace = small + "/trace.txt";
    QByteArray earlier;
    while (earlier.size() < 4000)
        earlier += "earlier session\n";
    {
        QFile file(trace);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(earlier), earlier.size());
    }
    const int filler = ::open(QFile::encodeName(small + "/filler").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(filler, 0);
    const QByteArray block(4096, 'x');
    while (::write(filler, block.constData(), size_t(block.size())) > 0) {}
    ::close(filler);

    TModuleSimServer module;
    ASSERT_TRUE(module.Listen(QHostAddress::LocalHost, 0));
    PointSettingsAt(module.Port());
    TStderrCapture errors(Path("stderr.txt"));
    Window().StartTrace(trace);
    EXPECT_TRUE(Dialogs.Boxes.empty());
    for (int i = 0; i < 3; ++i)
        Run("ReadConfigAction");
    EXPECT_EQ(Window().statusBar()->currentMessage(), NoSpaceToldText);
    EXPECT_EQ(errors.Text().count("KorvelService: " + NoSpaceToldText + "\n"), 1) << errors.Text().toStdString();

    const QByteArray kept = FileBytes(trace);
    ASSERT_TRUE(kept.startsWith(earlier));
    // The header's lines up to the one that did not fit.
    const QByteArray added = kept.mid(earlier.size());
    ASSERT_TRUE(added.endsWith('\n')) << added.toStdString();
    const QStringList lines = QString::fromUtf8(added).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines[0].startsWith("# ==== KorvelService ")) << added.toStdString();
}

TEST(MonitorWindow, OpensNoLargerThanItsScreen)
{
    const TMonitorWindow monitor;
    const QSize screen = monitor.screen()->availableSize();
    EXPECT_LE(monitor.width(), screen.width());
    EXPECT_LE(monitor.height(), screen.height());
}

// Each event of the connection becomes one record of its kind with its words; a time-out keeps
// what came of the reply.
TEST(ExchangeRecorder, EachConnectionEventIsRecordedWithItsKindAndWords)
{
    const struct {
        TModbusTraceEvent Event;
        TExchangeEvent Kind;
        const char* Meaning;
    } cases[] = {
        {TModbusTraceEvent::Timeout, TExchangeEvent::Timeout, "таймаут: нет ответа"},
        {TModbusTraceEvent::Retransmission, TExchangeEvent::Retransmission, "повторная передача"},
        {TModbusTraceEvent::Connected, TExchangeEvent::Connection, "соединение установлено"},
        {TModbusTraceEvent::Disconnected, TExchangeEvent::Connection, "соединение закрыто"},
        {TModbusTraceEvent::ConnectionFailed, TExchangeEvent::Connection, "ошибка соединения"},
    };
    const uint8_t partOfReply[] = {0, 1, 0, 0};
    for (const auto& c : cases) {
        TExchangeRecorder recorder;
        std::vector<TExchangeRecord> records;
        QObject::connect(&recorder, &TExchangeRecorder::Recorded,
                         [&](const TExchangeRecord& record) { records.push_back(record); });
        const bool withBytes = c.Event == TModbusTraceEvent::Timeout;
        recorder.Trace(c.Event, withBytes ? partOfReply : nullptr, withBytes ? int(sizeof partOfReply) : 0, StatusOk);
        ASSERT_EQ(records.size(), 1u) << c.Meaning;
        EXPECT_EQ(records[0].Event, c.Kind) << c.Meaning;
        EXPECT_EQ(records[0].Meaning, QString::fromUtf8(c.Meaning));
        EXPECT_EQ(records[0].Bytes, withBytes ? QByteArray("\0\1\0\0", 4) : QByteArray()) << c.Meaning;
    }
}

// A device's registers read with either function are told in words, as the module's own blocks are.
TEST(ExchangeRecord, EachReadOfRegistersIsToldInWords)
{
    const struct {
        int Unit, Function, First, Count;
        const char* Meaning;
    } cases[] = {
        {255, 3, 84, 56, "чтение конфигурации"}, {255, 3, 78, 6, "чтение информации"},
        {5, 3, 0, 10, "чтение регистров"},       {5, 4, 0, 10, "чтение входных регистров"},
        {5, 16, 0, 2, "запись регистров"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RequestMeaning(c.Unit, c.Function, c.First, c.Count), QString::fromUtf8(c.Meaning)) << c.Meaning;
}

// The text kept for a second is used only within that second, in whatever order rows are shown.
TEST(ExchangeClock, EachTimeIsShownAsItsOwnLocalTime)
{
    const qint64 second = QDateTime(QDate(2026, 12, 7), QTime(20, 31, 24)).toMSecsSinceEpoch();
    for (const qint64 ms : {second, second + 1, second + 999, second + 1000, second - 1, second, second + 86400000})
        EXPECT_EQ(ExchangeClockText(ms), QDateTime::fromMSecsSinceEpoch(ms).toString("dd.MM.yyyy hh:mm:ss.zzz")) << ms;
}

// At the window's first size the meaning column shows every event and every exception name whole:
// they are what the operator looks for when a module misbehaves.
TEST(MonitorWindow, TheMeaningColumnShowsEveryEventAndExceptionWhole)
{
    TMonitorWindow monitor;
    TExchangeRecorder recorder;
    QObject::connect(&recorder, &TExchangeRecorder::Recorded, &monitor, &TMonitorWindow::AddRecord);
    for (TModbusTraceEvent event :
         {TModbusTraceEvent::Timeout, TModbusTraceEvent::Retransmission, TModbusTraceEvent::Connected,
          TModbusTraceEvent::Disconnected, TModbusTraceEvent::ConnectionFailed})
        recorder.Trace(event, nullptr, 0, StatusOk);
    const QByteArray request = MbapFrame(1, 255, QByteArray::fromHex("0300540038"));
    for (uint8_t code : {1, 2, 3, 4, 5, 6, 8, 10, 11}) {
        const QByteArray reply = MbapFrame(1, 255, QByteArray::fromHex("83") + char(code));
        recorder.Trace(TModbusTraceEvent::Sent, reinterpret_cast<const uint8_t*>(request.data()), int(request.size()),
                       StatusOk);
        recorder.Trace(TModbusTraceEvent::Received, reinterpret_cast<const uint8_t*>(reply.data()), int(reply.size()),
                       StatusException);
    }

    const QTableView& view = *monitor.TableView1;
    // The room a cell leaves its text, as the style draws it.
    const int margins = 2 * (view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1) + 1;
    const int room = view.horizontalHeader()->sectionSize(TExchangeTableModel::MeaningColumn) - margins;
    const TExchangeTableModel& rows = monitor.Rows();
    ASSERT_TRUE(WaitUntil([&] { return AllShown(monitor); }));
    ASSERT_EQ(rows.rowCount(), 5 + 2 * 9);
    for (int row = 0; row < rows.rowCount(); ++row) {
        const QString meaning = rows.data(rows.index(row, TExchangeTableModel::MeaningColumn)).toString();
        EXPECT_LE(view.fontMetrics().horizontalAdvance(meaning), room) << meaning.toStdString();
    }
}

}  // namespace
