#pragma once
// A fresh directory per test, made current while the guard lives and removed afterwards.

#include <string>

namespace testsupport
{

class TempDir
{
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &Path() const { return path_; }
    std::string File(const std::string &name) const { return path_ + "/" + name; }
    void Write(const std::string &name, const std::string &content) const;
    std::string Read(const std::string &name) const;

    // Makes the directory current until the guard ends.
    void Enter();

  private:
    std::string path_;
    std::string previous_;
};

} // namespace testsupport
