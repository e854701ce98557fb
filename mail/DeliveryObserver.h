#pragma once
// What a delivery tells about itself as it goes, a line at a time: for the
// opt-in trace and the credential tool's test. Never a secret (AUTH's
// payloads and the replies to them come masked) and never message data
// (only its size); replies arrive escaped.
#include <string_view>

namespace qel::mail {

class DeliveryObserver {
public:
    virtual ~DeliveryObserver() = default;
    // "C: MAIL FROM:<...>", "S: 250 2.1.0 ok", "connected to [::1]:587", "TLS: ...".
    virtual void line(std::string_view text) = 0;
};

} // namespace qel::mail
