#pragma once
// A pseudo terminal for serial tests: the test holds the master side and plays the device; the
// code under test opens SlavePath() like any serial device.

#include <chrono>
#include <string>
#include <termios.h>

namespace testsupport
{

class PseudoTerminal
{
  public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool Valid() const { return master_ >= 0; }
    const std::string &SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

    // Bytes the device sends to the program.
    void Write(const std::string &bytes);
    // Bytes the program sent: waits until count bytes came or the limit passed.
    std::string Read(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // The line settings the program gave the device.
    termios SlaveTermios() const;
    // Hangs up: the program's side sees the device vanish.
    void CloseMaster();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

} // namespace testsupport
