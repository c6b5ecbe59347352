#include "obs-compat.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#if defined(__linux__)
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace compat {

#if defined(__linux__)

namespace {

// OBS before 30 closes its main window right inside its SIGINT handler. The
// handler interrupts the main thread wherever it is: in the middle of a
// paint (a nested repaint then frees the painter's backing store under it,
// and Qt crashes drawing the next glyph) or while xcb holds its lock (the
// close then waits for that lock for ever). The signal only wakes the event
// loop here; the window closes once the main thread is between events.
int g_wakeFds[2] = {-1, -1};
struct sigaction g_previous = {};
bool g_installed = false;
QPointer<QSocketNotifier> g_notifier;

extern "C" void onInterrupt(int) {
    const int saved = errno;
    const char byte = 1;
    // Async-signal-safe; a full pipe means a close is already pending.
    [[maybe_unused]] ssize_t n = write(g_wakeFds[1], &byte, 1);
    errno = saved;
}

void drainWakeFd() {
    char buffer[64];
    while (read(g_wakeFds[0], buffer, sizeof(buffer)) > 0) {
    }
}

} // namespace

bool deferInterruptClose(QWidget* window) {
    if (g_installed || !window || obs_get_version() >= MAKE_SEMANTIC_VERSION(30, 0, 0)) {
        return false;
    }
    struct sigaction current = {};
    if (sigaction(SIGINT, nullptr, &current) != 0) {
        return false;
    }
    // Only a handler OBS installed is replaced: with the default action or
    // SIGINT ignored, there is no close to defer.
    const bool hasHandler = (current.sa_flags & SA_SIGINFO) != 0 ||
                            (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
    if (!hasHandler || pipe2(g_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }

    QPointer<QWidget> target = window;
    g_notifier = new QSocketNotifier(g_wakeFds[0], QSocketNotifier::Read, window);
    QObject::connect(g_notifier.data(), &QSocketNotifier::activated, window, [target] {
        drainWakeFd();
        if (target) {
            target->close();
        }
    });

    struct sigaction ours = {};
    ours.sa_handler = onInterrupt;
    sigemptyset(&ours.sa_mask);
    ours.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &ours, &g_previous) != 0) {
        delete g_notifier.data();
        close(g_wakeFds[0]);
        close(g_wakeFds[1]);
        g_wakeFds[0] = g_wakeFds[1] = -1;
        return false;
    }
    g_installed = true;
    return true;
}

void restoreInterruptHandler() {
    if (!g_installed) {
        return;
    }
    // The handler lives in this module: it must be gone before the module is.
    sigaction(SIGINT, &g_previous, nullptr);
    g_installed = false;
    delete g_notifier.data();
    close(g_wakeFds[0]);
    close(g_wakeFds[1]);
    g_wakeFds[0] = g_wakeFds[1] = -1;
}

#else

bool deferInterruptClose(QWidget*) {
    return false;
}

void restoreInterruptHandler() {}

#endif

} // namespace compat
