#pragma once
// TApStringResource reads texts by id from a string-list resource (see PackStringList for the
// layout). Each lookup walks the list unless the text is cached; found texts go into a cache of
// up to 50 entries, and a full cache drops its oldest entries until fewer than 45 remain. A
// missing id gives an empty text, or raises EApStringResourceError when the reader complains.
// The resource is read on the first lookup. Used from one thread at a time.

#include "serial/ApdExcept.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace serial
{

// The reader's own texts; they are also entries 1 to 4 of the "ADSTRES_STRINGS" list.
inline constexpr const char *StringNotFoundText = "String not found: %d";
inline constexpr const char *ResourceNotFoundText = "String resource not found: %s";
inline constexpr const char *CannotOpenResourceText = "Unable to open string resource: %s";
inline constexpr const char *CannotLockResourceText = "Cannot lock resource";

class TApStringResource
{
  public:
    static constexpr std::size_t MaxCached = 50;
    static constexpr std::size_t CachedAfterTrim = 44; // "fewer than 45"

    explicit TApStringResource(std::string resourceName);

    const std::string &ResourceName() const { return resourceName_; }
    // Switches to another resource: the next lookup reads it afresh, with an empty cache.
    void SetResourceName(std::string resourceName);

    bool Complain() const { return complain_; }
    void SetComplain(bool complain) { complain_ = complain; }

    // The text with this id. Raises EApStringResourceError when the resource cannot be read, and
    // when the id is missing and the reader complains.
    std::string GetString(int id);

    // For inspection: what the cache holds and how often a lookup had to walk the list.
    std::size_t CacheCount() const { return cache_.size(); }
    bool IsCached(int id) const;
    uint64_t ListWalks() const { return listWalks_; }

  private:
    void Load();
    std::optional<std::string> FindInList(int id);
    void Remember(int id, const std::string &text);

    std::string resourceName_;
    bool complain_ = false;
    bool loaded_ = false;
    std::vector<unsigned char> bytes_;
    std::deque<std::pair<int, std::string>> cache_; // oldest first
    uint64_t listWalks_ = 0;
};

// The program's two readers, on "ADSTRES_STRINGS" and on "APROSOCK_ERROR_STRINGS_ENGLISH";
// the program makes one at start and both readers go with it at exit.
class StringResourceReaders
{
  public:
    StringResourceReaders();

    TApStringResource &Strings() { return *strings_; }
    TApStringResource &SocketErrorStrings() { return *socketErrorStrings_; }

  private:
    std::unique_ptr<TApStringResource> strings_;
    std::unique_ptr<TApStringResource> socketErrorStrings_;
};

} // namespace serial
