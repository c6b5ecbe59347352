#include <QCoreApplication>

#include <gtest/gtest.h>

// Completions of the HTTP layer are queued to the main thread's event loop,
// so the tests need an application object to run them.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
