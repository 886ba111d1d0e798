#include "CommandLine.h"

#include "FileInfo.h"

#include <cstdio>

namespace {
constexpr int UsageErrorStatus = 2;
const QString TraceOption = QStringLiteral("--trace");

const QString Usage = QStringLiteral("Использование: KorvelService [--trace ЖУРНАЛ] [ФАЙЛ.ini]\n"
                                     "Настройка модуля Korvel: ModbusTCP и две линии RS-485.\n"
                                     "\n"
                                     "  ФАЙЛ.ini        открыть этот файл конфигурации при запуске\n"
                                     "  --trace ЖУРНАЛ  дописывать в файл ЖУРНАЛ каждый кадр обмена с модулем\n"
                                     "                  (ЖУРНАЛ может быть каналом; - означает стандартный вывод)\n"
                                     "  -h, --help      показать эту справку и выйти\n"
                                     "  -v, --version   показать версию программы и выйти\n");

void Print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
}
}  // namespace

TCommandLine ParseCommandLine(const QStringList& arguments)
{
    TCommandLine result;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!optionsEnded && argument == QStringLiteral("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == QStringLiteral("-h") || argument == QStringLiteral("--help"))) {
            return {TCommandLine::TKind::Help, {}, {}, {}};
        } else if (!optionsEnded && (argument == QStringLiteral("-v") || argument == QStringLiteral("--version"))) {
            return {TCommandLine::TKind::Version, {}, {}, {}};
        } else if (!optionsEnded && argument == TraceOption) {
            if (i + 1 >= arguments.size())
                return {TCommandLine::TKind::Error, {}, QStringLiteral("не указан файл для ") + TraceOption, {}};
            result.TraceFile = arguments[++i];
        } else if (!optionsEnded && argument.startsWith(TraceOption + u'=')) {
            result.TraceFile = argument.mid(TraceOption.size() + 1);
        } else if (!optionsEnded && argument.startsWith(u'-') && argument.size() > 1) {
            return {TCommandLine::TKind::Error, {}, QStringLiteral("неизвестный параметр ") + argument, {}};
        } else if (!result.FileName.isEmpty()) {
            return {TCommandLine::TKind::Error, {}, QStringLiteral("лишний параметр ") + argument, {}};
        } else {
            result.FileName = argument;
        }
    }
    return result;
}

int AnswerCommandLine(const TCommandLine& commandLine)
{
    switch (commandLine.Kind) {
    case TCommandLine::TKind::Help: Print(stdout, Usage); return 0;
    case TCommandLine::TKind::Version: {
        int major = 0;
        int minor = 0;
        GetProgramVersion(major, minor);
        Print(stdout, QStringLiteral("KorvelService %1.%2\n").arg(major).arg(minor));
        return 0;
    }
    case TCommandLine::TKind::Error:
        Print(stderr, QStringLiteral("KorvelService: ") + commandLine.Error + '\n' + Usage);
        return UsageErrorStatus;
    case TCommandLine::TKind::Run: break;
    }
    return 0;
}
