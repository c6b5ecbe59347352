#pragma once

#include "net/http.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>

// How every call to the service is made: its address, header lines, user
// agent and time-out, and how a failed call reads in the log and the dock.
namespace uplink {

// Every call waits this long, except the file uploads, which carry more.
inline constexpr std::uint32_t kServiceTimeoutMs = 10000;

// `path` ("/me") under the service address `server`, whatever trailing
// slashes the address was saved with.
QString apiUrl(const QString& server, const QString& path);

// "CorvexTournament/<version> (OBS <version>)".
QString userAgent();

// The language, the bearer token when there is one, and the JSON content
// type when `json`, as header lines.
QString requestHeaders(const QString& token, bool json);

// The linking calls, made before there is a token: JSON and the language.
QString deviceHeaders();

// The transport's error or the HTTP status, with the start of an error page.
QString describeFailure(const Http::Result& result);

// `text` percent-encoded for a query value.
QString encoded(const QString& text);

// The body of a JSON call.
QByteArray compact(const QJsonObject& body);

// The reply body as an object; anything else reads as an empty object.
QJsonObject replyObject(const Http::Result& result);

} // namespace uplink
