#pragma once

// The platform half of the HTTP layer: one blocking request, already split
// into plain parts, and the abort of every request in flight. Free of Qt so
// that the Windows backend builds with nothing but the system headers.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Http {
namespace backend {

// A response body is read until it grows past this size; the chunk that
// crosses the line is kept, nothing after it is read.
constexpr std::size_t kBodyLimit = 8u * 1024u * 1024u;

// The text a request ends with when it was aborted by abortAll.
constexpr const char* kClosingText = "OBS is closing";

struct Request {
    std::string method;     // e.g. "GET", "POST"
    std::string host;       // decoded host name or address (UTF-8), no brackets
    std::uint16_t port = 0; // never 0 here: the caller fills in the default
    bool secure = false;    // TLS with peer and host verification
    std::string target;     // encoded path, "/" at least, with "?query" when there is one
    std::string headers;    // complete header lines, each ending in CR LF (UTF-8)
    std::string body;       // sent as is; empty means no body
    std::uint32_t timeoutMs = 0;
    std::string userAgent;
};

struct Response {
    bool ok = false;      // a 2xx status arrived and the request was not aborted
    int status = 0;       // 0 when no response status was read
    bool aborted = false; // ended by abortAll; error is then kClosingText
    std::string body;
    std::string error; // empty on success
};

// Blocks until the request is done, failed, timed out or was aborted.
Response perform(const Request& request);

// Aborts every request now in flight at once; each ends with `aborted` set.
// With `refuseLater` every request that starts afterwards is refused the same
// way, for good. Returns without waiting for the requests to unwind.
void abortAll(bool refuseLater);

// Only for tests: trust nothing but the certificates in this PEM file for TLS
// (empty restores the system's store). Production never calls it.
void setTrustedCaFileForTesting(const std::string& pemPath);

} // namespace backend
} // namespace Http
