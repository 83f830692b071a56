#pragma once
// The strict integer of script arguments: optional leading blanks, an optional "+" or "-", then
// decimal digits or "$" and hexadecimal digits. Nothing may follow, not even a blank, and the
// signed value must fit 32 bits ("$80000000" does not; "-$80000000" does).

#include <cstdint>
#include <optional>
#include <string_view>

namespace loader
{

std::optional<int32_t> ParseScriptInteger(std::string_view text);

} // namespace loader
