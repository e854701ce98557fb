#include "mailcomponent/MessageStamps.h"

#include <windows.h>

#include <cctype>
#include <cstdio>

namespace qel::mailcomponent {

namespace {

std::string rfc5322Date()
{
    SYSTEMTIME t;
    GetSystemTime(&t);
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u +0000", days[t.wDayOfWeek % 7], t.wDay,
                  months[(t.wMonth + 11) % 12], t.wYear, t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::string hostName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    std::string host = GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
    for (char& c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            c = '-';
    return host.empty() ? "localhost" : host;
}

// Unique enough within one machine: time, process, and a per-process count.
std::string uniqueToken()
{
    static LONG counter = 0;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    char text[64];
    std::snprintf(text, sizeof text, "%08lx%08lx.%lx.%lx", now.dwHighDateTime, now.dwLowDateTime,
                  GetCurrentProcessId(), static_cast<unsigned long>(InterlockedIncrement(&counter)));
    return text;
}

} // namespace

MessageStamps stampsForNow()
{
    const std::string token = uniqueToken();
    return {rfc5322Date(), token + "@" + hostName(), "=_qel_" + token};
}

} // namespace qel::mailcomponent
