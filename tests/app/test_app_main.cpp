// One application object for the main window's tests: the program's own, with its error display.
#include "KorvelApplication.h"
#include "TestMain.h"

int main(int argc, char** argv)
{
    return RunAllTestsWithin<TKorvelApplication>(argc, argv);
}
