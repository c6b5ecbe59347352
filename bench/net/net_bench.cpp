// Abort latency: a request waits on a loopback server that accepts and reads
// the request but never answers; the clock runs from the abort until the
// blocked perform has returned. cpu_ms is the CPU time a request's own
// thread spent from its start until it returned, which for TLS is mostly
// setting up the handshake (trust store included).

#include "net/http-backend.h"
#include "net/http-testing.h"
#include "net/http.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Accepts, reads whatever arrives, and never writes a byte back.
class SilentServer {
public:
    SilentServer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(listener_, 128);
        socklen_t size = sizeof(address);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~SilentServer() {
        stop_ = true;
        thread_.join();
        dropAll();
        close(listener_);
    }

    std::uint16_t port() const { return port_; }

    // Connections that have sent something, i.e. are waiting for an answer.
    bool waitForRequests(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return requests_ >= count; });
    }

    void dropAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const pollfd& entry : connections_)
            close(entry.fd);
        connections_.clear();
        requests_ = 0;
    }

private:
    void run() {
        while (!stop_) {
            std::vector<pollfd> fds;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                fds = connections_;
            }
            fds.push_back({listener_, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 5) <= 0)
                continue;
            std::lock_guard<std::mutex> lock(mutex_);
            if (fds.back().revents & POLLIN) {
                const int fd = accept(listener_, nullptr, nullptr);
                if (fd >= 0)
                    connections_.push_back({fd, POLLIN, 0});
            }
            for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
                if (!(fds[i].revents & POLLIN))
                    continue;
                for (pollfd& entry : connections_) {
                    if (entry.fd != fds[i].fd || entry.events == 0)
                        continue;
                    char buffer[4096];
                    if (read(entry.fd, buffer, sizeof(buffer)) > 0) {
                        entry.events = 0; // heard the request; no more interest
                        ++requests_;
                        changed_.notify_all();
                    }
                }
            }
        }
    }

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<pollfd> connections_;
    int requests_ = 0;
};

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Timed {
    Http::backend::Response response;
    double cpuSeconds = 0;
};

Timed timedPerform(const Http::backend::Request& request) {
    Timed timed;
    const double start = threadCpuSeconds();
    timed.response = Http::backend::perform(request);
    timed.cpuSeconds = threadCpuSeconds() - start;
    return timed;
}

Http::backend::Request silentRequest(std::uint16_t port, bool secure) {
    Http::backend::Request request;
    request.method = "GET";
    request.host = "127.0.0.1";
    request.port = port;
    request.secure = secure;
    request.target = "/hang";
    request.headers = "Cache-Control: no-cache\r\nAccept: application/json, */*\r\n";
    request.timeoutMs = 60000;
    request.userAgent = "corvex-bench";
    return request;
}

// Args: requests in flight; 0 plain HTTP, 1 TLS with the system's store,
// 2 TLS trusting only the test certificate (the TLS ones stall in the
// handshake, as the silent server never answers its hello).
void BM_BackendAbort(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool secure = state.range(1) != 0;
    Http::backend::setTrustedCaFileForTesting(
        state.range(1) == 2 ? CORVEX_SOURCE_DIR "/tests/data/tls/cert.pem" : "");
    SilentServer server;
    const Http::backend::Request request = silentRequest(server.port(), secure);
    double worst = 0;
    double cpu = 0;
    long requests = 0;
    for (auto _ : state) {
        std::vector<std::future<Timed>> results;
        for (int i = 0; i < count; ++i)
            results.push_back(std::async(std::launch::async, [&request] { return timedPerform(request); }));
        if (!server.waitForRequests(count)) {
            state.SkipWithError("the requests never reached the server");
            break;
        }
        // Let the workers settle into their wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const Clock::time_point start = Clock::now();
        Http::backend::abortAll(false);
        for (auto& result : results)
            result.wait();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        worst = std::max(worst, seconds);
        for (auto& result : results) {
            const Timed timed = result.get();
            if (!timed.response.aborted)
                state.SkipWithError("a request was not aborted");
            cpu += timed.cpuSeconds;
            ++requests;
        }
        server.dropAll();
    }
    state.counters["worst_ms"] = worst * 1000.0;
    state.counters["cpu_ms"] = requests > 0 ? cpu * 1000.0 / static_cast<double>(requests) : 0.0;
}
BENCHMARK(BM_BackendAbort)
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({1, 1})
    ->Args({1, 2})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The whole layer's shutdown with eight requests in flight. Once per process:
// the layer stays closed afterwards.
void BM_HttpShutdown(benchmark::State& state) {
    static bool done = false;
    SilentServer server;
    const QString url = QStringLiteral("http://127.0.0.1:%1/hang").arg(server.port());
    for (auto _ : state) {
        if (done) {
            state.SkipWithError("Http::shutdown runs once per process");
            break;
        }
        for (int i = 0; i < 8; ++i)
            Http::request(nullptr, "GET", url, {}, {}, 60000, "corvex-bench", [](const Http::Result&) {});
        if (!server.waitForRequests(8)) {
            state.SkipWithError("the requests never reached the server");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const Clock::time_point start = Clock::now();
        Http::shutdown();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        state.counters["left_in_flight"] = Http::testing::inFlight();
        done = true;
    }
}
BENCHMARK(BM_HttpShutdown)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
