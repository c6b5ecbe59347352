#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The loopback servers must be reached directly, whatever proxy the
    // machine's environment names.
    qputenv("NO_PROXY", "127.0.0.1,localhost,::1");
    qputenv("no_proxy", "127.0.0.1,localhost,::1");
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
