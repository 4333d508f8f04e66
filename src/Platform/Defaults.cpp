#include "Platform/Defaults.h"

#include <chrono>

#include <array>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "Platform/DefaultsDocument.h"

namespace pallix {

namespace {

// Values keep their JSON form where JSON has one; dates and bytes are wrapped
// in a one-key object so that neither reads back as a number or a string.
constexpr const char* kDateTag = "date";
constexpr const char* kDataTag = "data";

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const auto n = (std::uint32_t(std::uint8_t(bytes[i])) << 16)
                     | (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8) | std::uint8_t(bytes[i + 2]);
        for (int shift : {18, 12, 6, 0})
            out += kBase64Alphabet[(n >> shift) & 0x3f];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t n = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        if (rest == 2)
            n |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
        out += kBase64Alphabet[(n >> 18) & 0x3f];
        out += kBase64Alphabet[(n >> 12) & 0x3f];
        out += rest == 2 ? kBase64Alphabet[(n >> 6) & 0x3f] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::array<int, 256> value;
    value.fill(-1);
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i)
        value[std::uint8_t(kBase64Alphabet[i])] = int(i);

    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        std::uint32_t n = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            int v = value[std::uint8_t(c)];
            if (c == '=' && j >= 4 - std::size_t(pad))
                v = 0;
            if (v < 0)
                return std::nullopt;
            n = (n << 6) | std::uint32_t(v);
        }
        out += char((n >> 16) & 0xff);
        if (pad < 2)
            out += char((n >> 8) & 0xff);
        if (pad < 1)
            out += char(n & 0xff);
    }
    return out;
}

nlohmann::json wrapped(const char* tag, nlohmann::json value)
{
    nlohmann::json object = nlohmann::json::object();
    object[tag] = std::move(value);
    return object;
}

const nlohmann::json* unwrapped(const nlohmann::json& value, const char* tag)
{
    if (!value.is_object() || value.size() != 1)
        return nullptr;
    const auto it = value.find(tag);
    return it == value.end() ? nullptr : &*it;
}

// Strings must be valid UTF-8 to be written as JSON; checked before the
// document changes so that a bad value never poisons the whole file.
bool serializable(const nlohmann::json& value)
{
    try {
        (void)value.dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

bool storable(const std::string& key, const nlohmann::json& value)
{
    return serializable(nlohmann::json(key)) && serializable(value);
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

// Temporary file in the same folder, fsync, rename, fsync the folder: a crash
// leaves either the old document or the new one, never a torn file.
bool writeAtomically(const std::filesystem::path& file, std::string_view contents)
{
    std::error_code ec;
    const auto folder = file.parent_path();
    std::filesystem::create_directories(folder, ec);
    std::string name = ".";
    name.append(file.filename().string()).append(".XXXXXX");
    std::string tmp = (folder / name).string();
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, contents) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(tmp.c_str(), file.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

std::string applicationIdentifier()
{
    if (const char* env = std::getenv("PALLIX_APP_ID"); env && *env)
        return env;
    return PALLIX_APP_ID;
}

} // namespace

std::shared_ptr<Defaults> Defaults::inMemory()
{
    return std::shared_ptr<Defaults>(new Defaults(std::nullopt));
}

std::shared_ptr<Defaults> Defaults::atFile(std::filesystem::path file)
{
    return std::shared_ptr<Defaults>(new Defaults(std::move(file)));
}

std::filesystem::path Defaults::standardFile()
{
    std::filesystem::path base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (xdg && xdg[0] == '/')
        base = xdg;
    else if (home && home[0] == '/')
        base = std::filesystem::path(home) / ".config";
    else
        base = std::filesystem::temp_directory_path();
    const std::string identifier = applicationIdentifier();
    std::filesystem::path file = base / identifier / "defaults.json";
    if (const auto earlier = earlierIdentifier(identifier)) {
        std::error_code ec;
        std::filesystem::path kept = base / *earlier / "defaults.json";
        if (!std::filesystem::exists(file, ec) && std::filesystem::exists(kept, ec))
            return kept;
    }
    return file;
}

std::optional<std::string> Defaults::earlierIdentifier(const std::string& identifier)
{
    // Its launcher was named "io.pallix.desktop.desktop".
    if (identifier == "io.pallix.Pallix")
        return "io.pallix.desktop";
    return std::nullopt;
}

Defaults::Defaults(std::optional<std::filesystem::path> file)
    : m_file(std::move(file))
{
    if (!m_file)
        return;
    using Status = defaultsfile::ReadResult::Status;
    defaultsfile::ReadResult read = defaultsfile::read(*m_file);
    switch (read.status) {
    case Status::Missing:
    case Status::Count: return;
    case Status::Loaded:
        m_document = std::move(read.document);
        if (read.droppedMembers > 0)
            m_loadProblem = "设置文件中有 " + std::to_string(read.droppedMembers) + " 项无法读取，已改用默认值";
        return;
    case Status::Unreadable:
        // Perhaps left behind by another user: writing over it would lose it.
        m_loadProblem = "无法读取设置文件 " + m_file->string() + "：" + read.error + "，本次使用默认设置且不保存";
        m_file.reset();
        return;
    case Status::Corrupt: {
        const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        const std::filesystem::path kept = defaultsfile::keepCorruptCopy(*m_file, now);
        if (kept.empty()) {
            // Not moved aside: writing would be the only copy's end.
            m_loadProblem = "设置文件已损坏（" + read.error + "），本次使用默认设置且不保存";
            m_file.reset();
            return;
        }
        m_loadProblem = "设置文件已损坏（" + read.error + "），已另存为 " + kept.filename().string() + " 并使用默认设置";
        return;
    }
    }
}

std::optional<nlohmann::json> Defaults::load(const std::string& key) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_document.find(key);
    if (it == m_document.end())
        return std::nullopt;
    return *it;
}

Defaults::~Defaults()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_one();
    if (m_writer.joinable())
        m_writer.join();
}

bool Defaults::store(const std::string& key, nlohmann::json value)
{
    if (!storable(key, value))
        return false;
    std::lock_guard fileLock(m_fileMutex);
    std::lock_guard lock(m_mutex);
    nlohmann::json next = m_document;
    if (value.is_null())
        next.erase(key);
    else
        next[key] = std::move(value);
    if (m_file && !writeAtomically(*m_file, next.dump(2) + "\n"))
        return false;
    m_document = std::move(next);
    m_writtenVersion = ++m_version;
    return true;
}

void Defaults::storeSoon(const std::string& key, nlohmann::json value)
{
    if (!storable(key, value))
        return;
    {
        std::lock_guard lock(m_mutex);
        m_document[key] = std::move(value);
        ++m_version;
        if (!m_file)
            return;
        if (!m_writer.joinable())
            m_writer = std::thread([this] { writeBehind(); });
    }
    m_changed.notify_one();
}

void Defaults::writeBehind()
{
    std::uint64_t tried = 0;  // the last version this thread wrote or failed to write
    for (;;) {
        std::string contents;
        std::uint64_t version = 0;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stopping || m_version != tried; });
            if (m_version == tried)
                return;  // stopping, and nothing is left to write
            contents = m_document.dump(2) + "\n";
            version = tried = m_version;
        }
        std::lock_guard fileLock(m_fileMutex);
        if (m_writtenVersion < version && writeAtomically(*m_file, contents))
            m_writtenVersion = version;
    }
}

std::optional<std::string> Defaults::data(const std::string& key) const
{
    const auto value = load(key);
    const nlohmann::json* inner = value ? unwrapped(*value, kDataTag) : nullptr;
    if (!inner || !inner->is_string())
        return std::nullopt;
    return base64Decode(inner->get_ref<const std::string&>());
}

std::optional<std::int64_t> Defaults::integer(const std::string& key) const
{
    const auto value = load(key);
    if (!value)
        return std::nullopt;
    if (value->is_number_unsigned()) {
        const auto u = value->get<std::uint64_t>();
        if (u > std::uint64_t(INT64_MAX))
            return std::nullopt;
        return std::int64_t(u);
    }
    if (value->is_number_integer())
        return value->get<std::int64_t>();
    return std::nullopt;
}

std::optional<bool> Defaults::boolean(const std::string& key) const
{
    const auto value = load(key);
    if (!value || !value->is_boolean())
        return std::nullopt;
    return value->get<bool>();
}

std::optional<std::string> Defaults::string(const std::string& key) const
{
    const auto value = load(key);
    if (!value || !value->is_string())
        return std::nullopt;
    return value->get<std::string>();
}

std::optional<std::vector<std::string>> Defaults::stringList(const std::string& key) const
{
    const auto value = load(key);
    if (!value || !value->is_array())
        return std::nullopt;
    std::vector<std::string> list;
    list.reserve(value->size());
    for (const auto& element : *value) {
        if (!element.is_string())
            return std::nullopt;
        list.push_back(element.get<std::string>());
    }
    return list;
}

std::optional<double> Defaults::date(const std::string& key) const
{
    const auto value = load(key);
    const nlohmann::json* inner = value ? unwrapped(*value, kDateTag) : nullptr;
    if (!inner || !inner->is_number())
        return std::nullopt;
    return inner->get<double>();
}

bool Defaults::contains(const std::string& key) const
{
    return load(key).has_value();
}

bool Defaults::setData(const std::string& key, const std::string& bytes)
{
    return store(key, wrapped(kDataTag, base64Encode(bytes)));
}

bool Defaults::setInteger(const std::string& key, std::int64_t value)
{
    return store(key, value);
}

bool Defaults::setBoolean(const std::string& key, bool value)
{
    return store(key, value);
}

bool Defaults::setString(const std::string& key, const std::string& value)
{
    return store(key, value);
}

bool Defaults::setStringList(const std::string& key, const std::vector<std::string>& value)
{
    return store(key, value);
}

bool Defaults::setDate(const std::string& key, double secondsSince1970)
{
    // JSON has no NaN or infinity: they would be written as null and lose the key.
    if (!std::isfinite(secondsSince1970))
        return false;
    return store(key, wrapped(kDateTag, secondsSince1970));
}

bool Defaults::remove(const std::string& key)
{
    return store(key, nullptr);
}

void Defaults::setStringListSoon(const std::string& key, const std::vector<std::string>& value)
{
    storeSoon(key, value);
}

void Defaults::setIntegerSoon(const std::string& key, std::int64_t value)
{
    storeSoon(key, value);
}

} // namespace pallix
