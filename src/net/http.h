#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

// Every request to the service goes through here: each runs on its own worker
// thread and its result is queued back to the thread of a context object.
namespace Http {

struct Result {
    bool ok = false; // a 2xx status arrived and the layer was not shut down meanwhile
    int status = 0;  // 0 when no response status was read
    QByteArray body; // possibly cut at the 8 MiB limit
    QString error;   // empty on success
};

using Callback = std::function<void(const Result&)>;

// Returns at once. The callback runs later on the context's thread, at most
// once, and never after the context is destroyed. A request made after
// shutdown began is dropped without a callback; one in flight when it begins
// ends with "OBS is closing".
// `headers` are extra header lines, each ending in CR LF.
void request(QObject* context, const QString& method, const QString& url, const QByteArray& body,
             const QString& headers, std::uint32_t timeoutMs, const QString& userAgent, Callback callback);

// The blocking request, as run on a worker thread.
Result perform(const QString& method, const QString& url, const QByteArray& body, const QString& headers,
               std::uint32_t timeoutMs, const QString& userAgent);

// Closes every request in flight and refuses new ones for good; called once at
// OBS exit after the engine has stopped. Waits at most about 2 s for workers.
void shutdown();

} // namespace Http
