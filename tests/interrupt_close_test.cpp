// Closing on SIGINT: the window closes from the event loop, never inside the
// signal handler, and the previous handler comes back intact.

#include "plugin/obs-compat.h"
#include "qt_wait.h"

#include <QApplication>
#include <QByteArray>
#include <QCloseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> g_previousCalls{0};

extern "C" void previousHandler(int) {
    g_previousCalls.fetch_add(1);
}

class CountingWindow : public QWidget {
public:
    int closes = 0;

protected:
    void closeEvent(QCloseEvent* event) override {
        ++closes;
        QWidget::closeEvent(event);
    }
};

void installHandler(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGINT, &action, nullptr), 0);
}

void (*currentHandler())(int) {
    struct sigaction action = {};
    sigaction(SIGINT, nullptr, &action);
    return action.sa_handler;
}

class InterruptClose : public ::testing::Test {
protected:
    void SetUp() override {
        if (obs_get_version() >= MAKE_SEMANTIC_VERSION(30, 0, 0)) {
            GTEST_SKIP() << "OBS 30 and later close on SIGINT from the event loop themselves";
        }
        g_previousCalls.store(0);
        installHandler(previousHandler);
    }
    void TearDown() override {
        compat::restoreInterruptHandler();
        installHandler(SIG_DFL);
    }
};

TEST_F(InterruptClose, ClosesFromTheEventLoopAndRestoresTheHandler) {
    CountingWindow window;
    window.show();
    ASSERT_TRUE(compat::deferInterruptClose(&window));
    EXPECT_FALSE(compat::deferInterruptClose(&window)) << "installed twice";

    // Two signals in a row, as from an impatient Ctrl+C: nothing happens
    // inside the handler, and the window closes once.
    ASSERT_EQ(raise(SIGINT), 0);
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(window.closes, 0);
    EXPECT_EQ(g_previousCalls.load(), 0);
    ASSERT_TRUE(waitUntil([&] { return window.closes > 0; }, 5000));
    pump(50);
    EXPECT_EQ(window.closes, 1);
    EXPECT_FALSE(window.isVisible());

    compat::restoreInterruptHandler();
    EXPECT_EQ(currentHandler(), &previousHandler);
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(g_previousCalls.load(), 1);
    pump(50);
    EXPECT_EQ(window.closes, 1);
}

TEST_F(InterruptClose, SignalAfterTheWindowIsGoneIsHarmless) {
    auto* window = new CountingWindow;
    ASSERT_TRUE(compat::deferInterruptClose(window));
    delete window;
    ASSERT_EQ(raise(SIGINT), 0);
    pump(50);
    compat::restoreInterruptHandler();
    EXPECT_EQ(currentHandler(), &previousHandler);

    // Installable again after a restore (a module loaded a second time).
    CountingWindow second;
    EXPECT_TRUE(compat::deferInterruptClose(&second));
}

TEST_F(InterruptClose, LeavesDefaultAndIgnoredSignalsAlone) {
    CountingWindow window;
    EXPECT_FALSE(compat::deferInterruptClose(nullptr));
    installHandler(SIG_DFL);
    EXPECT_FALSE(compat::deferInterruptClose(&window));
    EXPECT_EQ(currentHandler(), SIG_DFL);
    installHandler(SIG_IGN);
    EXPECT_FALSE(compat::deferInterruptClose(&window));
    EXPECT_EQ(currentHandler(), SIG_IGN);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
