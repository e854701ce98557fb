// Winsock must come before <windows.h>.
#include "mailcomponent/WinsockTransport.h"

#include "mailcomponent/SmtpMail.h"

#include <cstdio>

#include "automation/ErrorReporting.h"
#include "automation/VariantTerms.h"
#include "mail/MimeWriter.h"
#include "mail/SmtpSession.h"

namespace qel::mailcomponent {

namespace {

using automation::guarded;
using automation::Variant;

bool isMissing(const VARIANT& value)
{
    return value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND;
}

void answer(mail::MailCode code, VARIANT* result)
{
    Variant::ofInteger(static_cast<std::int16_t>(code)).release(result);
}

// The whole file, or the code of why not.
mail::MailCode readFile(const std::u16string& path, std::vector<std::uint8_t>& bytes)
{
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return mail::FileNotOpened;
    LARGE_INTEGER size{};
    mail::MailCode code = mail::Sent;
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 256 * 1024 * 1024) {
        code = mail::FileNotRead;
    } else {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (!bytes.empty() && (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size()))
            code = mail::FileNotRead;
    }
    CloseHandle(file);
    return code;
}

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

std::string ascii(const std::u16string& text)
{
    return std::string(text.begin(), text.end()); // only after validate(): addresses are ASCII
}

} // namespace

HRESULT SmtpMail::store(Variant& field, const VARIANT& value)
{
    return guarded(kSource, IID__SmtpMail, [&] { field = Variant::copyOf(value); });
}

HRESULT SmtpMail::Reset()
{
    for (Variant* field : {&bodyFormat_, &mailServer_, &subject_, &bodyText_, &from_, &fromAddr_})
        *field = Variant();
    timeoutSeconds_ = 30;
    recipients_.clear();
    attachments_.clear();
    return S_OK;
}

HRESULT SmtpMail::get_Timeout(VARIANT* value)
{
    if (!value)
        return E_POINTER;
    VariantInit(value);
    value->vt = VT_I4;
    value->lVal = timeoutSeconds_;
    return S_OK;
}

HRESULT SmtpMail::put_Timeout(VARIANT value)
{
    return guarded(kSource, IID__SmtpMail, [&] {
        Variant seconds;
        if (FAILED(VariantChangeType(seconds.receive(), &value, 0, VT_I4)) || seconds.get().lVal < 1
            || seconds.get().lVal > 3600)
            raise(ErrorNumber::InvalidArgument);
        timeoutSeconds_ = seconds.get().lVal;
    });
}

HRESULT SmtpMail::AddRecipient(VARIANT address, VARIANT name, VARIANT, VARIANT* result)
{
    if (!result)
        return E_POINTER;
    return guarded(kSource, IID__SmtpMail, [&] {
        recipients_.push_back({automation::textOf(address), isMissing(name) ? std::u16string() : automation::textOf(name)});
        answer(mail::Sent, result);
    });
}

HRESULT SmtpMail::AddAttachment(VARIANT path, VARIANT, VARIANT* result)
{
    if (!result)
        return E_POINTER;
    return guarded(kSource, IID__SmtpMail, [&] {
        const std::u16string file = automation::textOf(path);
        mail::Attachment attachment;
        attachment.fileName = file.substr(file.find_last_of(u"\\/") + 1);
        const mail::MailCode code = file.empty() ? mail::FileNotOpened : readFile(file, attachment.bytes);
        if (code == mail::Sent)
            attachments_.push_back(std::move(attachment));
        answer(code, result);
    });
}

HRESULT SmtpMail::Send(VARIANT* result)
{
    if (!result)
        return E_POINTER;
    return guarded(kSource, IID__SmtpMail, [&] {
        mail::OutgoingMail message;
        message.from = {automation::textOf(fromAddr_.get()), automation::textOf(from_.get())};
        message.to = recipients_;
        message.subject = automation::textOf(subject_.get());
        message.body = automation::textOf(bodyText_.get());
        message.attachments = attachments_;

        mail::ServerAddress server;
        mail::MailCode code = mail::parseServer(automation::textOf(mailServer_.get()), server);
        if (code == mail::Sent)
            code = mail::validate(message);
        if (code != mail::Sent)
            return answer(code, result);

        const std::string host = hostName();
        const std::string token = uniqueToken();
        const std::string data = mail::dotStuffed(mail::composeMessage(message, rfc5322Date(), token + "@" + host, "=_qel_" + token));
        mail::Envelope envelope{host, ascii(message.from.address), {}};
        for (const mail::MailAddress& recipient : message.to)
            envelope.to.push_back(ascii(recipient.address));
        WinsockTransport transport(timeoutSeconds_);
        answer(mail::deliver(transport, server, envelope, data), result);
    });
}

} // namespace qel::mailcomponent
