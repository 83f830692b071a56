#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace testsupport
{

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "loader-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir()
{
    if (!previous_.empty())
        std::filesystem::current_path(previous_);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempDir::Write(const std::string &name, const std::string &content) const
{
    std::ofstream(File(name), std::ios::binary) << content;
}

std::string TempDir::Read(const std::string &name) const
{
    std::ifstream in(File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TempDir::Enter()
{
    if (previous_.empty())
        previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
}

} // namespace testsupport
