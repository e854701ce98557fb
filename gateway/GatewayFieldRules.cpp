#include "gateway/GatewayFieldRules.h"

#include <algorithm>
#include <map>
#include <string_view>

namespace qel::gateway {

namespace {

enum class Form { Any, Fixed, Version, NoApostrophe };

struct FieldRule {
    std::u16string_view name;
    int rank; // the place in the block; recipient pairs share one
    bool required;
    Form form = Form::Any;
    std::u16string_view fixedValue = {};
};

constexpr std::u16string_view kRecipientPhone = u"SMS-Recp";
constexpr std::u16string_view kRecipientName = u"SMS-Recn";

constexpr FieldRule kRules[] = {
    {u"SMS-AccountId", 1, true},
    {u"SMS-SecurityKey", 2, true},
    {u"SMS-Version", 3, true, Form::Version},
    {u"SMS-BPID", 4, true, Form::Fixed, u"0"},
    {u"SMS-Campaign", 5, false, Form::NoApostrophe},
    {u"SMS-IsMMS", 6, false, Form::Fixed, u"1"},
    {kRecipientPhone, 7, false},
    {kRecipientName, 7, false},
    {u"SMS-Body", 8, true},
    {u"SMS-Name", 9, true},
};

const FieldRule* ruleFor(std::u16string_view name)
{
    const auto rule =
        std::find_if(std::begin(kRules), std::end(kRules), [&](const FieldRule& r) { return r.name == name; });
    return rule == std::end(kRules) ? nullptr : &*rule;
}

// The component's own version, major.minor.revision in decimal.
bool isVersion(std::u16string_view text)
{
    int parts = 0;
    for (std::size_t at = 0; parts < 3; ++parts) {
        const std::size_t digits = std::min(text.find_first_not_of(u"0123456789", at), text.size());
        if (digits == at || (parts < 2 ? digits == text.size() || text[digits] != u'.' : digits != text.size()))
            return false;
        at = digits + 1;
    }
    return true;
}

bool fitsForm(const FieldRule& rule, std::u16string_view line, bool first)
{
    switch (rule.form) {
    case Form::Any: return true;
    case Form::Fixed: return first && line == rule.fixedValue;
    case Form::Version: return first && isVersion(line);
    case Form::NoApostrophe: return line.find(u'\'') == std::u16string_view::npos;
    }
    return false;
}

bool fitsForm(const FieldRule& rule, std::u16string_view value)
{
    for (bool first = true;; first = false) {
        const std::size_t end = value.find(u"\r\n");
        if (!fitsForm(rule, value.substr(0, end), first))
            return false;
        if (end == std::u16string_view::npos)
            return true;
        value.remove_prefix(end + 2);
    }
}

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

std::u16string formProblem(const FieldRule& rule, std::u16string_view value)
{
    const std::u16string name(rule.name);
    switch (rule.form) {
    case Form::Version: return name + u" is " + quoted(value) + u", not major.minor.revision in decimal";
    case Form::NoApostrophe: return name + u" holds an apostrophe, which a Renderer writes as a grave accent";
    default: return name + u" is " + quoted(value) + u", not " + quoted(rule.fixedValue);
    }
}

} // namespace

bool isRenderersValueLine(std::u16string_view name, std::u16string_view line, bool first)
{
    const FieldRule* rule = ruleFor(name);
    return rule && fitsForm(*rule, line, first);
}

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
        const FieldRule* rule = ruleFor(field.name);
        if (!rule) {
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
            latest = rule;
        if (phoneAwaitingName && !isName)
            problems.push_back(at(phoneAwaitingName) + u"SMS-Recp without SMS-Recn after it");
        if (isName && !phoneAwaitingName)
            problems.push_back(at(place) + u"SMS-Recn without SMS-Recp before it");
        phoneAwaitingName = isPhone ? place : 0;
        recipients += isPhone;
        if (!fitsForm(*rule, field.value))
            problems.push_back(at(place) + formProblem(*rule, field.value));
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
