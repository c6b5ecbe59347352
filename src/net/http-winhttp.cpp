// WinHTTP backend (Windows). Synchronous WinHTTP on the worker thread, with a
// new session, connection and request handle for every request. A blocked
// call is cancelled by closing its request handle from another thread, which
// is what abortAll does.

#include "http-backend.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winhttp.h>

#include <climits>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace Http {
namespace backend {

namespace {

// Every request handle from its creation until its worker is done with it.
// Whoever takes a handle out of the set closes it, so each is closed once.
struct Registry {
    std::mutex mutex;
    std::set<HINTERNET> open;
    bool refusing = false;
};

Registry& registry() {
    // Never destroyed: a worker may still be unwinding at process exit.
    static Registry* instance = new Registry;
    return *instance;
}

bool enter(HINTERNET handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.refusing)
        return false;
    r.open.insert(handle);
    return true;
}

bool stillOpen(HINTERNET handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.open.count(handle) == 1;
}

// True when the handle was still ours, false when abortAll took (and closed) it.
bool leave(HINTERNET handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.open.erase(handle) == 1;
}

std::wstring widen(const std::string& text) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX))
        return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], length);
    return wide;
}

// A few words for the errors a user or a log reader is likely to meet, as
// curl gives with its numbers; the system's own texts are localised.
const char* describe(DWORD code) {
    switch (code) {
    case 12002: // ERROR_WINHTTP_TIMEOUT
    case 10060: // WSAETIMEDOUT, as Wine reports a time-out
        return "timed out";
    case 12007:
        return "host name not resolved";
    case 12017:
        return "cancelled";
    case 12029:
        return "cannot connect to the server";
    case 12030:
        return "connection closed by the server";
    case 12152:
        return "invalid or missing response from the server";
    case 12157:
    case 12175:
        return "secure connection failed: the server's certificate is not trusted or not valid for its name";
    default:
        return nullptr;
    }
}

// Reads the thread's last error before anything else can overwrite it.
std::string failure(const char* operation) {
    const DWORD code = GetLastError();
    const char* text = describe(code);
    return std::string(operation) + " failed (WinHTTP error " + std::to_string(code) + (text ? ": " : "") +
           (text ? text : "") + ")";
}

// The body, until its end, the size limit, or the handle is no longer ours.
// A body that breaks off is a failed request, whatever the status said: the
// caller would otherwise take half a reply for the whole. Returns that
// failure, or an empty text.
std::string readBody(HINTERNET handle, Response& result) {
    std::vector<char> chunk;
    DWORD available = 0;
    // Once shutdown has closed the handle, its value may be handed out
    // again: stop using it as soon as it is no longer ours.
    while (stillOpen(handle)) {
        if (!WinHttpQueryDataAvailable(handle, &available))
            return failure("the request");
        if (available == 0)
            break;
        chunk.resize(available);
        DWORD read = 0;
        if (!WinHttpReadData(handle, chunk.data(), available, &read))
            return failure("the request");
        if (read == 0)
            break;
        result.body.append(chunk.data(), read);
        if (result.body.size() > kBodyLimit)
            break;
    }
    return {};
}

// Status and body of a request whose response has arrived.
void readResponse(const Request& request, HINTERNET handle, Response& result) {
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    if (!WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
        status = 0;
    result.status = static_cast<int>(status);

    std::string readError = readBody(handle, result);
    // Wine (at least) ends a body cut short by the server like a whole one,
    // so its announced length is checked too.
    DWORD announced = 0;
    DWORD announcedSize = sizeof(announced);
    const bool bodyExpected = request.method != "HEAD" && status != 204 && status != 304;
    if (readError.empty() && bodyExpected && result.body.size() <= kBodyLimit && stillOpen(handle) &&
        WinHttpQueryHeaders(handle, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &announced, &announcedSize,
                            WINHTTP_NO_HEADER_INDEX) &&
        result.body.size() < announced)
        readError = "the request failed (the body broke off after " + std::to_string(result.body.size()) +
                    " of " + std::to_string(announced) + " bytes)";
    if (!readError.empty())
        result.error = readError;
    else if (status < 200 || status > 299)
        result.error = "HTTP " + std::to_string(status);
    else
        result.ok = true;
}

} // namespace

Response perform(const Request& request) {
    Response result;

    const std::wstring agent = widen(request.userAgent);
    HINTERNET session = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        result.error = failure("WinHttpOpen");
        return result;
    }
    const int timeout = request.timeoutMs > static_cast<std::uint32_t>(INT_MAX)
                            ? INT_MAX
                            : static_cast<int>(request.timeoutMs);
    WinHttpSetTimeouts(session, timeout, timeout, timeout, timeout);

    const std::wstring host = widen(request.host);
    HINTERNET connection = WinHttpConnect(session, host.c_str(), request.port, 0);
    if (!connection) {
        result.error = failure("WinHttpConnect");
        WinHttpCloseHandle(session);
        return result;
    }

    const std::wstring method = widen(request.method);
    const std::wstring target = widen(request.target);
    HINTERNET handle =
        WinHttpOpenRequest(connection, method.c_str(), target.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, request.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!handle) {
        result.error = failure("WinHttpOpenRequest");
        WinHttpCloseHandle(connection);
        WinHttpCloseHandle(session);
        return result;
    }
    // The wait for the response headers has a limit of its own, not set by
    // WinHttpSetTimeouts (90 s on Windows, unbounded under Wine): the
    // caller's time-out bounds it like every other phase.
    DWORD responseTimeout = static_cast<DWORD>(timeout);
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof(responseTimeout));
    if (!enter(handle)) {
        // Shut down between the start of the request and here.
        WinHttpCloseHandle(handle);
        WinHttpCloseHandle(connection);
        WinHttpCloseHandle(session);
        result.aborted = true;
        result.error = kClosingText;
        return result;
    }

    const std::wstring headers = widen(request.headers);
    LPVOID data = request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data());
    const DWORD length = static_cast<DWORD>(request.body.size());
    if (!WinHttpSendRequest(handle, headers.c_str(), static_cast<DWORD>(-1), data, length, length, 0) ||
        !WinHttpReceiveResponse(handle, nullptr)) {
        result.error = failure("the request");
    } else {
        readResponse(request, handle, result);
    }

    if (leave(handle)) {
        WinHttpCloseHandle(handle);
    } else {
        result.ok = false;
        result.aborted = true;
        result.error = kClosingText;
    }
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return result;
}

void abortAll(bool refuseLater) {
    std::set<HINTERNET> taken;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (refuseLater)
            r.refusing = true;
        taken.swap(r.open);
    }
    // Makes the blocked WinHTTP calls of the workers fail at once.
    for (HINTERNET handle : taken)
        WinHttpCloseHandle(handle);
}

void setTrustedCaFileForTesting(const std::string&) {
    // WinHTTP always uses the system's certificate store.
}

} // namespace backend
} // namespace Http
