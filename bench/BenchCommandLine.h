#pragma once
// The command line every benchmark reads the same way: its help, its options, and the whole numbers
// they hold, a wrong one told on the standard error under the benchmark's own name.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <climits>
#include <cstdio>
#include <vector>

class TBenchCommandLine {
public:
    // --help and an unknown option end the program here, as QCommandLineParser does.
    TBenchCommandLine(const QCoreApplication& app, const QString& description, const QList<QCommandLineOption>& options)
    {
        Parser_.setApplicationDescription(description);
        Parser_.addHelpOption();
        Parser_.addOptions(options);
        Parser_.process(app);
    }

    bool IsSet(const QCommandLineOption& option) const { return Parser_.isSet(option); }
    QString Value(const QCommandLineOption& option) const { return Parser_.value(option); }

    // The option's whole number, from least to most; false, once told, when it is not one.
    bool Number(const QCommandLineOption& option, int& number, int least, int most = INT_MAX) const
    {
        std::vector<int> numbers;
        if (!Read({Value(option)}, option, "a whole number", least, most, numbers))
            return false;
        number = numbers.front();
        return true;
    }
    // The same for a comma-separated list.
    bool Numbers(const QCommandLineOption& option, std::vector<int>& numbers, int least, int most = INT_MAX) const
    {
        return Read(Value(option).split(','), option, "comma-separated whole numbers", least, most, numbers);
    }

private:
    bool Read(const QStringList& parts, const QCommandLineOption& option, const char* what, int least, int most,
              std::vector<int>& numbers) const
    {
        numbers.clear();
        for (const QString& part : parts) {
            bool ok = false;
            const int value = part.toInt(&ok);
            if (!ok || value < least || value > most) {
                const QString range =
                    most == INT_MAX ? QString("from %1").arg(least) : QString("from %1 to %2").arg(least).arg(most);
                std::fprintf(stderr, "%s: --%s needs %s %s\n", qPrintable(QCoreApplication::applicationName()),
                             qPrintable(option.names().constFirst()), what, qPrintable(range));
                return false;
            }
            numbers.push_back(value);
        }
        return true;
    }

    QCommandLineParser Parser_;
};
