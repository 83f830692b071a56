#include "bench/terminal_throughput/Streams.h"

#include <random>

namespace termbench
{

namespace
{

std::string Word(std::mt19937 &rng, size_t maxLength)
{
    std::uniform_int_distribution<size_t> length(1, maxLength < 8 ? maxLength : 8);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::string word(length(rng), ' ');
    for (char &c : word)
        c = static_cast<char>(letter(rng));
    return word;
}

} // namespace

std::string PlainStream(size_t bytes, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string out;
    out.reserve(bytes + 81);
    while (out.size() < bytes) {
        std::string line;
        while (line.size() < 79) {
            if (!line.empty())
                line += ' ';
            if (line.size() < 79)
                line += Word(rng, 79 - line.size());
        }
        out += line;
        out += "\r\n";
    }
    out.resize(bytes);
    return out;
}

std::string ColourStream(size_t bytes, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> bold(0, 1);
    std::uniform_int_distribution<int> colour(30, 37);
    std::string out;
    out.reserve(bytes + 256);
    while (out.size() < bytes) {
        for (int i = 0; i < 8; ++i) {
            out += "\x1b[" + std::to_string(bold(rng)) + ";" + std::to_string(colour(rng)) + "m";
            out += Word(rng, 8);
            out += "\x1b[0m ";
        }
        out += "\r\n";
    }
    out.resize(bytes);
    return out;
}

std::string CursorStream(size_t bytes, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> row(1, 25);
    std::uniform_int_distribution<int> column(1, 60);
    std::string out;
    out.reserve(bytes + 64);
    while (out.size() < bytes) {
        out += "\x1b[" + std::to_string(row(rng)) + ";" + std::to_string(column(rng)) + "H";
        out += Word(rng, 8);
        out += "\x1b[K";
    }
    out.resize(bytes);
    return out;
}

} // namespace termbench
