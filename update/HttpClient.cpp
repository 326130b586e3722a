#include "update/HttpClient.h"

namespace {
constexpr wchar_t kUserAgent[] = L"Zentrovia-Updater/1.0";
}

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

RequestFailure OpenGetRequest(const UrlParts& parts, DWORD accessType, HttpRequest& out) {
    out.session.reset(WinHttpOpen(kUserAgent, accessType, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!out.session) return RequestFailure::Session;
    out.connection.reset(WinHttpConnect(out.session.get(), parts.host, parts.port, 0));
    if (!out.connection) return RequestFailure::Connect;
    const DWORD flags = parts.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    out.request.reset(WinHttpOpenRequest(out.connection.get(), L"GET", parts.path, nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!out.request) return RequestFailure::Request;
    if (!WinHttpSendRequest(out.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(out.request.get(), nullptr)) {
        return RequestFailure::Send;
    }
    return RequestFailure::None;
}

std::string HttpGetText(const std::wstring& url) {
    UrlParts parts;
    if (!SplitUrl(url.c_str(), parts)) return {};
    HttpRequest http;
    if (OpenGetRequest(parts, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, http) != RequestFailure::None) return {};
    std::string body;
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(http.request.get(), &available) && available > 0) {
        std::string chunk(available, '\0');
        DWORD read = 0;
        if (WinHttpReadData(http.request.get(), chunk.data(), available, &read)) body.append(chunk.data(), read);
    }
    return body;
}
