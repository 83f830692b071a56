#pragma once
// Reads a file whole into memory. The two ways to fail are told apart: a file that cannot be
// opened (missing, empty name, no permission, or anything but a regular file: a directory, a
// FIFO, a device) and one that cannot be held or read (read error, out of memory, longer than
// the caller's limit). Opening never waits: a FIFO without a writer or a device is refused at
// once rather than blocking the caller or being read without end.

#include <cstddef>
#include <string>

namespace loader
{

enum class ReadStatus { Ok, NotOpened, NotRead };

struct WholeFile {
    ReadStatus status = ReadStatus::NotOpened;
    std::string data;   // empty unless status is Ok
    std::string reason; // why it failed, as the system puts it; empty when status is Ok
};

WholeFile ReadWholeFile(const std::string &fileName, std::size_t maxSize);

} // namespace loader
