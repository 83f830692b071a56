#pragma once
// A runtime folder for a session that has none. Qt keeps its runtime files in $XDG_RUNTIME_DIR
// and, when a session (cron, ssh, a service) lacks it, warns on standard error at every start.
// Batch mode's standard error carries the run's messages, so the program provides a private
// folder of its own before the application object exists.

#include <string>

namespace platform
{

// Makes `path` a folder of the effective user's alone (mode 0700), creating it when missing.
// False when that cannot be made safe: the name is taken by something else than a directory (a
// symbolic link planted there is refused, never followed) or by another user's directory.
bool MakePrivateFolder(const std::string &path);

// While it lives, XDG_RUNTIME_DIR names a usable folder. When the variable is unset or empty it
// is set to "loader-runtime-<uid>" under $TMPDIR (an absolute one) or /tmp; when that name is
// unsafe (see MakePrivateFolder), to a fresh folder of a unique name, which is removed again
// at the end if it is empty. A variable already set is left alone.
class TRuntimeFolder
{
  public:
    TRuntimeFolder();
    ~TRuntimeFolder();
    TRuntimeFolder(const TRuntimeFolder &) = delete;
    TRuntimeFolder &operator=(const TRuntimeFolder &) = delete;

    // The folder provided here; empty when the variable was set already or nothing could be made.
    const std::string &Path() const { return path_; }

  private:
    std::string path_;
    bool fresh_ = false;
};

} // namespace platform
