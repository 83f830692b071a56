#pragma once
// The message texts of the result codes, compiled in and looked up by message id.

#include <string>

namespace serial
{

// The message id of result code c, with |c| taken as a 16-bit unsigned number: |c| itself for
// 13800..13900, |c| + 11800 for 100..199, otherwise (|c| mod 1000) + (|c| div 1000) * 100 + 11000.
// So -1001 gives 11101, -103 gives 11903 and 0 gives 11000.
int ErrorMessageId(int code);

// The text with this id; an id without a text gives an empty one.
std::string MessageById(int id);

// The text for a result code (MessageById(ErrorMessageId(code))).
std::string ErrorMessage(int code);

} // namespace serial
