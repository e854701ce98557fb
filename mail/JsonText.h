#pragma once
// The one way a string field is taken from a JSON answer or stored form:
// present and a string, or empty.
#include <string>

#include <nlohmann/json.hpp>

namespace qel::mail {

inline std::string stringAt(const nlohmann::json& object, const char* name)
{
    if (!object.is_object())
        return {};
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

} // namespace qel::mail
