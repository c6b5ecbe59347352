#include "http.h"

#include "http-backend.h"
#include "http-testing.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QPointer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace Http {

namespace {

std::atomic<bool> closing{false};
std::atomic<int> inFlightCount{0};
std::atomic<bool> failThreadStarts{false};

const char* const kFixedHeaders = "Cache-Control: no-cache\r\nAccept: application/json, */*\r\n";

// The way back to the caller. A QPointer may only be read on its object's
// thread, so the worker learns of the context's end through its destroyed()
// signal instead: the signal is emitted on the deleting thread before the
// object is gone, and waits for the mutex while a worker is posting to it.
// Posted events of a destroyed object are discarded by Qt, and the queued
// call checks the QPointer once more on the context's own thread.
struct Delivery {
    std::mutex mutex;
    QObject* context = nullptr; // null once the context began to be destroyed
    QPointer<QObject> guard;
    QMetaObject::Connection watch;
    Callback callback;
};

std::shared_ptr<Delivery> watchContext(QObject* context, Callback callback) {
    auto delivery = std::make_shared<Delivery>();
    delivery->context = context;
    delivery->guard = context;
    delivery->callback = std::move(callback);
    std::weak_ptr<Delivery> weak = delivery;
    delivery->watch = QObject::connect(context, &QObject::destroyed, [weak]() {
        if (auto d = weak.lock()) {
            std::lock_guard<std::mutex> lock(d->mutex);
            d->context = nullptr;
        }
    });
    return delivery;
}

void deliver(const std::shared_ptr<Delivery>& delivery, const Result& result) {
    {
        std::lock_guard<std::mutex> lock(delivery->mutex);
        if (delivery->context && delivery->callback) {
            QMetaObject::invokeMethod(
                delivery->context,
                [guard = delivery->guard, callback = std::move(delivery->callback), result]() {
                    if (guard)
                        callback(result);
                },
                Qt::QueuedConnection);
        }
    }
    // Thread-safe, and harmless when the context is already gone.
    QObject::disconnect(delivery->watch);
}

struct Job {
    QString method;
    QString url;
    QByteArray body;
    QString headers;
    std::uint32_t timeoutMs = 0;
    QString userAgent;
    std::shared_ptr<Delivery> delivery; // null without a context: nobody to tell
};

void runJob(Job* raw) {
    std::unique_ptr<Job> job(raw);
    Result result;
    try {
        result = perform(job->method, job->url, job->body, job->headers, job->timeoutMs, job->userAgent);
    } catch (const std::exception& e) {
        result = Result();
        result.error = QStringLiteral("the request failed (%1)").arg(QString::fromUtf8(e.what()));
    }
    if (job->delivery)
        deliver(job->delivery, result);
    // Free everything the job holds before the count says the worker is done:
    // after shutdown returns, no worker may touch the module any more.
    job.reset();
    inFlightCount.fetch_sub(1);
}

} // namespace

void request(QObject* context, const QString& method, const QString& url, const QByteArray& body,
             const QString& headers, std::uint32_t timeoutMs, const QString& userAgent, Callback callback) {
    if (closing.load())
        return;

    auto job = std::make_unique<Job>();
    job->method = method;
    job->url = url;
    job->body = body;
    job->headers = headers;
    job->timeoutMs = timeoutMs;
    job->userAgent = userAgent;
    if (context)
        job->delivery = watchContext(context, std::move(callback));

    inFlightCount.fetch_add(1);
    try {
        if (failThreadStarts.load())
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        std::thread worker(runJob, job.get());
        job.release();
        worker.detach();
        return;
    } catch (const std::exception&) {
        // Fall through: the caller hears of it like of any other failure.
    }
    inFlightCount.fetch_sub(1);

    // Queued, never called from in here: the caller may not expect its
    // callback to run before request() has returned.
    Result failed;
    failed.error = QStringLiteral("could not start a request thread");
    if (job->delivery)
        deliver(job->delivery, failed);
}

Result perform(const QString& method, const QString& url, const QByteArray& body, const QString& headers,
               std::uint32_t timeoutMs, const QString& userAgent) {
    Result result;
    if (closing.load()) {
        result.error = QStringLiteral("OBS is closing");
        return result;
    }
    const testing::UrlParts parts = testing::splitUrl(url);
    if (!parts.valid) {
        result.error = QStringLiteral("bad address");
        return result;
    }

    backend::Request request;
    request.method = method.isEmpty() ? std::string("GET") : method.toStdString();
    request.host = parts.host.toStdString();
    request.port = parts.port;
    request.secure = parts.secure;
    request.target = parts.target.toStdString();
    request.headers = std::string(kFixedHeaders) + headers.toStdString();
    request.body.assign(body.constData(), static_cast<std::size_t>(body.size()));
    request.timeoutMs = timeoutMs;
    request.userAgent = userAgent.toStdString();

    backend::Response response = backend::perform(request);
    result.ok = response.ok;
    result.status = response.status;
    result.body = QByteArray(response.body.data(), static_cast<int>(response.body.size()));
    result.error = QString::fromStdString(response.error);
    return result;
}

void shutdown() {
    closing.store(true);
    backend::abortAll(true);
    QElapsedTimer timer;
    timer.start();
    while (inFlightCount.load() > 0 && timer.elapsed() < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

namespace testing {

UrlParts splitUrl(const QString& url) {
    UrlParts parts;
    const QUrl parsed(url, QUrl::TolerantMode);
    if (!parsed.isValid())
        return parts;
    parts.host = parsed.host(QUrl::FullyDecoded);
    if (parts.host.isEmpty())
        return parts;
    parts.valid = true;
    parts.secure = parsed.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    const int port = parsed.port();
    parts.port = port > 0 ? static_cast<std::uint16_t>(port) : (parts.secure ? 443 : 80);
    parts.target = parsed.path(QUrl::FullyEncoded);
    if (parts.target.isEmpty())
        parts.target = QStringLiteral("/");
    if (parsed.hasQuery())
        parts.target += QLatin1Char('?') + parsed.query(QUrl::FullyEncoded);
    return parts;
}

void setTrustedCaFile(const QString& pemPath) {
    backend::setTrustedCaFileForTesting(pemPath.toStdString());
}

void setFailThreadStarts(bool fail) {
    failThreadStarts.store(fail);
}

int inFlight() {
    return inFlightCount.load();
}

} // namespace testing

} // namespace Http
