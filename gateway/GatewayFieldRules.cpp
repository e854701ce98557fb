#include "gateway/GatewayFieldRules.h"

#include <algorithm>
#include <map>
#include <string_view>

namespace qel::gateway {

namespace {

struct FieldRule {
    std::u16string_view name;
    int rank; // the place in the block; recipient pairs share one
    bool required;
    std::u16string_view fixedValue; // empty where any value goes
};

constexpr std::u16string_view kRecipientPhone = u"SMS-Recp";
constexpr std::u16string_view kRecipientName = u"SMS-Recn";

constexpr FieldRule kRules[] = {
    {u"SMS-AccountId", 1, true, {}},  {u"SMS-SecurityKey", 2, true, {}}, {u"SMS-Version", 3, true, {}},
    {u"SMS-BPID", 4, true, u"0"},     {u"SMS-Campaign", 5, false, {}},   {u"SMS-IsMMS", 6, false, u"1"},
    {kRecipientPhone, 7, false, {}},  {kRecipientName, 7, false, {}},    {u"SMS-Body", 8, true, {}},
    {u"SMS-Name", 9, true, {}},
};

std::u16string number(std::size_t n)
{
    const std::string digits = std::to_string(n);
    return {digits.begin(), digits.end()};
}

std::u16string quoted(std::u16string_view text)
{
    std::u16string out(1, u'"');
    return out.append(text).append(1, u'"');
}

} // namespace

std::vector<std::u16string> fieldRuleProblems(const std::vector<GatewayField>& fields)
{
    std::vector<std::u16string> problems;
    const auto at = [](std::size_t place) { return u"field " + number(place) + u": "; };
    std::map<std::u16string_view, std::size_t> firstPlace;
    const FieldRule* latest = nullptr;
    std::size_t phoneAwaitingName = 0; // the place of an SMS-Recp not yet followed by its SMS-Recn
    std::size_t recipients = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t place = i + 1;
        const GatewayField& field = fields[i];
        const auto rule = std::find_if(std::begin(kRules), std::end(kRules),
                                       [&](const FieldRule& r) { return r.name == field.name; });
        if (rule == std::end(kRules)) {
            problems.push_back(at(place) + u"unknown name " + quoted(field.name));
            continue;
        }
        const bool isPhone = rule->name == kRecipientPhone;
        const bool isName = rule->name == kRecipientName;
        if (!isPhone && !isName) {
            const auto [first, isNew] = firstPlace.emplace(rule->name, place);
            if (!isNew) {
                problems.push_back(at(place) + std::u16string(rule->name) + u" again (first as field "
                                   + number(first->second) + u")");
                continue;
            }
        }
        if (latest && rule->rank < latest->rank)
            problems.push_back(at(place) + std::u16string(rule->name) + u" out of order, after "
                               + std::u16string(latest->name));
        else
            latest = &*rule;
        if (phoneAwaitingName && !isName)
            problems.push_back(at(phoneAwaitingName) + u"SMS-Recp without SMS-Recn after it");
        if (isName && !phoneAwaitingName)
            problems.push_back(at(place) + u"SMS-Recn without SMS-Recp before it");
        phoneAwaitingName = isPhone ? place : 0;
        recipients += isPhone;
        if (!rule->fixedValue.empty() && field.value != rule->fixedValue)
            problems.push_back(at(place) + std::u16string(rule->name) + u" is " + quoted(field.value) + u", not "
                               + quoted(rule->fixedValue));
    }
    if (phoneAwaitingName)
        problems.push_back(at(phoneAwaitingName) + u"SMS-Recp without SMS-Recn after it");
    for (const FieldRule& rule : kRules)
        if (rule.required && !firstPlace.contains(rule.name))
            problems.push_back(std::u16string(rule.name) + u" is missing");
    if (recipients == 0)
        problems.push_back(u"no recipient (SMS-Recp) in the block");
    return problems;
}

} // namespace qel::gateway
