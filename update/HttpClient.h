#pragma once
// The blocking WinHTTP GET shared by the update check and the installer download.
#include "common/WinHandles.h"

#include <string>

struct UrlParts {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_HTTP;
    INTERNET_PORT port = 0;
    wchar_t host[256] = {};
    wchar_t path[512] = {};
};

// Declared in closing order's reverse: the request goes first, the session last.
struct HttpRequest {
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
};

enum class RequestFailure { None, Session, Connect, Request, Send };

// The longest check reply read; a longer one is a failed check.
constexpr size_t kReplyLimit = 64 * 1024;

// Fails when the URL does not split or its host or path does not fit.
bool SplitUrl(const wchar_t* url, UrlParts& parts);
// Session (with bounded timeouts), connection and GET request (secure for HTTPS): the first
// failing step ends it.
RequestFailure OpenRequest(const UrlParts& parts, DWORD accessType, HttpRequest& out);
// Sends the opened request and receives the response headers.
RequestFailure SendRequest(HttpRequest& http);
// Both of the above.
RequestFailure OpenGetRequest(const UrlParts& parts, DWORD accessType, HttpRequest& out);

// The whole body, or empty when no answer came or it was longer than kReplyLimit. Quiet: the
// status is not looked at.
std::string HttpGetText(const std::wstring& url);
