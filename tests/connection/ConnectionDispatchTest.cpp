// The connection class as late-bound callers see it (names, DISPIDs, argument
// conversion, raised errors) and as early-bound callers see it (slots).
#include <cstring>
#include <deque>

#include "connection/ConnectionMembers.h"
#include "connection/ConnectionTestSupport.h"

namespace qel::test {
namespace {

using Numbers = std::vector<std::uint64_t>;

// The vtable slot a pointer to a virtual member holds (Itanium ABI, as gcc
// lays it out: 1 + byte offset), counted after IUnknown and IDispatch.
template <class Method>
std::ptrdiff_t slotOf(Method method)
{
    std::ptrdiff_t raw[2];
    static_assert(sizeof(Method) == sizeof raw);
    std::memcpy(raw, &method, sizeof raw);
    return (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)) - 7;
}

TEST(ConnectionInterface, MembersHoldTheirSlots)
{
    using I = _CWinInetConnection;
    const std::ptrdiff_t slots[] = {
        slotOf(&I::SetGlobalOnline), slotOf(&I::SetGlobalOffline), slotOf(&I::GoOnline),
        slotOf(&I::HangUp),          slotOf(&I::Dial),             slotOf(&I::AutodialHangup),
        slotOf(&I::Autodial),        slotOf(&I::Refresh),          slotOf(&I::get_IsConnected),
        slotOf(&I::get_ConnectionName), slotOf(&I::get_IsConnectionConfigured), slotOf(&I::get_IsOffline),
        slotOf(&I::get_IsRasInstalled), slotOf(&I::get_UseProxy), slotOf(&I::get_UseLAN),
        slotOf(&I::get_UseModem),    slotOf(&I::GetWinApiDesc),    slotOf(&I::GetWinInetDesc),
        slotOf(&I::GetStringFromPtr), slotOf(&I::ProcessError),
    };
    for (std::ptrdiff_t i = 0; i < std::ssize(slots); ++i)
        EXPECT_EQ(slots[i], i);
    const IID expected = {0x58BCD863, 0xF121, 0x40C9, {0xBF, 0x81, 0x78, 0xC9, 0x3F, 0xED, 0x52, 0xB9}};
    EXPECT_TRUE(IsEqualIID(__uuidof(I), expected));
}

TEST(ConnectionInterface, MemberTableGivesNamesDispidsAndHelpStrings)
{
    const struct {
        const wchar_t* name;
        DISPID id;
        WORD kind;
        const wchar_t* help;
    } expected[] = {
        {L"SetGlobalOnline", 0x60030008, DISPATCH_METHOD, L"Turns the local system to global online mode."},
        {L"SetGlobalOffline", 0x60030009, DISPATCH_METHOD, nullptr},
        {L"GoOnline", 0x6003000A, DISPATCH_METHOD, L"Prompts the user for permission to initiate connection to a URL."},
        {L"HangUp", 0x6003000B, DISPATCH_METHOD, L"Instructs the modem to disconnect from the Internet."},
        {L"Dial", 0x6003000C, DISPATCH_METHOD, L"Initiates a connection to the Internet using a modem."},
        {L"AutodialHangup", 0x6003000D, DISPATCH_METHOD, L"Disconnects an automatic dial-up connection."},
        {L"Autodial", 0x6003000E, DISPATCH_METHOD,
         L"Causes the modem to automatically dial the default Internet connection."},
        {L"Refresh", 0x6003000F, DISPATCH_METHOD, L"Refresh the class data."},
        {L"IsConnected", 0x68030007, DISPATCH_PROPERTYGET, nullptr},
        {L"ConnectionName", 0x68030006, DISPATCH_PROPERTYGET, L"Name of the active connection."},
        {L"IsConnectionConfigured", 0x68030005, DISPATCH_PROPERTYGET,
         L"Local system has a valid connection to the Internet, but it may or may not be currently connected."},
        {L"IsOffline", 0x68030004, DISPATCH_PROPERTYGET, L"Local system is in offline mode."},
        {L"IsRasInstalled", 0x68030003, DISPATCH_PROPERTYGET, L"Local system has RAS installed."},
        {L"UseProxy", 0x68030002, DISPATCH_PROPERTYGET, L"Local system uses a proxy server to connect to the Internet."},
        {L"UseLAN", 0x68030001, DISPATCH_PROPERTYGET, L"Local system uses a local area network to connect to the Internet."},
        {L"UseModem", 0x68030000, DISPATCH_PROPERTYGET, L"Local system uses a modem to connect to the Internet."},
        {L"GetWinApiDesc", 0x60030011, DISPATCH_METHOD, nullptr},
    };
    const auto members = connection::connectionMembers();
    ASSERT_EQ(members.size(), std::size(expected));
    for (std::size_t i = 0; i < members.size(); ++i) {
        EXPECT_STREQ(members[i].name, expected[i].name);
        EXPECT_EQ(members[i].id, expected[i].id) << i;
        EXPECT_EQ(members[i].kind, expected[i].kind) << i;
        if (expected[i].help)
            EXPECT_STREQ(members[i].helpString, expected[i].help);
        else
            EXPECT_EQ(members[i].helpString, nullptr) << i;
    }
}

TEST_F(ConnectionTest, NamesAreFoundWithoutRegardToCaseAndPrivateRoutinesNotAtAll)
{
    const struct {
        const wchar_t* name;
        DISPID id;
    } cases[] = {{L"dial", 0x6003000C},           {L"USELAN", 0x68030001},
                 {L"GetWinApiDesc", 0x60030011}, {L"GetWinInetDesc", DISPID_UNKNOWN},
                 {L"GetStringFromPtr", DISPID_UNKNOWN}, {L"ProcessError", DISPID_UNKNOWN},
                 {L"Dia", DISPID_UNKNOWN},       {L"Diall", DISPID_UNKNOWN}};
    for (const auto& c : cases) {
        LPOLESTR name = const_cast<LPOLESTR>(c.name);
        DISPID id = 0;
        const HRESULT hr = connection->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        EXPECT_EQ(hr, c.id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK) << c.name;
        EXPECT_EQ(id, c.id) << c.name;
    }
    UINT count = 9;
    EXPECT_HRESULT_SUCCEEDED(connection->GetTypeInfoCount(&count));
    EXPECT_EQ(count, 0u);
}

// Arguments live as long as the test; the cases hold shallow copies.
class DispatchTest : public ConnectionTest {
protected:
    VARIANT integer(LONG value)
    {
        VARIANT v{};
        v.vt = VT_I4;
        v.lVal = value;
        return v;
    }
    VARIANT boolean(VARIANT_BOOL value)
    {
        VARIANT v{};
        v.vt = VT_BOOL;
        v.boolVal = value;
        return v;
    }
    VARIANT text(const char16_t* value)
    {
        kept.push_back(Variant::ofText(value));
        return kept.back().get();
    }

    std::deque<Variant> kept;
};

TEST_F(DispatchTest, InvokeConvertsArgumentsAndAppliesDefaults)
{
    VARIANT_BOOL byReference = VARIANT_TRUE;
    VARIANT reference;
    reference.vt = VT_BYREF | VT_BOOL;
    reference.pboolVal = &byReference;
    VARIANT missing{};
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;

    const struct {
        const wchar_t* member;
        std::vector<VARIANT> arguments;
        const char* function;
        Numbers expected;
    } cases[] = {
        {L"Dial", {integer(7), text(u"Office"), text(u"1")}, "InternetDialA", {7, 0x1, 0}},
        {L"Dial", {text(u"7"), text(u"Office"), integer(1), reference}, "InternetDialA",
         {7, 0x4001, 0}},
        {L"Dial", {integer(7), text(u"Office"), integer(1), text(u"True")}, "InternetDialA",
         {7, 0x4001, 0}},
        {L"Autodial", {integer(9), integer(1)}, "InternetAutodial", {0x5, 9}},
        {L"Autodial", {integer(9), integer(1), missing}, "InternetAutodial", {0x5, 9}},
        {L"Autodial", {integer(9), integer(1), boolean(VARIANT_FALSE)}, "InternetAutodial",
         {0x1, 9}},
    };
    for (const auto& c : cases) {
        platform->calls.clear();
        const DispatchResult outcome = call(connection.Get(), c.member, DISPATCH_METHOD, c.arguments);
        ASSERT_HRESULT_SUCCEEDED(outcome.hr) << c.member;
        EXPECT_EQ(outcome.value.get().vt, VT_BOOL);
        EXPECT_EQ(outcome.value.get().boolVal, VARIANT_TRUE);
        ASSERT_NE(platform->lastCallOf(c.function), nullptr);
        EXPECT_EQ(platform->lastCallOf(c.function)->numbers, c.expected) << c.member;
    }
}

TEST_F(DispatchTest, InvokeTakesANamedOptionalArgument)
{
    const wchar_t* names[] = {L"Dial", L"bshowofflinebutton"};
    DISPID ids[2] = {};
    ASSERT_HRESULT_SUCCEEDED(
        connection->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(names), 2, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(ids[1], 3);
    VARIANT arguments[] = {boolean(VARIANT_TRUE), integer(2), text(u"Office"), integer(0)};
    DISPPARAMS parameters{arguments, &ids[1], 4, 1};
    VARIANT result;
    VariantInit(&result);
    ASSERT_HRESULT_SUCCEEDED(
        connection->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result, nullptr, nullptr));
    EXPECT_EQ(platform->lastCallOf("InternetDialA")->numbers, (Numbers{0, 0x4002, 0}));
}

TEST_F(DispatchTest, InvokeRefusesWhatTheMemberCannotTake)
{
    const struct {
        const wchar_t* member;
        WORD kind;
        std::vector<VARIANT> arguments;
        HRESULT expected;
    } cases[] = {
        {L"Dial", DISPATCH_METHOD, {integer(0), text(u"x"), text(u"not a number")}, DISP_E_TYPEMISMATCH},
        {L"Dial", DISPATCH_METHOD, {integer(0), text(u"x")}, DISP_E_PARAMNOTOPTIONAL},
        {L"Refresh", DISPATCH_METHOD, {integer(0)}, DISP_E_BADPARAMCOUNT},
        {L"GetWinApiDesc", DISPATCH_METHOD, {VARIANT{}}, S_OK}, // Empty reads as 0
        {L"ConnectionName", DISPATCH_PROPERTYPUT, {text(u"x")}, DISP_E_MEMBERNOTFOUND},
        {L"Refresh", DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND},
    };
    for (const auto& c : cases)
        EXPECT_EQ(call(connection.Get(), c.member, c.kind, c.arguments).hr, c.expected) << c.member;
}

TEST_F(DispatchTest, InvokeDeliversResultsOfTheirOwnTypes)
{
    platform->nameWriting = FakeConnectionPlatform::NameWriting::Text;
    platform->connectionName = "LAN Connection";
    EXPECT_EQ(call(connection.Get(), L"Refresh", DISPATCH_METHOD).value.get().vt, VT_EMPTY);
    const DispatchResult connected = get(connection.Get(), L"IsConnected");
    EXPECT_EQ(connected.value.get().vt, VT_BOOL);
    EXPECT_EQ(connected.value.get().boolVal, VARIANT_TRUE);
    EXPECT_EQ(textOf(get(connection.Get(), L"ConnectionName").value.get()), L"LAN Connection");
    const DispatchResult hungUp = call(connection.Get(), L"HangUp", DISPATCH_METHOD);
    EXPECT_EQ(hungUp.value.get().vt, VT_BOOL);
    EXPECT_EQ(hungUp.value.get().boolVal, VARIANT_TRUE);
}

TEST_F(DispatchTest, InvokeReportsARaisedErrorAsAnException)
{
    platform->connectedResult = FALSE;
    platform->lastErrors["InternetGetConnectedStateExA"] = 2;
    const DispatchResult outcome = call(connection.Get(), L"Refresh", DISPATCH_METHOD);
    EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(outcome.scode, static_cast<SCODE>(0x800403EA));
    EXPECT_EQ(outcome.source, L"CWinInetConnection.Refresh");
    EXPECT_EQ(outcome.description, L"Win32API Error: 2 ");
}

TEST_F(ConnectionTest, SupportsErrorInfoForItsOwnInterfaceOnly)
{
    ComPtr<ISupportErrorInfo> support;
    ASSERT_HRESULT_SUCCEEDED(connection.As(&support));
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__CWinInetConnection), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(connection.As(&dispatch));
    EXPECT_EQ(dispatch.Get(), static_cast<IDispatch*>(connection.Get()));
    ComPtr<IClassFactory> notThis;
    EXPECT_EQ(connection.As(&notThis), E_NOINTERFACE);
}

} // namespace
} // namespace qel::test
