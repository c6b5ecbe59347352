#include "loopback.h"

#include "net/http-testing.h"
#include "net/http.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kLimit = 8u * 1024u * 1024u;
const QString kAgent = QStringLiteral("corvex-test/1.0");

struct Outcome {
    int calls = 0;
    Http::Result result;
};

// Runs the Qt event loop until `done` holds or the time is up.
bool spinUntil(const std::function<bool()>& done, int limitMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

std::shared_ptr<Outcome> start(QObject* context, const std::string& url, const QString& method = "GET",
                               const QByteArray& body = {}, const QString& headers = {},
                               std::uint32_t timeoutMs = 10000) {
    auto outcome = std::make_shared<Outcome>();
    Http::request(context, method, QString::fromStdString(url), body, headers, timeoutMs, kAgent,
                  [outcome](const Http::Result& result) {
                      ++outcome->calls;
                      outcome->result = result;
                  });
    return outcome;
}

Http::Result fetch(const std::string& url, const QString& method = "GET", const QByteArray& body = {},
                   const QString& headers = {}, std::uint32_t timeoutMs = 10000) {
    QObject context;
    auto outcome = start(&context, url, method, body, headers, timeoutMs);
    EXPECT_TRUE(spinUntil([&] { return outcome->calls > 0; }));
    // Once only, also when the loop keeps running.
    spinUntil([] { return false; }, 20);
    EXPECT_EQ(outcome->calls, 1);
    return outcome->result;
}

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return text;
}

// Shutdown is for good within a process. ctest runs each test in its own
// process; a run of the whole executable skips what follows a shutdown.
bool shutDownInThisProcess = false;

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (shutDownInThisProcess)
            GTEST_SKIP() << "the HTTP layer was shut down earlier in this process; run tests one per process";
        Http::testing::setTrustedCaFile(QString());
    }
    static void shutdownForGood() {
        shutDownInThisProcess = true;
        Http::shutdown();
    }
};

} // namespace

TEST(HttpUrl, SplitsIntoBackendParts) {
    struct Case {
        const char* url;
        bool secure;
        const char* host;
        int port;
        const char* target;
    };
    const Case cases[] = {
        {"http://example.com", false, "example.com", 80, "/"},
        {"HTTPS://Example.COM/api/mintcup/v1/me", true, "example.com", 443, "/api/mintcup/v1/me"},
        {"HtTpS://127.0.0.1:8443?x=1&y=a%20b", true, "127.0.0.1", 8443, "/?x=1&y=a%20b"},
        // Tolerant: spaces are encoded rather than refused; the fragment stays home.
        {"http://h/a b/c?q=1 2#frag", false, "h", 80, "/a%20b/c?q=1%202"},
        // Any scheme but https means plain HTTP.
        {"ftp://files.example.com/x", false, "files.example.com", 80, "/x"},
        {"http://[::1]:9000/v", false, "::1", 9000, "/v"},
    };
    for (const Case& c : cases) {
        const Http::testing::UrlParts parts = Http::testing::splitUrl(c.url);
        EXPECT_TRUE(parts.valid) << c.url;
        EXPECT_EQ(parts.secure, c.secure) << c.url;
        EXPECT_EQ(parts.host, c.host) << c.url;
        EXPECT_EQ(parts.port, c.port) << c.url;
        EXPECT_EQ(parts.target, c.target) << c.url;
    }
    for (const char* bad : {"", "not a url", "/relative/path", "http:///no-host", "http://host:99999/"})
        EXPECT_FALSE(Http::testing::splitUrl(bad).valid) << bad;
}

TEST_F(HttpTest, GetSendsFixedAndExtraHeadersAndKeepsTheQuery) {
    Loopback loopback;
    loopback.server().Get("/", [&](const httplib::Request& request, httplib::Response& response) {
        loopback.record(request);
        response.set_content("hello", "text/plain");
    });
    loopback.start();

    const Http::Result result =
        fetch(loopback.url("?a=1&b=x%20y"), "GET", {}, "Authorization: Bearer t0k\r\nX-Corvex-Seq: 42\r\n");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "hello");
    EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();

    const httplib::Request seen = loopback.lastRequest();
    EXPECT_EQ(seen.method, "GET");
    EXPECT_EQ(seen.path, "/");
    EXPECT_EQ(seen.get_param_value("a"), "1");
    EXPECT_EQ(seen.get_param_value("b"), "x y");
    EXPECT_EQ(seen.get_header_value("Cache-Control"), "no-cache");
    EXPECT_EQ(seen.get_header_value("Accept"), "application/json, */*");
    EXPECT_EQ(seen.get_header_value_count("Accept"), 1u);
    EXPECT_EQ(seen.get_header_value("Authorization"), "Bearer t0k");
    EXPECT_EQ(seen.get_header_value("X-Corvex-Seq"), "42");
    EXPECT_EQ(seen.get_header_value("User-Agent"), kAgent.toStdString());
}

TEST_F(HttpTest, PostSendsTheBodyAsIsWithoutExpectOrInventedContentType) {
    Loopback loopback;
    loopback.server().Post("/ingest", [&](const httplib::Request& request, httplib::Response& response) {
        loopback.record(request);
        response.set_content("{\"ack\":1}", "application/json");
    });
    loopback.start();

    // Large enough that curl would otherwise wait for "100 Continue"; with a
    // NUL inside to show nothing treats it as text.
    std::string payload = pattern(2 * 1024 * 1024);
    payload[10] = '\0';
    const QByteArray body(payload.data(), static_cast<int>(payload.size()));
    Http::Result result = Http::perform("POST", QString::fromStdString(loopback.url("/ingest")), body,
                                        "Content-Type: application/json\r\n", 10000, kAgent);
    EXPECT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.body, "{\"ack\":1}");
    httplib::Request seen = loopback.lastRequest();
    EXPECT_EQ(seen.method, "POST");
    EXPECT_TRUE(seen.body == payload);
    EXPECT_EQ(seen.get_header_value("Content-Type"), "application/json");
    EXPECT_FALSE(seen.has_header("Expect"));

    result = Http::perform("POST", QString::fromStdString(loopback.url("/ingest")), {}, {}, 10000, kAgent);
    EXPECT_TRUE(result.ok) << result.error.toStdString();
    seen = loopback.lastRequest();
    EXPECT_TRUE(seen.body.empty());
    EXPECT_EQ(seen.get_header_value("Content-Length"), "0");
    EXPECT_FALSE(seen.has_header("Content-Type"));
}

TEST_F(HttpTest, StatusDecidesOkAndTheBodyIsAlwaysKept) {
    Loopback loopback;
    loopback.server().Get(
        "/empty", [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
    loopback.server().Get("/broken", [](const httplib::Request&, httplib::Response& response) {
        response.status = 500;
        response.set_content("{\"error\":\"database on fire\"}", "application/json");
    });
    loopback.server().Get(
        "/old", [](const httplib::Request&, httplib::Response& response) { response.set_redirect("/new"); });
    loopback.server().Get("/new", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("moved here", "text/plain");
    });
    loopback.start();

    Http::Result result = fetch(loopback.url("/empty"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.status, 204);
    EXPECT_TRUE(result.body.isEmpty());
    EXPECT_TRUE(result.error.isEmpty());

    result = fetch(loopback.url("/broken"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 500);
    EXPECT_EQ(result.error, "HTTP 500");
    EXPECT_EQ(result.body, "{\"error\":\"database on fire\"}");

    result = fetch(loopback.url("/old"));
    EXPECT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "moved here");
}

TEST_F(HttpTest, BodyIsCutAfterTheChunkThatCrossesTheLimit) {
    const std::string big = pattern(kLimit + 2 * 1024 * 1024);
    Loopback loopback;
    auto serve = [&big](std::size_t size, int status) {
        return [&big, size, status](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_content_provider(
                size, "application/octet-stream",
                [&big](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::size_t piece = std::min<std::size_t>(length, 64 * 1024);
                    sink.write(big.data() + offset, piece);
                    return true;
                });
        };
    };
    loopback.server().Get("/big", serve(big.size(), 200));
    loopback.server().Get("/exact", serve(kLimit, 200));
    loopback.server().Get("/big-error", serve(big.size(), 502));
    loopback.start();

    Http::Result result = fetch(loopback.url("/big"));
    EXPECT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.status, 200);
    EXPECT_GT(static_cast<std::size_t>(result.body.size()), kLimit);
    EXPECT_LE(static_cast<std::size_t>(result.body.size()), kLimit + 64 * 1024);
    EXPECT_TRUE(std::string(result.body.constData(), static_cast<std::size_t>(result.body.size())) ==
                big.substr(0, static_cast<std::size_t>(result.body.size())));

    result = fetch(loopback.url("/exact"));
    EXPECT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(static_cast<std::size_t>(result.body.size()), kLimit);

    result = fetch(loopback.url("/big-error"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 502);
    EXPECT_EQ(result.error, "HTTP 502");
    EXPECT_GT(static_cast<std::size_t>(result.body.size()), kLimit);
}

TEST_F(HttpTest, TransportFailuresCarryCurlsNumberAndText) {
    int closedPort = 0;
    {
        Loopback gone;
        gone.start();
        closedPort = gone.port();
    }
    Http::Result result = fetch("http://127.0.0.1:" + std::to_string(closedPort) + "/x");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.error.startsWith("the request failed (curl error 7: ")) << result.error.toStdString();

    Loopback silent;
    silent.hangOn("/slow");
    silent.start();
    result = fetch(silent.url("/slow"), "GET", {}, {}, 300);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.error.startsWith("the request failed (curl error 28: ")) << result.error.toStdString();

    for (const char* bad : {"", "no scheme or host", "http:///path-only"}) {
        result = fetch(bad);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, "bad address") << bad;
    }
}

TEST_F(HttpTest, TimeOutIsTheLongestSilenceNotTheWholeTransfer) {
    // An upload read by the server at a steady 4 MiB/s: never silent for the
    // 1.5 s time-out, but well over it in all. The kernel buffers up to a few
    // MiB of it, which the server drains after the client has handed over the
    // last byte: that wait, up to about a second here, is the one silence.
    constexpr std::size_t kUpload = 10u * 1024u * 1024u;
    constexpr double kBytesPerMs = 4.0 * 1024 * 1024 / 1000;
    Loopback loopback;
    std::size_t received = 0;
    loopback.server().Post("/logs", [&](const httplib::Request&, httplib::Response& response,
                                        const httplib::ContentReader& reader) {
        const auto start = std::chrono::steady_clock::now();
        reader([&](const char*, std::size_t length) {
            received += length;
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(static_cast<long long>(received / kBytesPerMs * 1000)));
            return true;
        });
        response.set_content("{\"id\":\"log-1\"}", "application/json");
    });
    loopback.start();

    const std::string payload = pattern(kUpload);
    QElapsedTimer timer;
    timer.start();
    const Http::Result result = Http::perform("POST", QString::fromStdString(loopback.url("/logs")),
                                              QByteArray(payload.data(), static_cast<int>(payload.size())),
                                              "Content-Type: text/plain\r\n", 1500, kAgent);
    const qint64 took = timer.elapsed();
    EXPECT_TRUE(result.ok) << result.error.toStdString() << " after " << took << " ms";
    EXPECT_EQ(result.body, "{\"id\":\"log-1\"}");
    EXPECT_EQ(received, kUpload);
    EXPECT_GT(took, 2000) << "the upload was not slow enough to show anything";

    // A server that goes quiet part-way still times out, after the silence.
    Loopback stalling;
    stalling.server().Get("/stall", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= 4 * 4096) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2500));
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const std::string piece(4096, 'x');
            return sink.write(piece.data(), piece.size());
        });
    });
    stalling.start();
    timer.restart();
    const Http::Result stalled = fetch(stalling.url("/stall"), "GET", {}, {}, 1000);
    const qint64 stalledAfter = timer.elapsed();
    EXPECT_FALSE(stalled.ok);
    EXPECT_EQ(stalled.status, 200);
    EXPECT_TRUE(stalled.error.startsWith("the request failed (curl error 28: "))
        << stalled.error.toStdString();
    // Four pieces 300 ms apart, then 1 s of silence.
    EXPECT_GE(stalledAfter, 2000);
    EXPECT_LT(stalledAfter, 3400);
}

TEST_F(HttpTest, TlsTrustsOnlyTheGivenCertificate) {
    Loopback loopback(true);
    loopback.server().Get("/me", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("{\"linked\":true}", "application/json");
    });
    loopback.start();

    // The system's store does not know the self-signed test certificate.
    Http::Result result = fetch(loopback.url("/me"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.error.startsWith("the request failed (curl error 60: ")) << result.error.toStdString();

    Http::testing::setTrustedCaFile(QString::fromStdString(tlsFile("cert.pem")));
    result = fetch(loopback.url("/me"));
    EXPECT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.body, "{\"linked\":true}");

    result = fetch("https://localhost:" + std::to_string(loopback.port()) + "/me");
    EXPECT_TRUE(result.ok) << result.error.toStdString();

    // The certificate names 127.0.0.1 and localhost, not ::1: a trusted
    // certificate for another host is still refused.
    Loopback other(true);
    other.server().Get("/me", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("{}", "application/json");
    });
    if (other.start("::1")) {
        result = fetch(other.url("/me"));
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.error.startsWith("the request failed (curl error 60: "))
            << result.error.toStdString();
    }
}

TEST_F(HttpTest, TlsTrustFollowsEveryChangeOfTheTrustedFile) {
    Loopback loopback(true);
    loopback.server().Get("/me", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("{}", "application/json");
    });
    loopback.start();

    Http::testing::setTrustedCaFile(QString::fromStdString(tlsFile("cert.pem")));
    Http::Result result = fetch(loopback.url("/me"));
    EXPECT_TRUE(result.ok) << result.error.toStdString();

    // Neither a missing file nor one without a certificate trusts anything,
    // and neither may leave the previous certificate trusted.
    for (const std::string& untrusted : {tlsFile("missing.pem"), tlsFile("key.pem")}) {
        Http::testing::setTrustedCaFile(QString::fromStdString(untrusted));
        result = fetch(loopback.url("/me"));
        EXPECT_FALSE(result.ok) << untrusted;
        EXPECT_EQ(result.status, 0) << untrusted;
        EXPECT_TRUE(result.error.startsWith("the request failed (curl error "))
            << untrusted << ": " << result.error.toStdString();
    }

    Http::testing::setTrustedCaFile(QString::fromStdString(tlsFile("cert.pem")));
    result = fetch(loopback.url("/me"));
    EXPECT_TRUE(result.ok) << result.error.toStdString();

    Http::testing::setTrustedCaFile(QString());
    result = fetch(loopback.url("/me"));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.startsWith("the request failed (curl error 60: ")) << result.error.toStdString();
}

TEST_F(HttpTest, ConcurrentTlsRequestsAllVerifyAndComplete) {
    Loopback loopback(true);
    loopback.server().Get("/n", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.get_param_value("i"), "text/plain");
    });
    loopback.start();
    Loopback untrusted(true);
    untrusted.server().Get("/n", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("never", "text/plain");
    });
    const bool haveUntrusted = untrusted.start("::1");

    // All of them start before any trust store exists in this process.
    Http::testing::setTrustedCaFile(QString::fromStdString(tlsFile("cert.pem")));
    QObject context;
    std::vector<std::shared_ptr<Outcome>> outcomes;
    std::vector<std::shared_ptr<Outcome>> refused;
    for (int i = 0; i < 6; ++i) {
        outcomes.push_back(start(&context, loopback.url("/n?i=" + std::to_string(i))));
        if (haveUntrusted)
            refused.push_back(start(&context, untrusted.url("/n")));
    }
    spinUntil([&] { return Http::testing::inFlight() == 0; });
    spinUntil([] { return false; }, 50);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(outcomes[i]->calls, 1) << i;
        EXPECT_TRUE(outcomes[i]->result.ok) << i << ": " << outcomes[i]->result.error.toStdString();
        EXPECT_EQ(outcomes[i]->result.body, QByteArray::number(i));
    }
    for (const auto& outcome : refused) {
        EXPECT_EQ(outcome->calls, 1);
        EXPECT_FALSE(outcome->result.ok);
        EXPECT_TRUE(outcome->result.error.startsWith("the request failed (curl error 60: "))
            << outcome->result.error.toStdString();
    }
}

TEST_F(HttpTest, EveryConcurrentRequestCompletesOnce) {
    Loopback loopback;
    loopback.server().Get("/n", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.get_param_value("i"), "text/plain");
    });
    loopback.start();

    QObject context;
    std::vector<std::shared_ptr<Outcome>> outcomes;
    for (int i = 0; i < 6; ++i)
        outcomes.push_back(start(&context, loopback.url("/n?i=" + std::to_string(i))));
    spinUntil([&] { return Http::testing::inFlight() == 0; });
    spinUntil([] { return false; }, 50);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(outcomes[i]->calls, 1) << i;
        EXPECT_EQ(outcomes[i]->result.body, QByteArray::number(i));
    }
}

TEST_F(HttpTest, DestroyedContextNeverHearsBack) {
    Loopback loopback;
    loopback.hangOn("/slow");
    loopback.server().Get("/fast", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/plain");
    });
    loopback.start();

    // Destroyed while the request waits for the server.
    auto* context = new QObject;
    auto waiting = start(context, loopback.url("/slow"));
    ASSERT_TRUE(spinUntil([&] { return loopback.hanging() == 1; }));
    delete context;
    loopback.release();

    // Destroyed after the worker queued the result, before it was delivered.
    context = new QObject;
    auto queued = start(context, loopback.url("/fast"));
    QElapsedTimer timer;
    timer.start();
    while (Http::testing::inFlight() > 0 && timer.elapsed() < 20000)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(Http::testing::inFlight(), 0);
    EXPECT_EQ(queued->calls, 0);
    delete context;

    spinUntil([] { return false; }, 100);
    EXPECT_EQ(waiting->calls, 0);
    EXPECT_EQ(queued->calls, 0);
}

TEST_F(HttpTest, FailedThreadStartIsReportedThroughTheCallbackLater) {
    Http::testing::setFailThreadStarts(true);
    QObject context;
    auto outcome = start(&context, "http://127.0.0.1:9/never");
    Http::testing::setFailThreadStarts(false);
    EXPECT_EQ(outcome->calls, 0) << "the callback ran inside request()";
    EXPECT_EQ(Http::testing::inFlight(), 0);
    ASSERT_TRUE(spinUntil([&] { return outcome->calls > 0; }));
    EXPECT_FALSE(outcome->result.ok);
    EXPECT_EQ(outcome->result.status, 0);
    EXPECT_EQ(outcome->result.error, "could not start a request thread");
}

TEST_F(HttpTest, ShutdownAbortsRequestsInFlight) {
    Loopback loopback;
    loopback.hangOn("/slow");
    loopback.start();

    QObject context;
    std::vector<std::shared_ptr<Outcome>> outcomes;
    for (int i = 0; i < 3; ++i)
        outcomes.push_back(start(&context, loopback.url("/slow"), "GET", {}, {}, 60000));
    ASSERT_TRUE(spinUntil([&] { return loopback.hanging() == 3; }));

    shutdownForGood();
    // Every worker finished, rather than the wait giving up on them.
    EXPECT_EQ(Http::testing::inFlight(), 0);

    spinUntil([&] { return outcomes[0]->calls && outcomes[1]->calls && outcomes[2]->calls; });
    for (const auto& outcome : outcomes) {
        EXPECT_EQ(outcome->calls, 1);
        EXPECT_FALSE(outcome->result.ok);
        EXPECT_EQ(outcome->result.error, "OBS is closing");
    }

    // Closed for good: nothing starts, nothing calls back.
    auto late = start(&context, loopback.url("/slow"));
    EXPECT_EQ(Http::testing::inFlight(), 0);
    spinUntil([] { return false; }, 200);
    EXPECT_EQ(late->calls, 0);
    EXPECT_EQ(loopback.hanging(), 3);
    const Http::Result result =
        Http::perform("GET", QString::fromStdString(loopback.url("/slow")), {}, {}, 1000, kAgent);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "OBS is closing");
    EXPECT_EQ(loopback.hanging(), 3) << "the server was reached after shutdown";
}
