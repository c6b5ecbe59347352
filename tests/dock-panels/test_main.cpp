#include <QApplication>

#include <gtest/gtest.h>

// Widgets need an application; the offscreen platform lets them run without a
// display, also when the tests are listed at build time.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
