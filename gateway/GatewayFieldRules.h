#pragma once
// The rules a Renderer's field block follows: account, security key, version,
// the fixed SMS-BPID:=0, an optional campaign, an optional SMS-IsMMS:=1, one
// SMS-Recp/SMS-Recn pair per recipient (at least one), body, reply address.
#include <string>
#include <vector>

#include "gateway/GatewayReader.h"

namespace qel::gateway {

// One text per broken rule, naming the field by its place (1 for the first).
std::vector<std::u16string> fieldRuleProblems(const std::vector<GatewayField>& fields);

} // namespace qel::gateway
