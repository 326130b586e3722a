#include "update/HttpClient.h"

namespace {
constexpr wchar_t kUserAgent[] = L"Zentrovia-Updater/1.0";
// The platform's defaults let a server that stops sending hold a read for minutes.
constexpr int kResolveTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kSendTimeoutMs = 10000;
constexpr int kReceiveTimeoutMs = 30000;
}  // namespace

bool SplitUrl(const wchar_t* url, UrlParts& parts) {
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof(components);
    components.lpszHostName = parts.host;
    components.dwHostNameLength = ARRAYSIZE(parts.host);
    components.lpszUrlPath = parts.path;
    components.dwUrlPathLength = ARRAYSIZE(parts.path);
    if (!WinHttpCrackUrl(url, 0, 0, &components)) return false;
    parts.scheme = components.nScheme;
    parts.port = components.nPort;
    return true;
}

RequestFailure OpenRequest(const UrlParts& parts, DWORD accessType, HttpRequest& out) {
    out.session.reset(WinHttpOpen(kUserAgent, accessType, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!out.session ||
        !WinHttpSetTimeouts(out.session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs)) {
        return RequestFailure::Session;
    }
    out.connection.reset(WinHttpConnect(out.session.get(), parts.host, parts.port, 0));
    if (!out.connection) return RequestFailure::Connect;
    const DWORD flags = parts.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    out.request.reset(WinHttpOpenRequest(out.connection.get(), L"GET", parts.path, nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    return out.request ? RequestFailure::None : RequestFailure::Request;
}

RequestFailure SendRequest(HttpRequest& http) {
    if (!WinHttpSendRequest(http.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(http.request.get(), nullptr)) {
        return RequestFailure::Send;
    }
    return RequestFailure::None;
}

RequestFailure OpenGetRequest(const UrlParts& parts, DWORD accessType, HttpRequest& out) {
    const RequestFailure failure = OpenRequest(parts, accessType, out);
    return failure != RequestFailure::None ? failure : SendRequest(out);
}

std::string HttpGetText(const std::wstring& url) {
    UrlParts parts;
    if (!SplitUrl(url.c_str(), parts)) return {};
    HttpRequest http;
    if (OpenGetRequest(parts, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, http) != RequestFailure::None) return {};
    std::string body;
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(http.request.get(), &available) && available > 0) {
        // A reply past the limit is no reply: an endless one must not grow the process without end.
        if (available > kReplyLimit - body.size()) return {};
        const size_t at = body.size();
        body.resize(at + available);
        DWORD read = 0;
        if (!WinHttpReadData(http.request.get(), body.data() + at, available, &read)) return {};
        body.resize(at + read);
    }
    return body;
}
