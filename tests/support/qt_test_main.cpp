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
    // Tests never need a display; listing the tests at discovery must not either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    NorvTestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
