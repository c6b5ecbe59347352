#pragma once

// Hooks for the tests of the HTTP layer. The module itself never calls the
// setters here.

#include <QString>

#include <cstdint>

namespace Http {
namespace testing {

// How a URL is taken apart before it reaches the platform backend.
struct UrlParts {
    bool valid = false; // false: "bad address"
    bool secure = false;
    QString host; // fully decoded
    std::uint16_t port = 0;
    QString target; // fully encoded path ("/" at least) and "?query"
};

UrlParts splitUrl(const QString& url);

// TLS trusts nothing but the certificates in this PEM file; empty restores
// the system's store.
void setTrustedCaFile(const QString& pemPath);

// While set, starting a request's worker thread fails as if the system had
// no threads left.
void setFailThreadStarts(bool fail);

// Requests started by Http::request whose worker has not finished yet.
int inFlight();

} // namespace testing
} // namespace Http
