#pragma once
// The simulator's end of the line: a pseudo terminal whose slave device is reached through a
// symbolic link, so the host opens the link path like a serial port.
//
// The simulator keeps a slave descriptor of its own open the whole time. Without it the master
// would see a hang-up each time the host closes. Host opens and closes are followed through inotify
// on the slave device, so the simulator still learns when the host has gone.

#include <cstddef>
#include <string>

namespace devsim
{

class PtyLink
{
  public:
    // Creates the pseudo terminal (raw, 8 bits) and points `linkPath` at its slave, replacing an
    // existing symbolic link there. Refuses to replace anything that is not a symbolic link.
    // Throws std::system_error or std::runtime_error.
    explicit PtyLink(std::string linkPath);
    // Removes the link if it still points at this simulator's slave.
    ~PtyLink();
    PtyLink(const PtyLink &) = delete;
    PtyLink &operator=(const PtyLink &) = delete;

    int Master() const { return master_; }
    // Readable when hosts opened or closed the slave; -1 when opens cannot be followed.
    int OpenWatch() const { return watch_; }
    const std::string &SlavePath() const { return slavePath_; }
    const std::string &LinkPath() const { return linkPath_; }

    struct OpenNotices {
        bool opened = false;     // a host opened the slave
        bool lastClosed = false; // the last host closed it
    };
    OpenNotices ReadOpenNotices();
    int HostOpens() const { return hostOpens_; }

    // Stops or restarts the host's output, as a device does by lowering and raising CTS.
    void HoldHost(bool hold);
    bool HostHeld() const { return held_; }

    // After the last host closed: lift any hold so the next host's output flows.
    void ResetForNextHost();
    // Drops bytes sent towards the host that no host read.
    void DropUnreadReplies();
    // Bytes sent towards the host that no host has read yet. Bytes just written to the master
    // join this count a moment later, when the kernel has handed them on to the slave.
    std::size_t UnreadReplies() const;
    // Appends what the host has written, until nothing more is there or `into` holds `limit`
    // bytes.
    void ReadHost(std::string &into, std::size_t limit = std::string::npos);

  private:
    std::string linkPath_;
    std::string slavePath_;
    int master_ = -1;
    int keeper_ = -1;
    int watch_ = -1;
    int hostOpens_ = 0;
    bool held_ = false;
};

} // namespace devsim
