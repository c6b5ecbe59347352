#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

// Widgets need an application object; the link's completions come through
// its event loop. Without a platform named (test discovery at build time)
// the offscreen one is used, never a display.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
