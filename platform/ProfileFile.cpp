#include "platform/ProfileFile.h"

#include "platform/TextEncoding.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform
{
namespace
{

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string &s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && (IsBlank(s[e - 1]) || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

bool SameText(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z')
            ca -= 32;
        if (cb >= 'a' && cb <= 'z')
            cb -= 32;
        if (ca != cb)
            return false;
    }
    return true;
}

struct Lines {
    std::vector<std::string> text; // without line ends
    std::string eol = "\n";        // the file's own line end, kept on write
    bool finalEol = true;
};

// What one read of the file found. A missing file reads as empty; any other file that cannot be
// read whole as 8-bit text is refused, with the reason.
struct FileText {
    bool present = false;
    std::string refusal;
    std::string text; // decoded; empty unless the file was read
    TextForm form = TextForm::Bytes;

    bool Readable() const { return present && refusal.empty(); }
};

FileText ReadText(const std::string &fileName)
{
    FileText file;
    // Non-blocking, so that a FIFO or a device in the file's place cannot hold the program up.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        file.present = errno != ENOENT && errno != ENOTDIR;
        if (file.present)
            file.refusal = std::strerror(errno);
        return file;
    }
    file.present = true;
    struct stat info {
    };
    std::string bytes;
    if (::fstat(fd, &info) != 0) {
        file.refusal = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        file.refusal = "not a regular file";
    } else {
        // Reads of a regular file ignore O_NONBLOCK.
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                file.refusal = std::strerror(errno);
            if (n <= 0)
                break;
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (!file.refusal.empty())
        return file;
    DecodedText decoded = DecodeText(bytes);
    file.refusal = std::move(decoded.error);
    file.text = std::move(decoded.text);
    file.form = decoded.form;
    return file;
}

Lines Split(const std::string &content)
{
    Lines lines;
    if (content.find("\r\n") != std::string::npos)
        lines.eol = "\r\n";
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t nl = content.find('\n', start);
        if (nl == std::string::npos) {
            lines.text.push_back(content.substr(start));
            lines.finalEol = false;
            break;
        }
        std::size_t end = nl;
        if (end > start && content[end - 1] == '\r')
            --end;
        lines.text.push_back(content.substr(start, end - start));
        start = nl + 1;
    }
    return lines;
}

// Returns the section name when the line is a section header.
std::optional<std::string> SectionOf(const std::string &line)
{
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return std::nullopt;
    std::size_t close = t.find(']');
    if (close == std::string::npos)
        return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

// Splits "key = value" into trimmed parts; false for lines without an equals sign or comments.
bool KeyValueOf(const std::string &line, std::string &key, std::string &value)
{
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';')
        return false;
    std::size_t eq = t.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

std::optional<std::string> Lookup(const Lines &lines, const std::string &section,
                                  const std::string &key)
{
    bool inSection = false;
    for (const auto &line : lines.text) {
        if (auto s = SectionOf(line)) {
            inSection = SameText(*s, Trim(section));
            continue;
        }
        std::string k, v;
        if (inSection && KeyValueOf(line, k, v) && SameText(k, Trim(key)))
            return v;
    }
    return std::nullopt;
}

std::string Unquote(std::string v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > MaxProfileValue)
        v.resize(MaxProfileValue);
    return v;
}

bool WriteAll(int fd, const std::string &data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces an existing file by writing the new content beside it and renaming it over the old
// one, so a full disk or a size limit never leaves a configuration cut short. A file we may not
// write stays unwritten; a new file, or one in a folder we cannot create files in, is written
// directly.
bool WriteReplacing(const std::string &fileName, const std::string &content)
{
    struct stat st {
    };
    const bool exists = ::stat(fileName.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || ::access(fileName.c_str(), W_OK) != 0))
        return false;

    std::string temp = fileName + ".XXXXXX";
    int fd = exists ? ::mkstemp(temp.data()) : -1;
    if (fd >= 0) {
        bool ok =
            ::fchmod(fd, st.st_mode & 07777) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        if (ok && ::rename(temp.c_str(), fileName.c_str()) == 0)
            return true;
        ::unlink(temp.c_str());
        if (!ok)
            return false;
    }
    fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool ok = WriteAll(fd, content);
    return (::close(fd) == 0) && ok;
}

} // namespace

bool ParseProfileInteger(const std::string &raw, int32_t &value)
{
    std::string text = Trim(raw);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (text.size() > 2 && text.size() - i > 2 && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    int64_t acc = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        acc = acc * base + digit;
        // Hexadecimal may use all 32 bits (as "$FFFFFFFF" for -1); decimal must fit a signed value.
        if (acc > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL))
            return false;
    }
    if (base == 10 && !negative && acc > 0x7FFFFFFFLL)
        return false;
    auto bits = static_cast<uint32_t>(acc);
    value = static_cast<int32_t>(negative ? 0u - bits : bits);
    return true;
}

std::string TIniFile::ReadString(const std::string &section, const std::string &key,
                                 const std::string &defaultValue) const
{
    auto v = Lookup(Split(ReadText(fileName_).text), section, key);
    return v ? Unquote(*v) : defaultValue.substr(0, MaxProfileValue);
}

int32_t TIniFile::ReadInteger(const std::string &section, const std::string &key,
                              int32_t defaultValue) const
{
    int32_t value = 0;
    return ParseProfileInteger(ReadString(section, key, ""), value) ? value : defaultValue;
}

bool TIniFile::ValueExists(const std::string &section, const std::string &key) const
{
    return Lookup(Split(ReadText(fileName_).text), section, key).has_value();
}

bool TIniFile::ReadSectionValues(const std::string &section,
                                 std::vector<std::pair<std::string, std::string>> &values) const
{
    values.clear();
    const FileText file = ReadText(fileName_);
    if (!file.Readable())
        return false;
    bool inSection = false;
    for (const auto &line : Split(file.text).text) {
        if (auto s = SectionOf(line)) {
            inSection = SameText(*s, Trim(section));
            continue;
        }
        std::string k, v;
        if (!inSection || !KeyValueOf(line, k, v))
            continue;
        // The first entry of a key is the one a lookup finds.
        bool seen = false;
        for (const auto &known : values)
            seen = seen || SameText(known.first, k);
        if (!seen)
            values.emplace_back(k, Unquote(v));
    }
    return true;
}

bool TIniFile::ReadSectionKeys(const std::string &section, std::vector<std::string> &keys) const
{
    std::vector<std::pair<std::string, std::string>> values;
    keys.clear();
    if (!ReadSectionValues(section, values))
        return false;
    for (auto &entry : values)
        keys.push_back(std::move(entry.first));
    return true;
}

bool SameProfileName(const std::string &a, const std::string &b)
{
    return SameText(Trim(a), Trim(b));
}

void TIniFile::WriteString(const std::string &section, const std::string &key,
                           const std::string &value)
{
    // A file that is there but refused is left alone rather than replaced by the one entry.
    const FileText file = ReadText(fileName_);
    if (!file.refusal.empty())
        throw EIniFileException("Unable to write to " + fileName_);
    Lines lines = Split(file.text);
    const std::string entry = Trim(key) + "=" + value;

    bool inSection = false, sectionFound = false, done = false;
    std::size_t insertAt = 0; // after the last key line of the section
    for (std::size_t i = 0; i < lines.text.size() && !done; ++i) {
        if (auto s = SectionOf(lines.text[i])) {
            if (inSection)
                break;
            inSection = SameText(*s, Trim(section));
            if (inSection) {
                sectionFound = true;
                insertAt = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        std::string k, v;
        if (KeyValueOf(lines.text[i], k, v)) {
            if (SameText(k, Trim(key))) {
                lines.text[i] = entry;
                done = true;
            }
            insertAt = i + 1;
        } else if (!Trim(lines.text[i]).empty()) {
            insertAt = i + 1;
        }
    }
    if (!done && sectionFound) {
        lines.text.insert(lines.text.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
    } else if (!done) {
        if (!lines.text.empty() && !Trim(lines.text.back()).empty())
            lines.text.push_back("");
        lines.text.push_back("[" + Trim(section) + "]");
        lines.text.push_back(entry);
    }

    std::string out;
    for (std::size_t i = 0; i < lines.text.size(); ++i) {
        out += lines.text[i];
        if (i + 1 < lines.text.size() || lines.finalEol || !done)
            out += lines.eol;
    }
    if (!WriteReplacing(fileName_, EncodeText(out, file.form)))
        throw EIniFileException("Unable to write to " + fileName_);
}

void TIniFile::DeleteKey(const std::string &section, const std::string &key)
{
    const FileText file = ReadText(fileName_);
    if (!file.Readable())
        return;
    Lines lines = Split(file.text);
    bool inSection = false, removed = false;
    for (std::size_t i = 0; i < lines.text.size(); ++i) {
        if (auto s = SectionOf(lines.text[i])) {
            inSection = SameText(*s, Trim(section));
            continue;
        }
        std::string k, v;
        if (inSection && KeyValueOf(lines.text[i], k, v) && SameText(k, Trim(key))) {
            lines.text.erase(lines.text.begin() + static_cast<std::ptrdiff_t>(i--));
            removed = true;
        }
    }
    if (!removed)
        return;
    std::string out;
    for (std::size_t i = 0; i < lines.text.size(); ++i) {
        out += lines.text[i];
        if (i + 1 < lines.text.size() || lines.finalEol)
            out += lines.eol;
    }
    if (!WriteReplacing(fileName_, EncodeText(out, file.form)))
        throw EIniFileException("Unable to write to " + fileName_);
}

std::string TIniFile::Refusal() const
{
    return ReadText(fileName_).refusal;
}

void TIniFile::WriteInteger(const std::string &section, const std::string &key, int32_t value)
{
    WriteString(section, key, std::to_string(value));
}

} // namespace platform
