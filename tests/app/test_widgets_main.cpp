// One QApplication for every widget test.
#include "TestMain.h"

#include <QApplication>

int main(int argc, char** argv)
{
    return RunAllTestsWithin<QApplication>(argc, argv);
}
