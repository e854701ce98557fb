#pragma once
// The ways a decrypted field block can be cut into the fields a Renderer
// writes, in its order. A value may hold line breaks, and so lines that look
// like fields: a line is a field only where the order allows that field, and
// otherwise goes on with the value before it. Only cuts whose recipients and
// body give back the head count, since the Renderer writes the head from the
// same values.
#include <cstddef>
#include <string_view>
#include <vector>

#include "gateway/GatewayReader.h"

namespace qel::gateway {

// Bounds the work on a hostile block: cuts still in step with the head at one
// line. A Renderer's body has one, or a few where values hold lines like the
// recipients' own.
inline constexpr std::size_t kMaxCutsInStep = 16;

struct BlockReadings {
    std::vector<std::vector<GatewayField>> found; // none, the one, or two of several
    bool tooMany = false; // more than kMaxCutsInStep cuts in step at a line; none found then
};

// lines: the block split at every CR LF, without them. head: from "To: " to
// the CR LF before the start marker, that one included.
// picture: what is known of the mail's picture, which SMS-IsMMS must agree with.
BlockReadings renderersReadings(const std::vector<std::u16string_view>& lines, std::u16string_view head,
                                MailPicture picture);

} // namespace qel::gateway
