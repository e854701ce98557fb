#include "gateway/GatewayReadCommand.h"

#include <fstream>
#include <new>

#include "common/Utf8.h"
#include "gateway/EscapedText.h"
#include "gateway/GatewayReader.h"

namespace qel::gateway {

const char* const kGatewayReadUsage =
    "usage: qel-gateway-read [--machine] [--picture | --no-picture] [MAIL-BODY-FILE]\n"
    "Reads a gateway mail body (UTF-8, at most 1048576 bytes) from the file or standard\n"
    "input and prints its head and decrypted fields, one a line.\n"
    "  for people (default): \"To: \", \"Message: \", then NAME=VALUE per field;\n"
    "    problems go to standard error.\n"
    "  --machine: to=, message=, NAME=VALUE per field in block order, problem= per problem.\n"
    "In both, control characters (U+0000-U+001F, U+007F-U+009F), \"\\\", U+2028, U+2029,\n"
    "bidirectional controls and unpaired surrogates are written \\\\ \\r \\n \\t \\xHH or \\uHHHH;\n"
    "with --machine \"=\" too (\\x3D), so the first \"=\" of a line ends its name.\n"
    "A value may hold line breaks: fields are read in the order a Renderer writes them, the\n"
    "head choosing between readings; a block that reads more than one way prints no fields.\n"
    "  --picture, --no-picture: the mail carried a picture attachment, or none. Without\n"
    "    either, a campaign on a picture message reads two ways (its second line could\n"
    "    be \"SMS-IsMMS:=1\").\n"
    "Exit status: 0 read cleanly, 1 not readable as a gateway body (or any failure),\n"
    "2 bad usage or file not opened, 3 read but the body breaks a rule (problems listed).\n";

namespace {

std::string readBounded(std::streambuf& input)
{
    std::string bytes;
    char chunk[64 * 1024];
    for (std::streamsize got; (got = input.sgetn(chunk, sizeof chunk)) > 0;) {
        bytes.append(chunk, static_cast<std::size_t>(got));
        if (bytes.size() > kMaxBodyBytes)
            throw GatewayFormatError("the input is longer than " + std::to_string(kMaxBodyBytes)
                                     + " bytes, the limit for a gateway body");
    }
    return bytes;
}

void writeForPeople(const GatewayMail& mail, std::ostream& out, std::ostream& err)
{
    const auto text = [](std::u16string_view t) { return escapedText(t, EscapeEquals::No); };
    out << "To: " << text(mail.recipientsLine) << "\n";
    out << "Message: " << text(mail.messageLine) << "\n";
    for (const auto& field : mail.fields)
        out << text(field.name) << "=" << text(field.value) << "\n";
    for (const auto& problem : mail.problems)
        err << "qel-gateway-read: " << text(problem) << "\n";
}

void writeForMachines(const GatewayMail& mail, std::ostream& out)
{
    const auto text = [](std::u16string_view t) { return escapedText(t, EscapeEquals::Yes); };
    out << "to=" << text(mail.recipientsLine) << "\n";
    out << "message=" << text(mail.messageLine) << "\n";
    for (const auto& field : mail.fields)
        out << text(field.name) << "=" << text(field.value) << "\n";
    for (const auto& problem : mail.problems)
        out << "problem=" << text(problem) << "\n";
}

int run(const std::vector<std::string>& arguments, std::streambuf& input, std::ostream& out, std::ostream& err)
{
    bool forMachines = false;
    MailPicture picture = MailPicture::Unknown;
    const std::string* file = nullptr;
    for (const std::string& argument : arguments) {
        if (argument == "--help") {
            out << kGatewayReadUsage;
            return kReadCleanly;
        }
        if (argument == "--machine" && !forMachines) {
            forMachines = true;
        } else if ((argument == "--picture" || argument == "--no-picture") && picture == MailPicture::Unknown) {
            picture = argument == "--picture" ? MailPicture::Attached : MailPicture::None;
        } else if (argument.starts_with("-") || file) {
            err << kGatewayReadUsage;
            return kBadUsage;
        } else {
            file = &argument;
        }
    }
    std::string bytes;
    if (file) {
        std::ifstream stream(*file, std::ios::binary);
        if (!stream) {
            err << "qel-gateway-read: cannot open " << escapedText(utf16FromUtf8(*file), EscapeEquals::No) << "\n";
            return kBadUsage;
        }
        bytes = readBounded(*stream.rdbuf());
        if (stream.bad())
            throw GatewayFormatError("cannot read " + *file);
    } else {
        bytes = readBounded(input);
    }
    const GatewayMail mail = readGatewayMail(utf16FromUtf8(bytes), textcrypt::AnsiCodePage::windows1252(), picture);
    if (forMachines)
        writeForMachines(mail, out);
    else
        writeForPeople(mail, out, err);
    if (!out.flush())
        throw GatewayFormatError("cannot write the output");
    return mail.problems.empty() ? kReadCleanly : kReadWithProblems;
}

} // namespace

int runGatewayRead(const std::vector<std::string>& arguments, std::streambuf& input, std::ostream& out,
                   std::ostream& err)
{
    std::string failure;
    try {
        return run(arguments, input, out, err);
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& e) {
        failure = escapedText(utf16FromUtf8(e.what()), EscapeEquals::No);
    } catch (...) {
        failure = "unexpected failure";
    }
    err << "qel-gateway-read: " << failure << "\n";
    return kCannotRead;
}

} // namespace qel::gateway
