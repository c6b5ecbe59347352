#include "loopback.h"

#include <chrono>

std::string tlsFile(const char* name) {
    return std::string(CORVEX_SOURCE_DIR "/tests/data/tls/") + name;
}

Loopback::Loopback(bool tls) : tls_(tls) {
    if (tls)
        server_ =
            std::make_unique<httplib::SSLServer>(tlsFile("cert.pem").c_str(), tlsFile("key.pem").c_str());
    else
        server_ = std::make_unique<httplib::Server>();
}

Loopback::~Loopback() {
    release();
    server_->stop();
    if (thread_.joinable())
        thread_.join();
}

bool Loopback::start(const std::string& host) {
    host_ = host.find(':') == std::string::npos ? host : "[" + host + "]";
    port_ = server_->bind_to_any_port(host);
    if (port_ <= 0)
        return false;
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() before the accept loop runs would be missed and leave it running.
    while (!server_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

std::string Loopback::url(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://" + host_ + ":" + std::to_string(port_) + path;
}

void Loopback::hangOn(const std::string& path) {
    server_->Get(path, [this](const httplib::Request& request, httplib::Response& response) {
        record(request);
        std::unique_lock<std::mutex> lock(mutex_);
        ++hanging_;
        released_.wait_for(lock, std::chrono::seconds(30), [this] { return releasing_; });
        response.set_content("late", "text/plain");
    });
}

int Loopback::hanging() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hanging_;
}

void Loopback::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    releasing_ = true;
    released_.notify_all();
}

httplib::Request Loopback::lastRequest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

void Loopback::record(const httplib::Request& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_ = request;
}
