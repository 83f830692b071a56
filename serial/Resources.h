#pragma once
// Raw-data resources: byte tables registered by name and read whole. The program's own are
// compiled in; further ones can be registered at run time, either as fixed bytes or through a
// loader that produces them on demand and may fail. Names match without regard to ASCII case.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace serial
{

enum class ResourceStatus {
    Ok,
    NotFound,   // no resource of that name
    CannotOpen, // registered, but its bytes could not be produced
    CannotLock, // produced, but gave no readable memory
};

struct LoadedResource {
    ResourceStatus status = ResourceStatus::NotFound;
    std::vector<unsigned char> bytes;
};

using ResourceLoader = std::function<LoadedResource()>;

// Registering a name again replaces the earlier resource.
void RegisterResource(const std::string &name, std::vector<unsigned char> bytes);
void RegisterResourceLoader(const std::string &name, ResourceLoader loader);
bool UnregisterResource(const std::string &name);

// Reads the whole resource; status NotFound when the name is not registered.
LoadedResource LoadRawResource(const std::string &name);

// A string list as the string-list reader expects it: per entry a 16-bit little-endian id and the
// text with a terminating NUL. Texts must be non-empty and free of NULs (an empty text would end
// the list); std::invalid_argument otherwise.
std::vector<unsigned char>
PackStringList(const std::vector<std::pair<uint16_t, std::string>> &entries);

// The compiled-in string lists.
inline constexpr const char *AdStringsResource = "ADSTRES_STRINGS";
inline constexpr const char *SocketErrorStringsResource = "APROSOCK_ERROR_STRINGS_ENGLISH";

} // namespace serial
