#pragma once
// The program's command line: KorvelService [--trace FILE] [FILE.ini], --help, --version.

#include <QString>
#include <QStringList>

struct TCommandLine {
    enum class TKind { Run, Help, Version, Error };
    TKind Kind = TKind::Run;
    QString FileName;   // the configuration file to open at start; empty for none
    QString Error;      // what was wrong, for TKind::Error
    QString TraceFile;  // where the exchange with the module is appended ("-": stdout); empty for nowhere
};

// arguments[0] is the program itself.
TCommandLine ParseCommandLine(const QStringList& arguments);

// Prints what a command line other than Run asks for (help and version on stdout, an error with
// the usage on stderr) and answers the exit status.
int AnswerCommandLine(const TCommandLine& commandLine);
