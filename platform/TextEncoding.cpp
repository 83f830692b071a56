#include "platform/TextEncoding.h"

#include <cstdint>
#include <cstdio>

namespace platform
{
namespace
{

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LEMark = "\xFF\xFE";
constexpr std::string_view Utf16BEMark = "\xFE\xFF";

std::string CodeText(uint32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code));
    return text;
}

std::string InLine(std::size_t line)
{
    return " in line " + std::to_string(line);
}

bool IsHighSurrogate(uint32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

DecodedText DecodeUtf16(std::string_view bytes, TextForm form)
{
    DecodedText decoded;
    decoded.form = form;
    if (bytes.size() % 2 != 0) {
        decoded.error = "UTF-16 text with an odd number of bytes";
        return decoded;
    }
    const bool little = form == TextForm::Utf16LE;
    const auto unitAt = [&](std::size_t i) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return little ? static_cast<uint32_t>(first | second << 8)
                      : static_cast<uint32_t>(first << 8 | second);
    };

    decoded.text.reserve(bytes.size() / 2);
    std::size_t line = 1;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t code = unitAt(i);
        if (IsHighSurrogate(code) && i + 2 < bytes.size() && IsLowSurrogate(unitAt(i + 2))) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
            i += 2;
        } else if (IsHighSurrogate(code) || IsLowSurrogate(code)) {
            decoded.error = "unpaired UTF-16 surrogate " + CodeText(code) + InLine(line);
            break;
        }
        if (code > 0xFF) {
            decoded.error =
                "UTF-16 character " + CodeText(code) + InLine(line) + " has no 8-bit form";
            break;
        }
        // Lines end at CR LF, at a lone CR or at a lone LF, as a script's do.
        if (code == '\r' || (code == '\n' && (decoded.text.empty() || decoded.text.back() != '\r')))
            ++line;
        decoded.text += static_cast<char>(code);
    }
    if (!decoded.error.empty())
        std::string().swap(decoded.text);
    return decoded;
}

void AppendUnit(std::string &out, unsigned char byte, TextForm form)
{
    if (form == TextForm::Utf16LE) {
        out += static_cast<char>(byte);
        out += '\0';
    } else {
        out += '\0';
        out += static_cast<char>(byte);
    }
}

} // namespace

DecodedText DecodeText(std::string_view bytes)
{
    if (bytes.substr(0, Utf8Mark.size()) == Utf8Mark)
        return {TextForm::Utf8Mark, std::string(bytes.substr(Utf8Mark.size())), {}};
    if (bytes.substr(0, Utf16LEMark.size()) == Utf16LEMark)
        return DecodeUtf16(bytes.substr(Utf16LEMark.size()), TextForm::Utf16LE);
    if (bytes.substr(0, Utf16BEMark.size()) == Utf16BEMark)
        return DecodeUtf16(bytes.substr(Utf16BEMark.size()), TextForm::Utf16BE);
    return {TextForm::Bytes, std::string(bytes), {}};
}

std::string EncodeText(std::string_view text, TextForm form)
{
    switch (form) {
    case TextForm::Bytes:
        break;
    case TextForm::Utf8Mark:
        return std::string(Utf8Mark) + std::string(text);
    case TextForm::Utf16LE:
    case TextForm::Utf16BE: {
        std::string out(form == TextForm::Utf16LE ? Utf16LEMark : Utf16BEMark);
        out.reserve(out.size() + 2 * text.size());
        for (char c : text)
            AppendUnit(out, static_cast<unsigned char>(c), form);
        return out;
    }
    }
    return std::string(text);
}

} // namespace platform
