// GoogleTest entry for tests that need a Qt application object and its event loop.
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#ifdef NORV_TEST_WIDGETS
#include <QApplication>
using NorvTestApplication = QApplication;
#else
#include <QCoreApplication>
using NorvTestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    // OpenSSL's own clean-up at exit (OPENSSL_cleanup from atexit) can free its per-thread state
    // twice once TLS sockets have run on threads that have ended, which aborts a test binary
    // under AddressSanitizer after every test has passed. Everything it would free is freed by
    // the process's end anyway.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    // Tests never need a display; listing the tests at discovery must not either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    NorvTestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
