// GoogleTest entry for tests that need a Qt application object and its event loop.
#include <gtest/gtest.h>

#ifdef NORV_TEST_WIDGETS
#include <QApplication>
using NorvTestApplication = QApplication;
#else
#include <QCoreApplication>
using NorvTestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    NorvTestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
