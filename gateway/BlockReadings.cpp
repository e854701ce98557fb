#include "gateway/BlockReadings.h"

#include <cstdint>

#include "gateway/GatewayFieldRules.h"

namespace qel::gateway {

namespace {

// The fields in the order a Renderer writes them; phone and name repeat as a pair.
enum Slot : std::uint8_t { Account, Key, Version, Bpid, Campaign, Picture, Phone, Name, Body, ReplyAddress, kBefore };

constexpr std::u16string_view kNames[] = {u"SMS-AccountId", u"SMS-SecurityKey", u"SMS-Version", u"SMS-BPID",
                                          u"SMS-Campaign",  u"SMS-IsMMS",       u"SMS-Recp",    u"SMS-Recn",
                                          u"SMS-Body",      u"SMS-Name"};

constexpr unsigned bit(Slot slot)
{
    return 1u << slot;
}

// What may start on the line after a field (kBefore: on the first line).
unsigned fieldsAfter(Slot slot)
{
    switch (slot) {
    case kBefore: return bit(Account);
    case Account: return bit(Key);
    case Key: return bit(Version);
    case Version: return bit(Bpid);
    case Bpid: return bit(Campaign) | bit(Picture) | bit(Phone);
    case Campaign: return bit(Picture) | bit(Phone);
    case Picture: return bit(Phone);
    case Phone: return bit(Name);
    case Name: return bit(Phone) | bit(Body);
    case Body: return bit(ReplyAddress);
    case ReplyAddress: return 0;
    }
    return 0;
}

bool inHead(Slot slot)
{
    return slot == Phone || slot == Name || slot == Body;
}

// What a Renderer's head holds before the value of a field that is in it.
std::u16string_view headBefore(Slot slot, Slot previous)
{
    return slot == Name ? u" (" : slot == Body ? u"), \r\nMessage: " : previous == Name ? u"), " : u"";
}

// The lines so far cut so that they end in `slot`, the head read up to `at`.
// Two ways of getting here are kept: all that tells one reading from several.
struct Cut {
    Slot slot;
    std::uint8_t ways;
    std::uint32_t at;
    std::uint32_t from[2]; // the cut on the line before, times two, plus which of its ways
};

std::vector<GatewayField> readingOf(const std::vector<Cut>& cuts, std::uint32_t way,
                                    const std::vector<std::u16string_view>& lines)
{
    std::vector<const Cut*> cutOfLine(lines.size());
    for (std::size_t i = lines.size(); i-- > 0; way = cuts[way / 2].from[way % 2])
        cutOfLine[i] = &cuts[way / 2];
    std::vector<GatewayField> fields;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Slot slot = cutOfLine[i]->slot;
        if (i == 0 || cutOfLine[i - 1]->slot != slot)
            fields.push_back({std::u16string(kNames[slot]), std::u16string(lines[i].substr(kNames[slot].size() + 2))});
        else
            fields.back().value.append(u"\r\n").append(lines[i]);
    }
    return fields;
}

} // namespace

BlockReadings renderersReadings(const std::vector<std::u16string_view>& lines, std::u16string_view head,
                                MailPicture picture)
{
    const auto pictureAgrees = [picture](Slot field, Slot previous) {
        if (field == Picture)
            return picture != MailPicture::None;
        return field != Phone || previous == Name || previous == Picture || picture != MailPicture::Attached;
    };
    std::vector<Cut> cuts{{kBefore, 1, 4, {}}}; // "To: " read
    std::size_t previous = 0;                  // the first cut of the line before
    for (const std::u16string_view line : lines) {
        const std::size_t current = cuts.size();
        std::size_t inStep = 0;
        bool tooMany = false;
        const auto reach = [&](std::size_t from, Slot slot, std::size_t at) {
            std::size_t to = current;
            while (to < cuts.size() && (cuts[to].slot != slot || cuts[to].at != at))
                ++to;
            if (to == cuts.size()) {
                if (inHead(slot) && ++inStep > kMaxCutsInStep) {
                    tooMany = true;
                    return;
                }
                cuts.push_back({slot, 0, static_cast<std::uint32_t>(at), {}});
            }
            for (std::uint32_t way = 0; way < cuts[from].ways && cuts[to].ways < 2; ++way)
                cuts[to].from[cuts[to].ways++] = static_cast<std::uint32_t>(from * 2 + way);
        };
        const auto headHolds = [&](std::size_t at, std::u16string_view before, std::u16string_view value) {
            const std::u16string_view rest = head.substr(at);
            return rest.starts_with(before) && rest.substr(before.size()).starts_with(value);
        };
        for (std::size_t from = previous; from < current && !tooMany; ++from) {
            const Slot slot = cuts[from].slot;
            const std::size_t at = cuts[from].at;
            if (slot != kBefore && isRenderersValueLine(kNames[slot], line, false)) {
                if (!inHead(slot))
                    reach(from, slot, at);
                else if (headHolds(at, u"\r\n", line))
                    reach(from, slot, at + 2 + line.size());
            }
            for (std::uint8_t next = Account; next < kBefore; ++next) {
                const auto field = static_cast<Slot>(next);
                const std::u16string_view name = kNames[field];
                if (!(fieldsAfter(slot) & bit(field)) || !pictureAgrees(field, slot) || !line.starts_with(name)
                    || !line.substr(name.size()).starts_with(u":="))
                    continue;
                const std::u16string_view value = line.substr(name.size() + 2);
                if (!isRenderersValueLine(name, value, true))
                    continue;
                if (field == ReplyAddress) {
                    if (head.substr(at) == u"\r\n")
                        reach(from, field, head.size());
                } else if (!inHead(field)) {
                    reach(from, field, at);
                } else if (headHolds(at, headBefore(field, slot), value)) {
                    reach(from, field, at + headBefore(field, slot).size() + value.size());
                }
            }
        }
        if (tooMany)
            return {{}, true};
        if (cuts.size() == current)
            return {};
        previous = current;
    }
    BlockReadings readings;
    for (std::size_t last = previous; last < cuts.size(); ++last)
        if (cuts[last].slot == ReplyAddress)
            for (std::uint32_t way = 0; way < cuts[last].ways; ++way)
                readings.found.push_back(readingOf(cuts, static_cast<std::uint32_t>(last * 2 + way), lines));
    return readings;
}

} // namespace qel::gateway
