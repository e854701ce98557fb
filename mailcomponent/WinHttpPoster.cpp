#include "mailcomponent/WinHttpPoster.h"

#include "mailcomponent/UniqueHandle.h" // Winsock before <windows.h>

#include <winhttp.h>

#include "common/Utf8.h"

namespace qel::mailcomponent {

namespace {

using mail::MailCode;

struct InternetTraits : SentinelTraits<HINTERNET, nullptr> {
    static void close(HINTERNET h) { WinHttpCloseHandle(h); }
};
using InternetHandle = UniqueHandle<InternetTraits>;

// An answer larger than this is no token response.
constexpr std::size_t kMaxBody = 64 * 1024;

int remainingMs(mail::Deadline deadline)
{
    return static_cast<int>(std::max<long long>(1, std::min<long long>(deadline.remaining().count(), INT_MAX)));
}

// The step's remaining time for every wait of WinHTTP still to come; false
// when WinHTTP would not take it, since a wait without it has no bound.
bool bound(HINTERNET handle, mail::Deadline deadline)
{
    int ms = remainingMs(deadline);
    // Wine waits for the response's head by the last one alone.
    return WinHttpSetTimeouts(handle, ms, ms, ms, ms)
        && WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &ms, sizeof ms);
}

template <typename T>
bool setOption(HINTERNET handle, DWORD option, T value)
{
    return WinHttpSetOption(handle, option, &value, sizeof value);
}

// `answering`: the request went out and the endpoint was waited for.
MailCode failure(DWORD error, bool answering, std::string& detail)
{
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        detail = "the token endpoint's name could not be resolved";
        return mail::HostNotResolved;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT: // how Wine reports it
        detail = answering ? "the token endpoint did not answer in time" : "connecting to the token endpoint took too long";
        return answering ? mail::NoReplyInTime : mail::ConnectTimedOut;
    case ERROR_WINHTTP_CONNECTION_ERROR:
        detail = "the token endpoint closed the connection";
        return mail::ConnectionDropped;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        detail = "the token endpoint's certificate was refused (WinHTTP error " + std::to_string(error) + ")";
        return mail::CannotConnect;
    default:
        detail = "the token endpoint could not be reached (WinHTTP error " + std::to_string(error) + ")";
        return mail::CannotConnect;
    }
}

} // namespace

MailCode WinHttpPoster::post(const std::string& url, std::string_view form, mail::Deadline deadline, int& status,
                             mail::SecretText& body, std::string& detail)
{
    const std::u16string wideUrl = utf16FromUtf8(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(reinterpret_cast<LPCWSTR>(wideUrl.c_str()), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS) {
        detail = "the token endpoint is not an https address";
        return mail::CannotConnect;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength)
                            + std::wstring(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength);

    const InternetHandle session(WinHttpOpen(L"QelSmtp", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                             WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.valid() || !bound(session.get(), deadline))
        return failure(GetLastError(), false, detail);
    const InternetHandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    const InternetHandle request(connection.valid() ? WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr,
                                                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                                 WINHTTP_FLAG_SECURE)
                                            : nullptr);
    if (!request.valid())
        return failure(GetLastError(), false, detail);
    // A token request goes where it was configured to or nowhere, and without the Windows logon.
    if (!setOption<DWORD>(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER)
        || !setOption<DWORD>(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES)
        || !setOption<DWORD>(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH)
        || !bound(request.get(), deadline))
        return failure(GetLastError(), false, detail);

    static const wchar_t kHeaders[] = L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    if (!WinHttpSendRequest(request.get(), kHeaders, static_cast<DWORD>(-1), const_cast<char*>(form.data()),
                            static_cast<DWORD>(form.size()), static_cast<DWORD>(form.size()), 0))
        return failure(GetLastError(), false, detail);
    if (!bound(request.get(), deadline) || !WinHttpReceiveResponse(request.get(), nullptr))
        return failure(GetLastError(), true, detail);
    DWORD code = 0, size = sizeof code;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &code, &size, WINHTTP_NO_HEADER_INDEX))
        return failure(GetLastError(), true, detail);
    status = static_cast<int>(code);

    body.clear();
    for (;;) {
        if (deadline.passed()) {
            body.clear();
            detail = "the token endpoint did not answer in time";
            return mail::NoReplyInTime;
        }
        char piece[4096];
        DWORD read = 0;
        if (!bound(request.get(), deadline) || !WinHttpReadData(request.get(), piece, sizeof piece, &read)) {
            body.clear();
            return failure(GetLastError(), true, detail);
        }
        if (read == 0)
            return mail::Ok;
        if (body.view().size() + read > kMaxBody) {
            body.clear();
            detail = "the token endpoint's answer is too long";
            return mail::AuthProtocolError;
        }
        body.append(std::string_view(piece, read));
        mail::wipe(piece, read);
    }
}

} // namespace qel::mailcomponent
