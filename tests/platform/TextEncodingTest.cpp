#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

using platform::DecodeText;
using platform::EncodeText;
using platform::TextForm;

TEST(TextEncoding, MarkedFilesBecomeEightBitTextOrAreRefused)
{
    using namespace std::string_literals;
    struct Case {
        std::string bytes;
        TextForm form;
        std::string text;
        std::string error;
    } cases[] = {
        {"", TextForm::Bytes, "", ""},
        {"_LF a\r\n\xE9\0"s, TextForm::Bytes, "_LF a\r\n\xE9\0"s, ""},
        {"\xEF\xBB\xBF_LF a\xC3\xA9", TextForm::Utf8Mark, "_LF a\xC3\xA9", ""},
        {"\xEF\xBB_LF", TextForm::Bytes, "\xEF\xBB_LF", ""},
        {"\xFF\xFE", TextForm::Utf16LE, "", ""},
        {"\xFF\xFE_\0L\0\r\0\n\0\xE9\0\0\0"s, TextForm::Utf16LE, "_L\r\n\xE9\0"s, ""},
        {"\xFE\xFF\0_\0L\0\xFF"s, TextForm::Utf16BE, "_L\xFF", ""},
        {"\xFF\xFE_"s, TextForm::Utf16LE, "", "UTF-16 text with an odd number of bytes"},
        {"\xFF\xFE"
         "a\0\r\0\n\0b\0\xAC\x20"s,
         TextForm::Utf16LE, "", "UTF-16 character U+20AC in line 2 has no 8-bit form"},
        {"\xFE\xFF\0\r\0\r\0\n\x01\0"s, TextForm::Utf16BE, "",
         "UTF-16 character U+0100 in line 3 has no 8-bit form"},
        {"\xFF\xFE=\0\x3D\xD8\x00\xDE"s, TextForm::Utf16LE, "",
         "UTF-16 character U+1F600 in line 1 has no 8-bit form"},
        {"\xFF\xFE\x3D\xD8"s, TextForm::Utf16LE, "", "unpaired UTF-16 surrogate U+D83D in line 1"},
        {"\xFF\xFE\x3D\xD8=\0"s, TextForm::Utf16LE, "",
         "unpaired UTF-16 surrogate U+D83D in line 1"},
        {"\xFE\xFF\xDC\x00"s, TextForm::Utf16BE, "", "unpaired UTF-16 surrogate U+DC00 in line 1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const platform::DecodedText decoded = DecodeText(c.bytes);
        EXPECT_EQ(decoded.form, c.form);
        EXPECT_EQ(decoded.text, c.text);
        EXPECT_EQ(decoded.error, c.error);
        // What was read is written back as the same bytes.
        if (c.error.empty()) {
            EXPECT_EQ(EncodeText(decoded.text, decoded.form), c.bytes);
        }
    }
}
