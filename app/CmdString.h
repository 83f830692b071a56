#pragma once
// Turns the quoted argument of a device command line into the bytes to send:
// 1. drop leading and trailing bytes below 33 (blanks and control characters);
// 2. with n the remaining length and q the 1-based position of the first double quote (0 when
//    there is none), keep at most n - 2 bytes from position q + 1, so "text" keeps text and an
//    unquoted argument loses its last two bytes;
// 3. "^" followed by a byte becomes that byte (a lower-case ASCII letter taken as upper case)
//    minus 64, modulo 256: ^M is CR, ^[ is ESC, ^@ is a zero byte, ^^ is 30; a final "^" goes.
// No line terminator is added. The result may hold any byte, zero included.

#include <string>
#include <string_view>

namespace loader
{

std::string ProcessCmdString(std::string_view argument);

} // namespace loader
