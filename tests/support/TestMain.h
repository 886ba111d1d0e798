#pragma once
// GoogleTest's entry with the Qt application object the tests need. Listing the tests (CTest's
// discovery) creates no application, so it needs no display.

#include <gtest/gtest.h>

template <class TApplication> int RunAllTestsWithin(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    TApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
