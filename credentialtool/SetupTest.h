#pragma once
// The test verb: the component's own account choice and dialogue against a
// server, each step on the console as it happens, stopping after AUTH, after
// the recipients (RSET: nothing is sent), or with a short mail delivered.
#include <string>

namespace qel::credentialtool {

struct SetupTest {
    std::u16string server;
    std::string from, to; // both, or neither
    bool send = false;
};

// The code the send ended with (0: every step went well).
int testSetup(const SetupTest& test);

} // namespace qel::credentialtool
