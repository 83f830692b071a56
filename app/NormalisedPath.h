#pragma once
// Names given on the command line are taken from the folder the program was started in, although
// the main window then moves the working directory to "Default Path".

#include <string>

namespace loader
{

// `path` made absolute from the current directory and free of "." and ".." parts, naming the
// same file: where a ".." follows a symbolic link, the link is resolved instead (and a ".."
// after a folder that does not exist cancels that folder by name).
std::string NormalisedPath(const std::string &path);

} // namespace loader
