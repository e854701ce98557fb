#pragma once
// The rules a Renderer's field block follows: account, security key, version,
// the fixed SMS-BPID:=0, an optional campaign, an optional SMS-IsMMS:=1, one
// SMS-Recp/SMS-Recn pair per recipient (at least one), body, reply address.
#include <string>
#include <string_view>
#include <vector>

#include "gateway/GatewayReader.h"

namespace qel::gateway {

// One text per broken rule, naming the field by its place (1 for the first).
std::vector<std::u16string> fieldRuleProblems(const std::vector<GatewayField>& fields);

// Whether a Renderer can write `line` as a line of the value of the field so
// named: the first line when `first`, a later one otherwise. SMS-BPID,
// SMS-IsMMS and SMS-Version are one line of a fixed form; a campaign's
// apostrophes are written as grave accents. False for an unknown name.
bool isRenderersValueLine(std::u16string_view name, std::u16string_view line, bool first);

} // namespace qel::gateway
