// The engine tests against a real libobs core share one core per process:
// libobs starts once and cannot start again after its shutdown.

#include "obs_harness.h"

#include <QGuiApplication>

#include <cstdio>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The painter needs fonts, so a GUI application; no screen is used.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QString error;
    if (!obstest::startObs(&error)) {
        std::fprintf(stderr, "libobs did not start: %s\n", qPrintable(error));
        return 1;
    }
    const int rc = RUN_ALL_TESTS();
    obstest::stopObs();
    return rc;
}
