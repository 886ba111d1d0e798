// The entry of tests of sockets, timers and servers.
#include "TestMain.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    return RunAllTestsWithin<QCoreApplication>(argc, argv);
}
