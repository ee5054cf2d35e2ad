// Entry point of every test executable: COM on the main thread, then GoogleTest.
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
