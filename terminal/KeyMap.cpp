#include "terminal/KeyMap.h"

#include "platform/ProfileFile.h"
#include "serial/ErrorCodes.h"

#include <limits.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace terminal
{
namespace
{

const char *const IndexSection = "Index";
const char *const DefaultsSection = "Defaults";
const char *const EntriesKey = "_Entries";
const char *const PresentMark = "#";

// Anything in the name's place, a FIFO or a folder included: such a file is refused, never
// replaced by a map found elsewhere or by a new one.
bool PathExists(const std::string &name)
{
    struct stat st {
    };
    return ::stat(name.c_str(), &st) == 0;
}

using Values = std::vector<std::pair<std::string, std::string>>;

const std::string *Find(const Values &values, const std::string &key)
{
    for (const auto &[k, v] : values)
        if (platform::SameProfileName(k, key))
            return &v;
    return nullptr;
}

bool IsKeyField(const std::string &name, int &number)
{
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "Key") != 0 || name[3] == '0')
        return false;
    number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= KeyMapEntries;
}

} // namespace

int TKeyMapFields::Add(const std::string &name, std::size_t size, bool numeric, bool index)
{
    if (name.size() > MaxFieldName)
        return serial::ecKeyTooLong;
    if ((index && size > MaxIndexField) || size > MaxRecordSize - total_)
        return serial::ecDataTooLarge;
    fields_.push_back({name, size, numeric, index});
    total_ += size;
    return serial::ecOK;
}

int TKeyMapFields::Check() const
{
    if (fields_.empty())
        return serial::ecNoFieldsDefined;
    for (const auto &f : fields_)
        if (f.Index)
            return serial::ecOK;
    return serial::ecNoIndexKey;
}

TKeyMapFields TKeyMapFields::Standard()
{
    TKeyMapFields fields;
    fields.Add("EMULATOR", MaxEmulationName, false, true);
    for (int n = 1; n <= KeyMapEntries; ++n)
        fields.Add("Key" + std::to_string(n), MaxKeySequence);
    return fields;
}

TKeyEntry ParseKeyDefinition(const std::string &value, bool &invalid)
{
    invalid = false;
    TKeyEntry entry;
    const auto first = value.find(',');
    if (first == std::string::npos)
        return entry;
    const std::string rest = value.substr(first + 1);
    const auto second = rest.find(',');
    const std::string shift = second == std::string::npos ? "" : rest.substr(0, second);
    int32_t code = 0, state = 0;
    if (!platform::ParseProfileInteger(value.substr(0, first), code) || code < 0 || code > 255 ||
        (!shift.empty() && (!platform::ParseProfileInteger(shift, state) || state < INT16_MIN ||
                            state > INT16_MAX))) {
        invalid = true;
        return entry;
    }
    entry.Defined = true;
    entry.KeyCode = static_cast<int16_t>(code);
    entry.ShiftState = static_cast<int16_t>(state);
    entry.Sequence = second == std::string::npos ? rest : rest.substr(second + 1);
    if (entry.Sequence.size() > MaxKeySequence)
        entry.Sequence.resize(MaxKeySequence);
    return entry;
}

int TKeyMap::Open(const std::string &fileName, const TKeyMapFields &fields)
{
    Close();
    refusal_.clear();
    try {
        const int rc = OpenFile(fileName, fields);
        if (rc < 0)
            Close();
        return rc;
    } catch (const std::bad_alloc &) {
        Close();
        return serial::ecOutOfMemory;
    }
}

int TKeyMap::OpenFile(const std::string &fileName, const TKeyMapFields &fields)
{
    if (const int rc = fields.Check(); rc < 0)
        return rc;
    fields_ = fields.Fields();

    fileName_ = fileName;
    if (!PathExists(fileName_) && fileName_.find('/') == std::string::npos) {
        // A bare name may also be a map installed beside the program.
        const std::string installed = ProgramFolder() + "/" + fileName_;
        if (!ProgramFolder().empty() && PathExists(installed))
            fileName_ = installed;
    }

    platform::TIniFile ini(fileName_);
    if (std::string refusal = ini.Refusal(); !refusal.empty()) {
        refusal_ = fileName_ + ": " + refusal;
        return serial::ecIniRead;
    }
    defaults_.assign(fields_.size(), std::string());
    if (PathExists(fileName_)) {
        entryCount_ = ini.ReadInteger(DefaultsSection, EntriesKey, 0);
        Values defaults;
        ini.ReadSectionValues(DefaultsSection, defaults);
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            const auto &f = fields_[i];
            if (f.Index)
                continue;
            const std::string *value = Find(defaults, f.Name);
            int32_t number = 0;
            if (!f.Numeric)
                defaults_[i] = value ? *value : std::string();
            else
                defaults_[i] = std::to_string(
                    value && platform::ParseProfileInteger(*value, number) ? number : 0);
        }
    } else {
        try {
            ini.WriteString(IndexSection, "None", "");
            ini.DeleteKey(IndexSection, "None");
            ini.WriteInteger(DefaultsSection, EntriesKey, entryCount_);
        } catch (const platform::EIniFileException &) {
            return serial::ecIniWrite;
        }
    }
    open_ = true;
    return serial::ecOK;
}

void TKeyMap::Close()
{
    open_ = false;
    fileName_.clear();
    fields_.clear();
    defaults_.clear();
    entryCount_ = 0;
    emulation_.clear();
    keys_ = {};
    invalidKeys_.clear();
}

int TKeyMap::EmulationNames(std::vector<std::string> &names) const
{
    names.clear();
    if (!open_)
        return serial::ecDatabaseNotPrepared;
    if (entryCount_ == 0)
        return serial::ecDatabaseEmpty;
    platform::TIniFile ini(fileName_);
    Values index;
    if (!ini.ReadSectionValues(IndexSection, index) || index.empty())
        return serial::ecIniRead;
    std::size_t used = 0;
    for (const auto &[key, value] : index) {
        if (value != PresentMark)
            continue;
        // Each name takes its length plus a separator; a name that does not fit whole is left out.
        if (used + key.size() + 1 > EmulationNamesSize - 2)
            break;
        used += key.size() + 1;
        names.push_back(key);
    }
    return serial::ecOK;
}

int TKeyMap::LoadEmulation(const std::string &name)
{
    if (!open_)
        return serial::ecDatabaseNotPrepared;
    platform::TIniFile ini(fileName_);
    if (!name.empty() && ini.ReadString(IndexSection, name, "") != PresentMark)
        return serial::ecRecordNotFound;

    emulation_ = name.substr(0, MaxEmulationName);
    keys_ = {};
    invalidKeys_.clear();
    if (name.empty())
        return serial::ecOK;
    Values section;
    ini.ReadSectionValues(name, section);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const auto &f = fields_[i];
        int number = 0;
        if (f.Index || f.Numeric || !IsKeyField(f.Name, number))
            continue;
        const std::string *found = Find(section, f.Name);
        std::string value = found ? *found : defaults_[i];
        if (value == PresentMark)
            value.clear();
        bool invalid = false;
        keys_[number - 1] = ParseKeyDefinition(value, invalid);
        if (invalid)
            invalidKeys_.push_back(f.Name);
    }
    return serial::ecOK;
}

void TKeyMap::Translate(uint16_t k, TKeyRecord &record) const
{
    record.Handled = false;
    record.SetSequence({});
    record.KeyCode = k;
    record.ShiftFlags = ShiftStateOf(record);
    if (k == vkShift || k == vkControl || k == vkMenu || k == vkCapital || k == vkNumLock)
        return;
    const bool extended = (k >= vkPrior && k <= vkDown) || (k >= vkF1 && k <= vkF12);
    if (extended && !ProcessExtended)
        return;
    const bool typing = (k >= '0' && k <= '9') || (k >= 'A' && k <= 'Z');
    if (typing && !ProcessAllKeys)
        return;
    for (const auto &entry : keys_) {
        if (entry.Defined && entry.KeyCode == k && entry.ShiftState == record.ShiftFlags) {
            record.Handled = true;
            record.SetSequence(entry.Sequence);
        }
    }
}

void TKeyMap::TranslateProc(const void *context, uint16_t virtualKey, TKeyRecord &record)
{
    static_cast<const TKeyMap *>(context)->Translate(virtualKey, record);
}

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string exe(path, static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : exe.substr(0, slash);
}

} // namespace terminal
