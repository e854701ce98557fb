#pragma once
// A connection object over the fake platform, and what its calls left.
#include <memory>
#include <string>

#include "com/ComTestSupport.h"
#include "common/NumberedError.h"
#include "connection/CWinInetConnection.h"
#include "connection/ObjectError.h"
#include "connection/FakeConnectionPlatform.h"

namespace qel::test {

// The outcome of a failed call as a host sees it.
struct Failure {
    HRESULT hr;
    std::wstring source;
    std::wstring description;
};

inline Failure failureOf(HRESULT hr)
{
    const RaisedError raised = takeErrorInfo();
    return {hr, raised.source, raised.description};
}

inline std::wstring takeText(BSTR text)
{
    std::wstring copy = text ? std::wstring(text, SysStringLen(text)) : L"<null>";
    SysFreeString(text);
    return copy;
}

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { connection = connection::CWinInetConnection::create(platform); }

    std::wstring connectionName()
    {
        BSTR name = nullptr;
        EXPECT_HRESULT_SUCCEEDED(connection->get_ConnectionName(&name));
        return takeText(name);
    }

    std::shared_ptr<FakeConnectionPlatform> platform = std::make_shared<FakeConnectionPlatform>();
    ComPtr<_CWinInetConnection> connection;
};

} // namespace qel::test
