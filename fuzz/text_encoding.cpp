// Fuzzes the reading of text files saved with or without a byte-order mark, and the script's
// refusal of a text cut short. The first byte picks a stored form for the round trip; the rest is
// a whole file.

#include "app/ScriptText.h"
#include "fuzz/FuzzCheck.h"
#include "platform/TextEncoding.h"

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

using platform::DecodeText;
using platform::EncodeText;
using platform::TextForm;

namespace
{

constexpr TextForm Forms[] = {TextForm::Bytes, TextForm::Utf8Mark, TextForm::Utf16LE,
                              TextForm::Utf16BE};

bool IsUtf16(TextForm form)
{
    return form == TextForm::Utf16LE || form == TextForm::Utf16BE;
}

void CheckDecoding(std::string_view bytes)
{
    const platform::DecodedText decoded = DecodeText(bytes);
    switch (decoded.form) {
    case TextForm::Bytes:
        FUZZ_CHECK(decoded.text == bytes && decoded.error.empty());
        break;
    case TextForm::Utf8Mark:
        FUZZ_CHECK(decoded.text == bytes.substr(3) && decoded.error.empty());
        break;
    case TextForm::Utf16LE:
    case TextForm::Utf16BE:
        if (!decoded.error.empty()) {
            FUZZ_CHECK(decoded.text.empty());
            break;
        }
        // One byte per two, each the character's code; written back, the same bytes.
        FUZZ_CHECK(decoded.text.size() == (bytes.size() - 2) / 2);
        FUZZ_CHECK(EncodeText(decoded.text, decoded.form) == bytes);
        break;
    }
}

// Any 8-bit text stored in a marked form reads back as itself.
void CheckRoundTrip(TextForm form, std::string_view text)
{
    const std::string stored = EncodeText(text, form);
    const platform::DecodedText decoded = DecodeText(stored);
    if (form == TextForm::Bytes) {
        FUZZ_CHECK(stored == text);
        return;
    }
    FUZZ_CHECK(decoded.form == form && decoded.error.empty() && decoded.text == text);
    FUZZ_CHECK(stored.size() == (IsUtf16(form) ? 2 + 2 * text.size() : 3 + text.size()));
}

void CheckScript(std::string_view bytes)
{
    const loader::ScriptFile script = loader::ParseScriptFile(bytes);
    const platform::DecodedText decoded = DecodeText(bytes);
    if (!decoded.error.empty()) {
        FUZZ_CHECK(script.status == loader::ScriptStatus::Refused);
        FUZZ_CHECK(script.reason == decoded.error);
        return;
    }
    // Run only when nothing but zero bytes follows the first zero byte: whatever the split drops
    // would be lost commands.
    const std::size_t zero = decoded.text.find('\0');
    const bool whole = zero == std::string::npos ||
                       decoded.text.find_first_not_of('\0', zero) == std::string::npos;
    FUZZ_CHECK((script.status == loader::ScriptStatus::Ok) == whole);
    if (whole)
        FUZZ_CHECK(script.lines == loader::SplitScriptText(decoded.text));
    else
        FUZZ_CHECK(script.lines.empty() && script.reason.find("zero byte in line ") == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const TextForm form = Forms[data[0] % std::size(Forms)];
    const std::string_view bytes(reinterpret_cast<const char *>(data + 1), size - 1);
    CheckDecoding(bytes);
    CheckRoundTrip(form, bytes);
    CheckScript(bytes);
    return 0;
}
