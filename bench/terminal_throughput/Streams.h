#pragma once
// The byte streams the terminal throughput benchmark feeds through the screen buffer.

#include <cstddef>
#include <string>

namespace termbench
{

// Lines of random lower-case words, 79 characters and CR LF each.
std::string PlainStream(size_t bytes, unsigned seed);
// Lines of eight words, each behind ESC [ 0|1 ; 30..37 m and followed by ESC [ 0 m and a blank.
std::string ColourStream(size_t bytes, unsigned seed);
// ESC [ row ; column H (rows 1..25, columns 1..60), a word, ESC [ K, over and over.
std::string CursorStream(size_t bytes, unsigned seed);

} // namespace termbench
