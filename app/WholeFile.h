#pragma once
// Reads a file whole into memory. The two ways to fail are told apart: a file that cannot be
// opened (missing, empty name, a directory, no permission) and one that cannot be held or read
// (read error, out of memory, longer than the caller's limit).

#include <cstddef>
#include <string>

namespace loader
{

enum class ReadStatus { Ok, NotOpened, NotRead };

struct WholeFile {
    ReadStatus status = ReadStatus::NotOpened;
    std::string data; // empty unless status is Ok
};

WholeFile ReadWholeFile(const std::string &fileName, std::size_t maxSize);

} // namespace loader
