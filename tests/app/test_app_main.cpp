// One application object for the main window's tests: the program's own, with its error display.
#include "KorvelApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    TKorvelApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
