#include "serial/ApStringResource.h"

#include "serial/Resources.h"

#include <algorithm>

namespace serial
{

namespace
{

// Fills the one placeholder (%d or %s) of a reader text.
std::string Fill(std::string text, const std::string &value)
{
    const auto at = text.find('%');
    if (at != std::string::npos && at + 1 < text.size())
        text.replace(at, 2, value);
    return text;
}

} // namespace

TApStringResource::TApStringResource(std::string resourceName)
    : resourceName_(std::move(resourceName))
{
}

void TApStringResource::SetResourceName(std::string resourceName)
{
    resourceName_ = std::move(resourceName);
    loaded_ = false;
    bytes_.clear();
    cache_.clear();
}

std::string TApStringResource::GetString(int id)
{
    if (!loaded_)
        Load();

    const auto cached = std::find_if(cache_.begin(), cache_.end(),
                                     [id](const auto &entry) { return entry.first == id; });
    if (cached != cache_.end())
        return cached->second;

    if (auto text = FindInList(id)) {
        Remember(id, *text);
        return *text;
    }
    if (complain_)
        throw EApStringResourceError(Fill(StringNotFoundText, std::to_string(id)));
    return {};
}

bool TApStringResource::IsCached(int id) const
{
    return std::any_of(cache_.begin(), cache_.end(),
                       [id](const auto &entry) { return entry.first == id; });
}

void TApStringResource::Load()
{
    LoadedResource resource = LoadRawResource(resourceName_);
    switch (resource.status) {
    case ResourceStatus::Ok:
        bytes_ = std::move(resource.bytes);
        loaded_ = true;
        return;
    case ResourceStatus::NotFound:
        throw EApStringResourceError(Fill(ResourceNotFoundText, resourceName_));
    case ResourceStatus::CannotOpen:
        throw EApStringResourceError(Fill(CannotOpenResourceText, resourceName_));
    case ResourceStatus::CannotLock:
        break;
    }
    throw EApStringResourceError(CannotLockResourceText);
}

// Walks the list from its start. The list ends at an entry with an empty text, at the end of the
// bytes, or at an entry that does not fit in them (a partial id or a text without its NUL):
// nothing past the resource's end is read.
std::optional<std::string> TApStringResource::FindInList(int id)
{
    ++listWalks_;
    const std::size_t size = bytes_.size();
    std::size_t pos = 0;
    while (size - pos >= 2) {
        const int entryId = bytes_[pos] | (bytes_[pos + 1] << 8);
        const auto textBegin = bytes_.begin() + static_cast<std::ptrdiff_t>(pos + 2);
        const auto textEnd = std::find(textBegin, bytes_.end(), 0);
        if (textEnd == bytes_.end() || textEnd == textBegin)
            break;
        if (entryId == id)
            return std::string(textBegin, textEnd);
        pos = static_cast<std::size_t>(textEnd - bytes_.begin()) + 1;
    }
    return std::nullopt;
}

void TApStringResource::Remember(int id, const std::string &text)
{
    if (cache_.size() >= MaxCached) {
        while (cache_.size() > CachedAfterTrim)
            cache_.pop_front();
    }
    cache_.emplace_back(id, text);
}

StringResourceReaders::StringResourceReaders()
    : strings_(std::make_unique<TApStringResource>(AdStringsResource)),
      socketErrorStrings_(std::make_unique<TApStringResource>(SocketErrorStringsResource))
{
}

} // namespace serial
