#include "Platform/DefaultsDocument.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pallix::defaultsfile {

namespace {

using Status = ReadResult::Status;

ReadResult failure(Status status, std::string error)
{
    ReadResult r;
    r.status = status;
    r.error = std::move(error);
    return r;
}

// The bytes of a regular file, or why not. O_NONBLOCK: a FIFO in the file's
// place must not hang the start; it is refused by its type right after.
std::variant<std::string, ReadResult> readBytes(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        // A folder on the way that is a file: no document can be there either.
        return errno == ENOENT || errno == ENOTDIR ? ReadResult{} : failure(Status::Unreadable, std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return failure(Status::Unreadable, S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "不是普通文件");
    }
    if (static_cast<std::size_t>(info.st_size) > kMaxFileBytes) {
        ::close(fd);
        return failure(Status::Corrupt, "文件过大");
    }
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return failure(Status::Unreadable, std::strerror(err));
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

// One member of the top-level object, as texts not yet interpreted.
struct Member {
    std::string_view key;    // with its quotes
    std::string_view value;
};

class MemberScanner {
public:
    explicit MemberScanner(std::string_view text) : m_text(text) {}

    // The members, or nothing when the text is not one object, or nests
    // deeper than kMaxDepth (reported through tooDeep()).
    std::optional<std::vector<Member>> members()
    {
        std::vector<Member> out;
        skipSpace();
        if (!take('{'))
            return std::nullopt;
        skipSpace();
        if (take('}'))
            return finished(out);
        for (;;) {
            skipSpace();
            const std::size_t keyStart = m_pos;
            if (peek() != '"' || !skipString())
                return std::nullopt;
            const std::string_view key = m_text.substr(keyStart, m_pos - keyStart);
            skipSpace();
            if (!take(':'))
                return std::nullopt;
            skipSpace();
            const std::size_t valueStart = m_pos;
            if (!skipValue())
                return std::nullopt;
            out.push_back({key, m_text.substr(valueStart, m_pos - valueStart)});
            skipSpace();
            if (take('}'))
                return finished(out);
            if (!take(','))
                return std::nullopt;
        }
    }
    bool tooDeep() const { return m_tooDeep; }

private:
    std::optional<std::vector<Member>> finished(std::vector<Member>& out)
    {
        skipSpace();
        if (m_pos != m_text.size())
            return std::nullopt;
        return std::move(out);
    }
    char peek() const { return m_pos < m_text.size() ? m_text[m_pos] : '\0'; }
    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++m_pos;
        return true;
    }
    void skipSpace()
    {
        while (m_pos < m_text.size() && std::string_view(" \t\r\n").find(m_text[m_pos]) != std::string_view::npos)
            ++m_pos;
    }
    bool skipString()
    {
        for (++m_pos; m_pos < m_text.size(); ++m_pos) {
            if (m_text[m_pos] == '\\')
                ++m_pos;
            else if (m_text[m_pos] == '"') {
                ++m_pos;
                return true;
            }
        }
        return false;
    }
    // Up to the ',' or '}' that ends the value at the top level; the value's
    // own validity is nlohmann's to judge, member by member.
    bool skipValue()
    {
        int depth = 1;  // inside the top-level object
        const std::size_t start = m_pos;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c == '"') {
                if (!skipString())
                    return false;
                continue;
            }
            if (c == '[' || c == '{') {
                if (++depth > kMaxDepth) {
                    m_tooDeep = true;
                    return false;
                }
            } else if (c == ']' || c == '}') {
                if (depth == 1)
                    return m_pos > start;
                --depth;
            } else if (c == ',' && depth == 1) {
                return m_pos > start;
            }
            ++m_pos;
        }
        return false;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    bool m_tooDeep = false;
};

std::optional<nlohmann::json> parsed(std::string_view text)
{
    nlohmann::json value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded())
        return std::nullopt;
    return value;
}

std::string utcStamp(double wallSecondsSince1970)
{
    const auto seconds = static_cast<std::time_t>(wallSecondsSince1970);
    const int millis = static_cast<int>((wallSecondsSince1970 - static_cast<double>(seconds)) * 1000.0);
    std::tm tm {};
    ::gmtime_r(&seconds, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &tm);
    char withMillis[48];
    std::snprintf(withMillis, sizeof withMillis, "%s.%03dZ", text, std::clamp(millis, 0, 999));
    return withMillis;
}

void pruneCorruptCopies(const std::filesystem::path& file)
{
    const std::string prefix = file.filename().string() + ".corrupt-";
    std::vector<std::filesystem::path> copies;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), ec))
        if (entry.path().filename().string().starts_with(prefix))
            copies.push_back(entry.path());
    // The stamps sort as text in time order.
    std::sort(copies.begin(), copies.end());
    for (std::size_t i = 0; i + kKeptCorruptCopies < copies.size(); ++i)
        std::filesystem::remove(copies[i], ec);
}

} // namespace

ReadResult read(const std::filesystem::path& file)
{
    auto bytes = readBytes(file);
    if (auto* outcome = std::get_if<ReadResult>(&bytes))
        return std::move(*outcome);
    std::string_view text = std::get<std::string>(bytes);
    // Editors on other systems start UTF-8 files with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);

    MemberScanner scanner(text);
    std::optional<std::vector<Member>> members = scanner.members();
    if (!members)
        return failure(Status::Corrupt, scanner.tooDeep() ? "嵌套过深" : "不是有效的 JSON 对象");
    ReadResult r;
    r.status = Status::Loaded;
    for (const Member& member : *members) {
        std::optional<nlohmann::json> key = parsed(member.key);
        std::optional<nlohmann::json> value = parsed(member.value);
        if (key && key->is_string() && value)
            r.document[key->get<std::string>()] = std::move(*value);
        else
            ++r.droppedMembers;
    }
    return r;
}

std::filesystem::path keepCorruptCopy(const std::filesystem::path& file, double wallSecondsSince1970)
{
    const std::string base = file.string() + ".corrupt-" + utcStamp(wallSecondsSince1970);
    std::error_code ec;
    std::filesystem::path target = base;
    // Two corruptions within a millisecond keep both, the later one sorting
    // last. Numbers go on from the highest taken: a lower free one (or the
    // bare stamp) could be one that pruning removed, and the newest copy
    // would then be the first to go.
    const std::string stamp = target.filename().string();
    int highest = -1;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name == stamp)
            highest = std::max(highest, 0);
        else if (name.starts_with(stamp + "-"))
            highest = std::max(highest, std::atoi(name.c_str() + stamp.size() + 1));
    }
    if (highest >= 0) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "-%03d", highest + 1);
        target = base + suffix;
    }
    std::filesystem::rename(file, target, ec);
    if (ec)
        return {};
    pruneCorruptCopies(file);
    return target;
}

} // namespace pallix::defaultsfile
