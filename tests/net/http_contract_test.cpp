// The contract of the HTTP backend, run unchanged against both backends: libcurl
// on Linux and WinHTTP in the Windows build (under Wine here). It talks to the
// loopback test service started by tests/net/http-contract.sh with these
// routes scripted:
//   /c/echo echo, /c/e204 status:204, /c/e500 status:500:BODY,
//   /c/huge huge:9437184, /c/exact huge:8388608, /c/hang hang, /c/drop drop,
//   /c/slow trickle:3670016:131072:100, /c/cut cut:1048576:300000
// Each case prints one "contract:" line, so the two backends can be compared.
//
//   corvex_http_contract --http=http://127.0.0.1:PORT --https=https://127.0.0.1:PORT

#include "net/http-backend.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <utility>

namespace {

using Http::backend::Request;
using Http::backend::Response;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kLimit = Http::backend::kBodyLimit;
const char* const kFixedHeaders = "Cache-Control: no-cache\r\nAccept: application/json, */*\r\n";
const char* const kAgent = "corvex-contract/1.0";
const char* const kError500 = "{\"error\":\"database on fire\"}";
constexpr std::size_t kSlowBytes = 3670016; // 3.5 MiB in 28 pieces, 100 ms apart

#ifdef _WIN32
const char* const kBackend = "winhttp";
// Windows says ERROR_WINHTTP_TIMEOUT; Wine passes the socket's WSAETIMEDOUT on.
const char* const kTimedOut = "the request failed (WinHTTP error 12002: timed out)";
const char* const kTimedOutWine = "the request failed (WinHTTP error 10060: timed out)";
const char* const kRefused = "the request failed (WinHTTP error 12029: ";
// Windows: ERROR_WINHTTP_SECURE_FAILURE; Wine: ERROR_WINHTTP_SECURE_CHANNEL_ERROR.
const char* const kUntrusted = "the request failed (WinHTTP error 12175: secure connection failed: ";
const char* const kUntrustedWine = "the request failed (WinHTTP error 12157: secure connection failed: ";
#else
const char* const kBackend = "curl";
const char* const kTimedOut = "the request failed (curl error 28: ";
const char* const kTimedOutWine = kTimedOut;
const char* const kRefused = "the request failed (curl error 7: ";
const char* const kUntrusted = "the request failed (curl error 60: ";
const char* const kUntrustedWine = kUntrusted;
#endif
const char* const kTransport = "the request failed (";

bool underWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

struct Origin {
    bool secure = false;
    std::string host;
    std::uint16_t port = 0;
};

Origin plain;
Origin tls;

bool parseOrigin(const std::string& text, Origin& origin) {
    const std::size_t scheme = text.find("://");
    const std::size_t colon = text.rfind(':');
    if (scheme == std::string::npos || colon <= scheme)
        return false;
    origin.secure = text.compare(0, scheme, "https") == 0;
    origin.host = text.substr(scheme + 3, colon - scheme - 3);
    const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
    origin.port = static_cast<std::uint16_t>(port);
    return !origin.host.empty() && port > 0 && port < 65536;
}

Request makeRequest(const Origin& origin, const std::string& method, const std::string& target,
                    std::uint32_t timeoutMs = 10000) {
    Request request;
    request.method = method;
    request.host = origin.host;
    request.port = origin.port;
    request.secure = origin.secure;
    request.target = target;
    request.headers = kFixedHeaders;
    request.timeoutMs = timeoutMs;
    request.userAgent = kAgent;
    return request;
}

long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void report(const char* name, const Response& response, long long ms) {
    std::printf("contract: %-8s %-26s ok=%d status=%3d bytes=%-8zu %5lld ms  %s\n", kBackend, name,
                response.ok ? 1 : 0, response.status, response.body.size(), ms, response.error.c_str());
    std::fflush(stdout);
}

Response perform(const char* name, const Request& request, long long* elapsed = nullptr) {
    const Clock::time_point start = Clock::now();
    Response response = Http::backend::perform(request);
    const long long ms = millisSince(start);
    report(name, response, ms);
    if (elapsed)
        *elapsed = ms;
    return response;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The service's echo: the request line, the header lines, a blank line, the body.
struct Echo {
    std::string requestLine;
    std::multimap<std::string, std::string> headers; // names in lower case
    std::string body;

    explicit Echo(const std::string& text) {
        const std::size_t end = text.find("\r\n\r\n");
        if (end == std::string::npos)
            return;
        body = text.substr(end + 4);
        std::size_t at = 0;
        while (at < end) {
            std::size_t eol = text.find("\r\n", at);
            if (eol == std::string::npos || eol > end)
                eol = end;
            const std::string line = text.substr(at, eol - at);
            at = eol + 2;
            if (requestLine.empty()) {
                requestLine = line;
                continue;
            }
            const std::size_t colon = line.find(": ");
            if (colon != std::string::npos)
                headers.emplace(lower(line.substr(0, colon)), line.substr(colon + 2));
        }
    }
    std::size_t count(const char* name) const { return headers.count(name); }
    std::string value(const char* name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return text;
}

bool isTrickle(const std::string& body) {
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] != static_cast<char>('a' + i % 26))
            return false;
    }
    return true;
}

// Starts a request on its own thread, aborts it after `afterMs` and returns
// how long the abort took to end it; -1 if it did not end within 5 s.
long long abortLatency(const char* name, const Request& request, int afterMs, Response& out) {
    std::promise<Response> promise;
    std::future<Response> done = promise.get_future();
    std::thread worker([&promise, request] { promise.set_value(Http::backend::perform(request)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
    const bool endedEarly = done.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    const Clock::time_point start = Clock::now();
    Http::backend::abortAll(false);
    long long latency = -1;
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready && !endedEarly)
        latency = millisSince(start);
    // Whatever happened, the worker must not outlive the test.
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        Http::backend::abortAll(false);
    worker.join();
    out = done.get();
    report(name, out, latency);
    std::printf("contract: %-8s %-26s abort took %lld ms\n", kBackend, name, latency);
    return latency;
}

class Contract : public ::testing::Test {};

} // namespace

TEST_F(Contract, GetSendsFixedAndExtraHeadersAndTheQuery) {
    Request request = makeRequest(plain, "GET", "/c/echo?a=1&b=x%20y");
    request.headers += "Authorization: Bearer t0k\r\nX-Corvex-Seq: 42\r\n";
    const Response response = perform("get-headers", request);
    ASSERT_TRUE(response.ok) << response.error;
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.error.empty());
    const Echo echo(response.body);
    EXPECT_EQ(echo.requestLine, "GET /c/echo?a=1&b=x%20y");
    EXPECT_EQ(echo.value("cache-control"), "no-cache");
    EXPECT_EQ(echo.count("accept"), 1u);
    EXPECT_EQ(echo.value("accept"), "application/json, */*");
    EXPECT_EQ(echo.value("authorization"), "Bearer t0k");
    EXPECT_EQ(echo.value("x-corvex-seq"), "42");
    EXPECT_EQ(echo.value("user-agent"), kAgent);
    EXPECT_TRUE(echo.body.empty());
}

TEST_F(Contract, PostAndPutSendTheBodyAsIs) {
    // Large enough for a client to think of "Expect: 100-continue"; a NUL
    // inside shows nothing treats it as text.
    std::string payload = pattern(2 * 1024 * 1024);
    payload[10] = '\0';
    Request request = makeRequest(plain, "POST", "/c/echo");
    request.headers += "Content-Type: application/json\r\n";
    request.body = payload;
    Response response = perform("post-2MiB", request);
    ASSERT_TRUE(response.ok) << response.error;
    Echo echo(response.body);
    EXPECT_EQ(echo.requestLine, "POST /c/echo");
    EXPECT_TRUE(echo.body == payload)
        << "sent " << payload.size() << " bytes, " << echo.body.size() << " arrived";
    EXPECT_EQ(echo.value("content-length"), std::to_string(payload.size()));
    EXPECT_EQ(echo.count("content-type"), 1u);
    EXPECT_EQ(echo.value("content-type"), "application/json");
    EXPECT_EQ(echo.count("expect"), 0u);

    request = makeRequest(plain, "POST", "/c/echo");
    response = perform("post-empty", request);
    ASSERT_TRUE(response.ok) << response.error;
    echo = Echo(response.body);
    EXPECT_TRUE(echo.body.empty());
    EXPECT_EQ(echo.value("content-length"), "0");
    EXPECT_EQ(echo.count("content-type"), 0u);

    request = makeRequest(plain, "PUT", "/c/echo");
    request.body = "{\"x\":1}";
    response = perform("put", request);
    ASSERT_TRUE(response.ok) << response.error;
    echo = Echo(response.body);
    EXPECT_EQ(echo.requestLine, "PUT /c/echo");
    EXPECT_EQ(echo.body, "{\"x\":1}");
}

TEST_F(Contract, StatusDecidesOkAndTheBodyIsKept) {
    Response response = perform("status-204", makeRequest(plain, "GET", "/c/e204"));
    EXPECT_TRUE(response.ok) << response.error;
    EXPECT_EQ(response.status, 204);
    EXPECT_TRUE(response.body.empty());
    EXPECT_TRUE(response.error.empty());

    response = perform("status-500", makeRequest(plain, "POST", "/c/e500"));
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.error, "HTTP 500");
    EXPECT_EQ(response.body, kError500);
    EXPECT_FALSE(response.aborted);

    response = perform("status-404", makeRequest(plain, "GET", "/nothing-here"));
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.error, "HTTP 404");
    EXPECT_FALSE(response.body.empty());
}

TEST_F(Contract, BodyIsCutAfterTheChunkThatCrossesTheLimit) {
    Response response = perform("cap-9MiB", makeRequest(plain, "GET", "/c/huge"));
    EXPECT_TRUE(response.ok) << response.error;
    EXPECT_EQ(response.status, 200);
    EXPECT_GT(response.body.size(), kLimit);
    // Nothing is read after the chunk that crossed the line.
    EXPECT_LE(response.body.size(), kLimit + 1024 * 1024);

    response = perform("cap-exact-8MiB", makeRequest(plain, "GET", "/c/exact"));
    EXPECT_TRUE(response.ok) << response.error;
    EXPECT_EQ(response.body.size(), kLimit);
}

TEST_F(Contract, SilenceTimesOutButASlowSteadyAnswerDoesNot) {
    long long ms = 0;
    Response response = perform("timeout-1s", makeRequest(plain, "GET", "/c/hang", 1000), &ms);
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.status, 0);
    EXPECT_TRUE(startsWith(response.error, kTimedOut) || startsWith(response.error, kTimedOutWine))
        << response.error;
    EXPECT_GE(ms, 900);
    EXPECT_LT(ms, 5000);

    // The time-out is the longest silence allowed, not a limit on the whole
    // transfer: 3.5 MiB arriving over about 2.7 s, never silent for 1 s.
    response = perform("slow-steady-3.5MiB", makeRequest(plain, "GET", "/c/slow", 1000), &ms);
    EXPECT_TRUE(response.ok) << response.error;
    EXPECT_EQ(response.body.size(), kSlowBytes);
    EXPECT_TRUE(isTrickle(response.body));
    EXPECT_GT(ms, 1000) << "the answer came too fast to show anything";
}

TEST_F(Contract, RefusedAndDroppedConnectionsAreTransportFailures) {
    // Nothing listens on port 1 of the loopback interface.
    Origin closed = plain;
    closed.port = 1;
    Response response = perform("refused", makeRequest(closed, "GET", "/c/echo"));
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.status, 0);
    EXPECT_TRUE(startsWith(response.error, kRefused)) << response.error;

    response = perform("dropped", makeRequest(plain, "POST", "/c/drop"));
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.status, 0);
    EXPECT_TRUE(startsWith(response.error, kTransport)) << response.error;
    EXPECT_FALSE(response.aborted);

    // Hung up in the middle of the body: a cut body is no success, though
    // the status was read.
    response = perform("cut-mid-body", makeRequest(plain, "GET", "/c/cut"));
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(startsWith(response.error, kTransport)) << response.error;
    EXPECT_LE(response.body.size(), 300000u);
    EXPECT_FALSE(response.aborted);
}

TEST_F(Contract, UntrustedCertificateFailsClearly) {
    const Response response = perform("untrusted-tls", makeRequest(tls, "GET", "/c/echo"));
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.status, 0);
    EXPECT_TRUE(response.body.empty());
    EXPECT_TRUE(startsWith(response.error, kUntrusted) || startsWith(response.error, kUntrustedWine))
        << response.error;
}

TEST_F(Contract, AbortEndsARequestInFlightAtOnce) {
    Response response;
    // Waiting for an answer that never comes. Wine 8 does not cancel a
    // blocked WinHttpReceiveResponse when its handle is closed: there the
    // request only ends at its own time-out, so that is kept short.
    const bool wine = underWine();
    const std::uint32_t waitTimeout = wine ? 2500 : 60000;
    long long latency =
        abortLatency("abort-waiting", makeRequest(plain, "GET", "/c/hang", waitTimeout), 500, response);
    EXPECT_TRUE(response.aborted);
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.error, Http::backend::kClosingText);
    EXPECT_GE(latency, 0);
    if (wine)
        EXPECT_LT(latency, waitTimeout + 1000);
    else
        EXPECT_LT(latency, 2000) << "longer than the shutdown waits for";

    // In the middle of a slow body.
    latency = abortLatency("abort-reading", makeRequest(plain, "GET", "/c/slow", 60000), 700, response);
    EXPECT_TRUE(response.aborted);
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.error, Http::backend::kClosingText);
    EXPECT_LT(response.body.size(), kSlowBytes);
    EXPECT_GE(latency, 0);
    EXPECT_LT(latency, 2000);

    // An abort that found nothing in flight does not touch later requests.
    response = perform("after-abort", makeRequest(plain, "GET", "/c/e204"));
    EXPECT_TRUE(response.ok) << response.error;
}

// Last: refusing is for good within the process.
TEST(ContractShutdown, RequestsAfterAShutdownAreRefused) {
    Http::backend::abortAll(true);
    long long ms = 0;
    const Response response = perform("refused-after-shutdown", makeRequest(plain, "GET", "/c/echo"), &ms);
    EXPECT_FALSE(response.ok);
    EXPECT_TRUE(response.aborted);
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(response.error, Http::backend::kClosingText);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string httpOrigin;
    std::string httpsOrigin;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.compare(0, 7, "--http=") == 0)
            httpOrigin = arg.substr(7);
        else if (arg.compare(0, 8, "--https=") == 0)
            httpsOrigin = arg.substr(8);
    }
    if (!parseOrigin(httpOrigin, plain) || !parseOrigin(httpsOrigin, tls) || plain.secure || !tls.secure) {
        std::fprintf(stderr,
                     "usage: %s --http=http://127.0.0.1:PORT --https=https://127.0.0.1:PORT "
                     "[gtest options]\n(tests/net/http-contract.sh starts the service and passes "
                     "both)\n",
                     argv[0]);
        return 2;
    }
    // The loopback service must be reached directly, whatever proxy the
    // environment names.
#ifndef _WIN32
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    setenv("no_proxy", "127.0.0.1,localhost", 1);
#endif
    return RUN_ALL_TESTS();
}
