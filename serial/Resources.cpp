#include "serial/Resources.h"

#include "serial/ApStringResource.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <stdexcept>

namespace serial
{

namespace
{

// The socket error texts (ids are the socket error numbers) for socket device layers; this
// program has none, so nothing reads them, but the list is complete for the numbers it holds.
std::vector<unsigned char> SocketErrorStrings()
{
    return PackStringList({
        {10004, "Interrupted function call."},
        {10009, "File handle is not valid."},
        {10013, "Permission denied."},
        {10014, "Bad address."},
        {10022, "Invalid argument."},
        {10024, "Too many open files."},
        {10035, "Resource temporarily unavailable."},
        {10036, "Operation now in progress."},
        {10037, "Operation already in progress."},
        {10038, "Socket operation on nonsocket."},
        {10039, "Destination address required."},
        {10040, "Message too long."},
        {10041, "Protocol wrong type for socket."},
        {10042, "Bad protocol option."},
        {10043, "Protocol not supported."},
        {10044, "Socket type not supported."},
        {10045, "Operation not supported."},
        {10046, "Protocol family not supported."},
        {10047, "Address family not supported by protocol family."},
        {10048, "Address already in use."},
        {10049, "Cannot assign requested address."},
        {10050, "Network is down."},
        {10051, "Network is unreachable."},
        {10052, "Network dropped connection on reset."},
        {10053, "Software caused connection abort."},
        {10054, "Connection reset by peer."},
        {10055, "No buffer space available."},
        {10056, "Socket is already connected."},
        {10057, "Socket is not connected."},
        {10058, "Cannot send after socket shutdown."},
        {10059, "Too many references."},
        {10060, "Connection timed out."},
        {10061, "Connection refused."},
        {10062, "Cannot translate name."},
        {10063, "Name too long."},
        {10064, "Host is down."},
        {10065, "No route to host."},
        {10066, "Directory not empty."},
        {10067, "Too many processes."},
        {10068, "User quota exceeded."},
        {10069, "Disk quota exceeded."},
        {10070, "Stale file handle reference."},
        {10071, "Item is remote."},
        {10091, "Network subsystem is unavailable."},
        {10092, "Winsock.dll version out of range."},
        {10093, "Successful WSAStartup not yet performed."},
        {10101, "Graceful shutdown in progress."},
        {11001, "Host not found."},
        {11002, "Nonauthoritative host not found."},
        {11003, "This is a nonrecoverable error."},
        {11004, "Valid name, no data record of requested type."},
    });
}

std::string Key(const std::string &name)
{
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return key;
}

ResourceLoader FixedBytes(std::vector<unsigned char> bytes)
{
    return [bytes = std::move(bytes)] { return LoadedResource{ResourceStatus::Ok, bytes}; };
}

// The registry, seeded with the compiled-in resources on first use (so their registration does
// not depend on the order of static initialisation).
class Registry
{
  public:
    static Registry &Instance()
    {
        static Registry registry;
        return registry;
    }

    void Set(const std::string &name, ResourceLoader loader)
    {
        std::lock_guard lock(mutex_);
        loaders_[Key(name)] = std::move(loader);
    }

    bool Remove(const std::string &name)
    {
        std::lock_guard lock(mutex_);
        return loaders_.erase(Key(name)) > 0;
    }

    LoadedResource Load(const std::string &name)
    {
        ResourceLoader loader;
        {
            std::lock_guard lock(mutex_);
            const auto found = loaders_.find(Key(name));
            if (found == loaders_.end())
                return {ResourceStatus::NotFound, {}};
            loader = found->second;
        }
        // Run outside the lock: a loader may itself look at the registry.
        return loader ? loader() : LoadedResource{ResourceStatus::CannotOpen, {}};
    }

  private:
    Registry()
    {
        loaders_[Key(AdStringsResource)] = FixedBytes(PackStringList({
            {1, StringNotFoundText},
            {2, ResourceNotFoundText},
            {3, CannotOpenResourceText},
            {4, CannotLockResourceText},
        }));
        loaders_[Key(SocketErrorStringsResource)] = FixedBytes(SocketErrorStrings());
    }

    std::mutex mutex_;
    std::map<std::string, ResourceLoader> loaders_;
};

} // namespace

void RegisterResource(const std::string &name, std::vector<unsigned char> bytes)
{
    Registry::Instance().Set(name, FixedBytes(std::move(bytes)));
}

void RegisterResourceLoader(const std::string &name, ResourceLoader loader)
{
    Registry::Instance().Set(name, std::move(loader));
}

bool UnregisterResource(const std::string &name)
{
    return Registry::Instance().Remove(name);
}

LoadedResource LoadRawResource(const std::string &name)
{
    return Registry::Instance().Load(name);
}

std::vector<unsigned char>
PackStringList(const std::vector<std::pair<uint16_t, std::string>> &entries)
{
    std::vector<unsigned char> bytes;
    for (const auto &[id, text] : entries) {
        if (text.empty() || text.find('\0') != std::string::npos)
            throw std::invalid_argument("string list texts must be non-empty and without NUL");
        bytes.push_back(static_cast<unsigned char>(id & 0xFF));
        bytes.push_back(static_cast<unsigned char>(id >> 8));
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    return bytes;
}

} // namespace serial
