// KorvelService: the configurator of the Korvel gateway module.

#include "CommandLine.h"
#include "KorvelApplication.h"
#include "Main_Win.h"
#include "TerminationSignals.h"

#include <QTimer>

int main(int argc, char** argv)
{
    // Help and version are answered before the application exists, so that they need no display.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    if (const TCommandLine early = ParseCommandLine(rawArguments);
        early.Kind == TCommandLine::TKind::Help || early.Kind == TCommandLine::TKind::Version)
        return AnswerCommandLine(early);

    TKorvelApplication application(argc, argv);
    // The application has taken Qt's own options (-platform ...) out; what is left is ours.
    const TCommandLine commandLine = ParseCommandLine(application.arguments());
    if (commandLine.Kind != TCommandLine::TKind::Run)
        return AnswerCommandLine(commandLine);

    TMainWindow window;
    CloseOnTerminationSignals(&window);
    window.show();
    // From the running loop: a message these may show then waits inside it, where a termination
    // signal can still end the program; a close asked for before the loop runs would be lost.
    QTimer::singleShot(0, &window, [&window, &commandLine] {
        if (!commandLine.TraceFile.isEmpty())
            window.StartTrace(commandLine.TraceFile);
        if (!commandLine.FileName.isEmpty())
            window.OpenFileAtStart(commandLine.FileName);
        window.OfferRecovery();
    });
    return application.exec();
}
