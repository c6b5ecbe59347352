#pragma once

// A real HTTP or HTTPS server on a free loopback port, run inside the test.

#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class Loopback {
public:
    // Plain HTTP, or TLS with the committed self-signed certificate.
    explicit Loopback(bool tls = false);
    ~Loopback();

    httplib::Server& server() { return *server_; }

    // Starts serving on this address; the socket listens from here on.
    // False when the address cannot be bound (no IPv6, say).
    bool start(const std::string& host = "127.0.0.1");
    std::string url(const std::string& path) const;
    int port() const { return port_; }

    // A handler that blocks until release() or the end of the server, and
    // counts the requests that reached it.
    void hangOn(const std::string& path);
    int hanging() const;
    void release();

    // The last request the server handled (copied under a lock).
    httplib::Request lastRequest() const;
    void record(const httplib::Request& request);

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    bool tls_ = false;
    int port_ = 0;
    std::string host_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool releasing_ = false;
    int hanging_ = 0;
    httplib::Request last_;
};

std::string tlsFile(const char* name);
