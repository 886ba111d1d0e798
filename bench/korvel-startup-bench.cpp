// korvel-startup-bench: what one call of korvel-cli costs before and around its work, the price a
// shell loop or a play pays for every module. korvel-cli --version and info against a bare QtCore +
// QtNetwork program doing the same (korvel-bare-qt) and against mbpoll (libmodbus), whole process
// each, taking turns: processor time (user + system), wall time, and the shared libraries loaded.
#include "BenchCommandLine.h"
#include "BenchProcess.h"
#include "Percentile.h"

#include <QProcess>
#include <QSet>

#include <cstdio>
#include <vector>

namespace {

struct TProgram {
    const char* Name;
    QString Path;
    QStringList Arguments;
};

// The shared libraries the process loaded, its own start-up and those opened later alike: each is
// initialised once, and the dynamic loader tells it.
int LoadedLibraries(const TProgram& program)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_DEBUG", "libs");
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program.Path, program.Arguments);
    if (!process.waitForFinished(-1))
        return -1;
    QSet<QByteArray> libraries;
    for (const QByteArray& line : process.readAllStandardError().split('\n'))
        if (const qsizetype at = line.indexOf("calling init: "); at >= 0)
            libraries.insert(line.mid(at + 14).trimmed());
    return int(libraries.size());
}

bool Measure(const char* what, const std::vector<TProgram>& programs, int rounds)
{
    for (const TProgram& program : programs)
        Run(program.Path, program.Arguments);  // into the page cache, not counted
    std::vector<std::vector<double>> cpu(programs.size()), wall(programs.size());
    for (int round = 0; round < rounds; ++round)
        // Each starts the round in its turn, so that none always follows the same one.
        for (size_t k = 0; k < programs.size(); ++k) {
            const TProgram& program = programs[(k + size_t(round)) % programs.size()];
            const TRun run = Run(program.Path, program.Arguments);
            if (run.CpuMs < 0) {
                std::fprintf(stderr, "korvel-startup-bench: %s %s failed\n", program.Name, what);
                return false;
            }
            const size_t index = (k + size_t(round)) % programs.size();
            cpu[index].push_back(run.CpuMs);
            wall[index].push_back(run.WallMs);
        }
    std::printf("%s, %d runs each, medians:\n", what, rounds);
    for (size_t k = 0; k < programs.size(); ++k)
        std::printf("  %-16s processor %6.1f ms   wall %6.1f ms   shared libraries %3d\n", programs[k].Name,
                    Percentile(cpu[k], 0.5), Percentile(wall[k], 0.5), LoadedLibraries(programs[k]));
    std::printf("  processor time korvel-cli / bare Qt %.2f (goal <= 1.3), korvel-cli / mbpoll %.2f\n",
                Percentile(cpu[0], 0.5) / Percentile(cpu[1], 0.5), Percentile(cpu[0], 0.5) / Percentile(cpu[2], 0.5));
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QCommandLineOption roundsOption("rounds", "Runs of each program, taking turns (50).", "n", "50");
    const TBenchCommandLine commandLine(app, "The start-up of korvel-cli against a bare Qt program and mbpoll.",
                                        {roundsOption});
    int rounds = 0;
    if (!commandLine.Number(roundsOption, rounds, 1))
        return 2;
    TSimProcess module({});
    if (module.Port() == 0) {
        std::fprintf(stderr, "korvel-startup-bench: the simulated module did not start\n");
        return 1;
    }
    const QString port = QString::number(module.Port());
    const bool versions = Measure("--version",
                                  {{"korvel-cli", KORVEL_CLI, {"--version"}},
                                   {"korvel-bare-qt", KORVEL_BARE_QT, {"--version"}},
                                   {"mbpoll", "mbpoll", {"-V"}}},
                                  rounds);
    // The same registers in one request each: the module's information and configuration.
    const bool info = Measure(
        "info",
        {{"korvel-cli", KORVEL_CLI, {"info", "127.0.0.1:" + port}},
         {"korvel-bare-qt", KORVEL_BARE_QT, {"info", "127.0.0.1", port}},
         {"mbpoll", "mbpoll", {"-m", "tcp", "-p", port, "-a", "255", "-0", "-r", "78", "-c", "62", "-1", "127.0.0.1"}}},
        rounds);
    return versions && info ? 0 : 1;
}
