// libcurl backend (Linux, macOS). Each request gets its own easy handle and
// its own multi handle driven by curl_multi_poll: a blocking curl_easy_perform
// only notices an abort about once a second, while curl_multi_wakeup ends the
// poll at once.

#include "http-backend.h"

#include <curl/curl.h>

#ifdef CORVEX_NET_OPENSSL
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace Http {
namespace backend {

namespace {

struct OpenRequest {
    CURLM* multi = nullptr;
    std::atomic<bool> aborted{false};
};

// Every request between its start and its end. A request is aborted exactly
// once: whoever takes it out of the set (abortAll or the request itself when
// it is done) owns its fate. abortAll wakes the multi handle while holding the
// mutex, so the handle cannot be freed underneath it.
struct Registry {
    std::mutex mutex;
    std::set<OpenRequest*> open;
    bool refusing = false;
};

Registry& registry() {
    // Never destroyed: a detached worker may still be unwinding while the
    // process runs its static destructors.
    static Registry* instance = new Registry;
    return *instance;
}

bool enter(OpenRequest* request) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.refusing)
        return false;
    r.open.insert(request);
    return true;
}

// True when the request was still ours, false when abortAll took it.
bool leave(OpenRequest* request) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.open.erase(request) == 1;
}

std::mutex& caMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

std::string& testCaFile() {
    static std::string* path = new std::string;
    return *path;
}

std::string trustedCaFile() {
    std::lock_guard<std::mutex> lock(caMutex());
    return testCaFile();
}

#ifdef CORVEX_NET_OPENSSL
// curl keeps its parsed CA bundle in the multi handle, and every request has
// its own: left alone, each HTTPS request parses the whole system bundle
// (tens of milliseconds of CPU) inside one curl_multi_perform call that an
// abort cannot cut short. So the trust store is parsed once per process and
// handed to every request's TLS context instead.

// Our X509_STORE can only go into curl's SSL_CTX when curl's TLS backend is
// OpenSSL of the same major release as ours (the ABI is only kept within
// one); any other backend ignores or refuses the context callback.
bool curlSharesOurOpenSsl() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (!info || !info->ssl_version)
        return false;
    const std::string expected = "OpenSSL/" + std::to_string((OpenSSL_version_num() >> 28) & 0xfu) + ".";
    return std::string(info->ssl_version).compare(0, expected.size(), expected) == 0;
}

// Where curl itself would look for trusted certificates.
std::pair<std::string, std::string> curlDefaultCaLocations() {
    std::pair<std::string, std::string> locations;
#if LIBCURL_VERSION_NUM >= 0x075400
    CURL* probe = curl_easy_init();
    if (!probe)
        return locations;
    char* file = nullptr;
    char* path = nullptr;
    if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &file) == CURLE_OK && file)
        locations.first = file;
    if (curl_easy_getinfo(probe, CURLINFO_CAPATH, &path) == CURLE_OK && path)
        locations.second = path;
    curl_easy_cleanup(probe);
#endif
    return locations;
}

// Null when nothing could be loaded: the request then lets curl load its own.
X509_STORE* loadStore(const std::string& file, const std::string& path) {
    if (file.empty() && path.empty())
        return nullptr;
    X509_STORE* store = X509_STORE_new();
    if (!store)
        return nullptr;
    bool loaded = false;
    if (!file.empty())
        loaded = X509_STORE_load_locations(store, file.c_str(), nullptr) == 1;
    // A hashed directory is only read certificate by certificate, on demand.
    if (!path.empty())
        loaded = X509_STORE_load_locations(store, nullptr, path.c_str()) == 1 || loaded;
    // A failed load leaves errors on this thread's queue, where curl would
    // read them as its own.
    ERR_clear_error();
    if (!loaded) {
        X509_STORE_free(store);
        return nullptr;
    }
    // The same verification flags curl puts on the store it builds itself.
    X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    return store;
}

struct SharedTrust {
    std::mutex mutex;
    bool systemTried = false;
    X509_STORE* system = nullptr;
    std::string testFile;
    X509_STORE* test = nullptr;
};

SharedTrust& sharedTrust() {
    // Never destroyed, like the registry: a worker may outlive static
    // destruction, and each request holds its own reference anyway.
    static SharedTrust* instance = new SharedTrust;
    return *instance;
}

// The store for this request with a reference the caller owns, or null when
// curl has to load the certificates itself. Concurrent first requests wait
// for a single load instead of each parsing the bundle.
X509_STORE* acquireStore(const std::string& caFile) {
    static const bool usable = curlSharesOurOpenSsl();
    if (!usable)
        return nullptr;
    SharedTrust& trust = sharedTrust();
    std::lock_guard<std::mutex> lock(trust.mutex);
    X509_STORE* store = nullptr;
    if (caFile.empty()) {
        if (!trust.systemTried) {
            trust.systemTried = true;
            const std::pair<std::string, std::string> locations = curlDefaultCaLocations();
            trust.system = loadStore(locations.first, locations.second);
        }
        store = trust.system;
    } else {
        if (!trust.test || trust.testFile != caFile) {
            // Requests still running keep the old store alive through their
            // own references.
            X509_STORE_free(trust.test);
            trust.test = loadStore(caFile, std::string());
            trust.testFile = caFile;
        }
        store = trust.test;
    }
    if (store && X509_STORE_up_ref(store) != 1)
        return nullptr;
    return store;
}

CURLcode installStore(CURL*, void* sslContext, void* user) {
    // SSL_CTX_set1_cert_store takes its own reference; curl has loaded
    // nothing into the store it drops, as both locations were cleared.
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), static_cast<X509_STORE*>(user));
    return CURLE_OK;
}
#else
struct x509_store_st;
using X509_STORE = x509_store_st;
X509_STORE* acquireStore(const std::string&) {
    return nullptr;
}
#endif

void initOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string failure(const char* operation, long code, const char* text) {
    return std::string(operation) + " failed (curl error " + std::to_string(code) + ": " + text + ")";
}

std::string curlFailure(const char* operation, CURLcode code, const char* errorBuffer) {
    std::string text = errorBuffer ? errorBuffer : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.empty())
        text = curl_easy_strerror(code);
    return failure(operation, static_cast<long>(code), text.c_str());
}

std::string multiFailure(const char* operation, CURLMcode code) {
    return std::string(operation) + " failed (curl multi error " + std::to_string(static_cast<int>(code)) +
           ": " + curl_multi_strerror(code) + ")";
}

bool startsWithName(const std::string& line, const char* name) {
    std::size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (i >= line.size() || std::tolower(static_cast<unsigned char>(line[i])) != name[i])
            return false;
    }
    return true;
}

struct Sink {
    std::string body;
    bool capped = false;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t length = size * count;
    sink->body.append(data, length);
    if (sink->body.size() > kBodyLimit) {
        // Returning short makes curl stop with CURLE_WRITE_ERROR; the flag
        // tells that apart from a real failure.
        sink->capped = true;
        return 0;
    }
    return length;
}

// Everything a request allocates, freed in one place whatever path it takes.
struct Handles {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    X509_STORE* store = nullptr;
    bool added = false;

    ~Handles() {
        if (added)
            curl_multi_remove_handle(multi, easy);
        if (multi)
            curl_multi_cleanup(multi);
        if (easy)
            curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
#ifdef CORVEX_NET_OPENSSL
        X509_STORE_free(store);
#endif
    }
};

// Splits the CR LF separated header text into curl's list and adds the lines
// that keep curl's own defaults out of the request.
bool buildHeaders(const Request& request, bool sendsBody, curl_slist** list) {
    bool hasContentType = false;
    bool hasExpect = false;
    std::size_t start = 0;
    while (start < request.headers.size()) {
        std::size_t end = request.headers.find('\n', start);
        if (end == std::string::npos)
            end = request.headers.size();
        std::string line = request.headers.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        hasContentType = hasContentType || startsWithName(line, "content-type:");
        hasExpect = hasExpect || startsWithName(line, "expect:");
        curl_slist* grown = curl_slist_append(*list, line.c_str());
        if (!grown)
            return false;
        *list = grown;
    }
    // A header with nothing after the colon removes curl's own: no
    // "Expect: 100-continue" round trip, and no form content type the caller
    // did not ask for.
    if (!hasExpect) {
        curl_slist* grown = curl_slist_append(*list, "Expect:");
        if (!grown)
            return false;
        *list = grown;
    }
    if (sendsBody && !hasContentType) {
        curl_slist* grown = curl_slist_append(*list, "Content-Type:");
        if (!grown)
            return false;
        *list = grown;
    }
    return true;
}

CURLcode configure(CURL* easy, const Request& request, Handles& handles, Sink& sink, char* errorBuffer,
                   const std::string& caFile) {
    const bool ipv6 = request.host.find(':') != std::string::npos;
    const std::string url = std::string(request.secure ? "https://" : "http://") + (ipv6 ? "[" : "") +
                            request.host + (ipv6 ? "]" : "") + ":" + std::to_string(request.port) +
                            request.target;

    const bool plainGet = (request.method == "GET" || request.method == "HEAD") && request.body.empty();
    if (!buildHeaders(request, !plainGet, &handles.headers))
        return CURLE_OUT_OF_MEMORY;

    const long timeout = static_cast<long>(request.timeoutMs);
    CURLcode rc = CURLE_OK;
    auto set = [&rc](CURLcode next) {
        if (rc == CURLE_OK)
            rc = next;
    };
    set(curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer));
    set(curl_easy_setopt(easy, CURLOPT_URL, url.c_str()));
    set(curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L));
#if LIBCURL_VERSION_NUM >= 0x075500
    set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"));
    // Redirects are followed, but never from TLS down to plain HTTP.
    set(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, request.secure ? "https" : "http,https"));
#else
    set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS)));
    set(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS,
                         request.secure ? static_cast<long>(CURLPROTO_HTTPS)
                                        : static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS)));
#endif
    set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L));
    set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
    // The time-out bounds each phase, as WinHTTP's do, never the whole
    // transfer: the connection here, every silence after it in perform.
    set(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeout));
    set(curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L));
    set(curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L));
    set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L));
    if (handles.store) {
#ifdef CORVEX_NET_OPENSSL
        set(curl_easy_setopt(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr)));
        set(curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr)));
        set(curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, installStore));
        set(curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, static_cast<void*>(handles.store)));
#endif
    } else if (!caFile.empty()) {
        set(curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str()));
        set(curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr)));
    }
    if (!request.userAgent.empty())
        set(curl_easy_setopt(easy, CURLOPT_USERAGENT, request.userAgent.c_str()));
    set(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, handles.headers));
    set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody));
    set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink));

    if (plainGet) {
        if (request.method == "HEAD")
            set(curl_easy_setopt(easy, CURLOPT_NOBODY, 1L));
        else
            set(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
    } else {
        // The body is not copied: the request outlives the transfer.
        set(curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size())));
        set(curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data()));
        if (request.method != "POST")
            set(curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str()));
    }
    return rc;
}

// What the transfer has moved so far; any change is progress.
struct Progress {
    curl_off_t sent = 0;
    curl_off_t received = 0;
    long requestBytes = 0;
    long headerBytes = 0;
    curl_off_t connectedUs = 0; // after each connection is made, TLS included

    bool operator==(const Progress& o) const {
        return sent == o.sent && received == o.received && requestBytes == o.requestBytes &&
               headerBytes == o.headerBytes && connectedUs == o.connectedUs;
    }
};

Progress progressOf(CURL* easy) {
    Progress p;
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &p.sent);
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &p.received);
    curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &p.requestBytes);
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &p.headerBytes);
    curl_off_t connected = 0;
    curl_off_t handshaken = 0;
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
    curl_easy_getinfo(easy, CURLINFO_APPCONNECT_TIME_T, &handshaken);
    p.connectedUs = connected + handshaken;
    return p;
}

// How the transfer loop ended.
struct TransferEnd {
    bool finished = false;
    CURLcode outcome = CURLE_OK;
    CURLMcode mc = CURLM_OK;
    bool silent = false;
};

// Drives the transfer until it is done, fails, is aborted or falls silent.
// A request that moves nothing for the caller's time-out fails, however long
// a slow but steady one takes in all.
TransferEnd runTransfer(const Request& request, const Handles& handles, const OpenRequest& open) {
    using Clock = std::chrono::steady_clock;
    const std::chrono::milliseconds silenceLimit(request.timeoutMs);
    Progress moved = progressOf(handles.easy);
    Clock::time_point lastMove = Clock::now();

    TransferEnd end;
    while (!open.aborted.load()) {
        int running = 0;
        end.mc = curl_multi_perform(handles.multi, &running);
        if (end.mc != CURLM_OK)
            break;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(handles.multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == handles.easy) {
                end.outcome = message->data.result;
                end.finished = true;
            }
        }
        if (end.finished || running == 0)
            break;
        const Progress now = progressOf(handles.easy);
        if (!(now == moved)) {
            moved = now;
            lastMove = Clock::now();
        }
        int waitMs = 1000;
        if (request.timeoutMs > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                silenceLimit - (Clock::now() - lastMove));
            if (left.count() <= 0) {
                end.silent = true;
                break;
            }
            waitMs = static_cast<int>(std::min<std::chrono::milliseconds::rep>(waitMs, left.count()));
        }
        // curl shortens the wait to its own next time-out.
        end.mc = curl_multi_poll(handles.multi, nullptr, 0, waitMs, nullptr);
        if (end.mc != CURLM_OK)
            break;
    }
    return end;
}

// The outcome as the caller sees it: ok, or the first reason it is not.
void judge(const Request& request, const TransferEnd& end, bool aborted, bool capped, const char* errorBuffer,
           Response& result) {
    if (aborted) {
        // Whatever arrived before, the layer was shut down underneath it.
        result.aborted = true;
        result.error = kClosingText;
    } else if (end.silent) {
        const std::string text =
            "nothing sent or received for " + std::to_string(request.timeoutMs) + " milliseconds";
        result.error = failure("the request", CURLE_OPERATION_TIMEDOUT, text.c_str());
    } else if (end.mc != CURLM_OK) {
        result.error = multiFailure("the request", end.mc);
    } else if (!end.finished) {
        result.error = curlFailure("the request", CURLE_FAILED_INIT, errorBuffer);
    } else if (end.outcome != CURLE_OK && !(end.outcome == CURLE_WRITE_ERROR && capped)) {
        result.error = curlFailure("the request", end.outcome, errorBuffer);
    } else if (result.status < 200 || result.status > 299) {
        result.error = "HTTP " + std::to_string(result.status);
    } else {
        result.ok = true;
    }
}

} // namespace

Response perform(const Request& request) {
    Response result;
    initOnce();

    Handles handles;
    handles.easy = curl_easy_init();
    if (!handles.easy) {
        result.error = failure("curl_easy_init", CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT));
        return result;
    }
    char errorBuffer[CURL_ERROR_SIZE] = {};
    Sink sink;
    const std::string caFile = trustedCaFile();
    if (request.secure)
        handles.store = acquireStore(caFile);
    const CURLcode rc = configure(handles.easy, request, handles, sink, errorBuffer, caFile);
    if (rc != CURLE_OK) {
        result.error = curlFailure("curl_easy_setopt", rc, errorBuffer);
        return result;
    }
    handles.multi = curl_multi_init();
    if (!handles.multi) {
        result.error = failure("curl_multi_init", CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT));
        return result;
    }
    const CURLMcode mc = curl_multi_add_handle(handles.multi, handles.easy);
    if (mc != CURLM_OK) {
        result.error = multiFailure("curl_multi_add_handle", mc);
        return result;
    }
    handles.added = true;

    OpenRequest open;
    open.multi = handles.multi;
    if (!enter(&open)) {
        result.aborted = true;
        result.error = kClosingText;
        return result;
    }
    const TransferEnd end = runTransfer(request, handles, open);
    const bool stillOurs = leave(&open);

    long status = 0;
    if (curl_easy_getinfo(handles.easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK)
        result.status = static_cast<int>(status);
    result.body = std::move(sink.body);
    judge(request, end, !stillOurs || open.aborted.load(), sink.capped, errorBuffer, result);
    return result;
}

void abortAll(bool refuseLater) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (refuseLater)
        r.refusing = true;
    for (OpenRequest* request : r.open) {
        request->aborted.store(true);
        curl_multi_wakeup(request->multi);
    }
    r.open.clear();
}

void setTrustedCaFileForTesting(const std::string& pemPath) {
    std::lock_guard<std::mutex> lock(caMutex());
    testCaFile() = pemPath;
}

} // namespace backend
} // namespace Http
