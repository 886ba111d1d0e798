// korvel-cli-report: korvel-cli's report command, which korvel-cli starts in its own place with the
// same command line, so that no other command loads the GUI libraries a report needs.
#include "CliProgram.h"

#include <QGuiApplication>

int main(int argc, char* argv[])
{
    // A report lays its text out in fonts, which takes a GUI application; it draws on no screen, so it
    // runs as well without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return RunCliProgram(argc, argv, [](int& argc, char** argv) -> std::unique_ptr<QCoreApplication> {
        return std::make_unique<QGuiApplication>(argc, argv);
    });
}
