#pragma once
// One port's part in a gang: its own link and upload engine with the settings of loader.ini and
// the same script as every other port, its own log, and its boxes handed to its owner (which
// answers them without a screen) while the box that ended the run is kept as the reason.

#include "app/LoaderSettings.h"
#include "app/UploadEngine.h"
#include "link/LinkServices.h"

#include <cstdint>
#include <memory>
#include <string>

namespace loader
{

struct PortRunSetup {
    std::string name;       // as the operator named it: "COM3", "/dev/ttyUSB3"
    uint16_t comNumber = 0; // the port's number, or 0 for a device path
    std::string deviceName; // the device path, or empty for a number
    std::string logFile;    // "loader-COM3.log"
};

class TPortRun
{
  public:
    // `boxes` answers every box of this port; the run keeps the text of its last error box.
    TPortRun(PortRunSetup setup, const LoaderSettings &settings, TMessageSink boxes);
    ~TPortRun();
    TPortRun(const TPortRun &) = delete;
    TPortRun &operator=(const TPortRun &) = delete;

    // Reads the link's settings from loader.ini and opens the port; false when it did not open,
    // with the reason (the box and the device's own reason) kept.
    bool Open();
    // Starts the run with the engine's script; false when none started (a script that cannot be
    // read: its box is the reason).
    bool Start();
    // Cancels a running run at once: its transfer is abandoned, its output discarded.
    void Cancel();
    // The end: no further step, the log closed, upload mode off and the port closed.
    void Close();

    const PortRunSetup &Setup() const { return setup_; }
    TUploadEngine &Engine() { return *engine_; }
    TLinkServices &Link() { return *link_; }
    bool Running() const { return engine_->Running(); }
    // Whether an error box was shown for this port (or its port did not open), and the text
    // that tells why on one line.
    bool Failed() const { return failed_; }
    const std::string &Reason() const { return reason_; }

  private:
    platform::MsgResult Answer(platform::MsgType type, const std::string &text,
                               platform::MsgButtons buttons);

    PortRunSetup setup_;
    std::string iniFileName_;
    TMessageSink boxes_;
    std::unique_ptr<TUploadEngine> engine_;
    std::unique_ptr<TLinkServices> link_;
    bool failed_ = false;
    std::string reason_;
};

// A box's text on one line: every line break (CR, CR LF, LF) becomes one space.
std::string OneLine(const std::string &text);

} // namespace loader
