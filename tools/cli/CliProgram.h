#pragma once
// The whole of korvel-cli around its commands: the process prepared, the command line read, the Qt
// application made, the command run. Answers the program's exit status.

#include <QCoreApplication>

#include <functional>
#include <memory>

// makeApplication is given the arguments to hand on to the application's constructor.
using TMakeApplication = std::function<std::unique_ptr<QCoreApplication>(int& argc, char** argv)>;

int RunCliProgram(int argc, char* argv[], const TMakeApplication& makeApplication);
