#include "qt_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

bool waitUntil(const std::function<bool()>& ready, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!ready()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void pump(int ms) {
    waitUntil([] { return false; }, ms);
}
