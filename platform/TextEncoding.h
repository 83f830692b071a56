#pragma once
// The text files the program reads (scripts, loader.ini, key maps) hold 8-bit characters, but an
// editor may save them with a UTF-8 byte-order mark, or as UTF-16 ("Unicode" on Windows). Every
// reader passes the file through DecodeText, so all of them agree on what such a file says.
// Flash files never come here: they go to the device byte for byte.

#include <string>
#include <string_view>

namespace platform
{

// How a text file was stored.
enum class TextForm { Bytes, Utf8Mark, Utf16LE, Utf16BE };

struct DecodedText {
    TextForm form = TextForm::Bytes;
    std::string text;  // the 8-bit text; empty when refused
    std::string error; // why the file cannot be read as 8-bit text; empty when it can
};

// A file without a byte-order mark is taken byte for byte. A UTF-8 mark is dropped and the rest
// kept as it is (no character set conversion). UTF-16 with its mark, in either byte order,
// becomes one byte per character, the character's code (Latin-1). Such a file is refused when it
// has an odd number of bytes, an unpaired surrogate, or a character beyond 0xFF, which no byte
// can hold; the error names the line (counted as a script counts them) and the character.
DecodedText DecodeText(std::string_view bytes);

// The stored form of `text` again: the mark put back, UTF-16 written in its byte order. Text that
// DecodeText gave comes back as the bytes it came from.
std::string EncodeText(std::string_view text, TextForm form);

} // namespace platform
