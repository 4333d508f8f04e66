#pragma once
// Defaults: the user-defaults store. Typed values under string keys; a value
// of the wrong type reads as absent. The file-backed variant keeps one JSON
// document ("$XDG_CONFIG_HOME/<identifier>/defaults.json") and rewrites it
// atomically (temporary file, fsync, rename) on every change, so a crash never
// loses it; values that change often are written behind the caller by a
// thread of the store's own. Thread-safe: every operation takes the store's lock.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace pallix {

class Defaults {
public:
    // In memory only (tests).
    static std::shared_ptr<Defaults> inMemory();
    // Backed by `file`; a missing file starts empty. A file that cannot be
    // read is left untouched and never written this session (the values live
    // in memory); a corrupt one is kept aside (see DefaultsDocument.h) and the
    // store starts empty; a member that cannot be read is left out alone.
    static std::shared_ptr<Defaults> atFile(std::filesystem::path file);
    // The process's store: $XDG_CONFIG_HOME (default ~/.config)/<app identifier>/defaults.json.
    // Settings kept under an earlier identifier are read there until the new folder has its own.
    static std::filesystem::path standardFile();
    // The identifier that builds of the same edition used before `identifier`
    // (their settings folder and login entry carry it), or nothing.
    static std::optional<std::string> earlierIdentifier(const std::string& identifier);

    Defaults(const Defaults&) = delete;
    Defaults& operator=(const Defaults&) = delete;
    ~Defaults();  // writes what is still to be written

    std::optional<std::string> data(const std::string& key) const;     // bytes (base64 in the file)
    std::optional<std::int64_t> integer(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<std::vector<std::string>> stringList(const std::string& key) const;
    std::optional<double> date(const std::string& key) const;          // seconds since 1970
    bool contains(const std::string& key) const;

    // Each setter persists at once; false (and nothing changed) when the file cannot be written.
    bool setData(const std::string& key, const std::string& bytes);
    bool setInteger(const std::string& key, std::int64_t value);
    bool setBoolean(const std::string& key, bool value);
    bool setString(const std::string& key, const std::string& value);
    bool setStringList(const std::string& key, const std::vector<std::string>& value);
    bool setDate(const std::string& key, double secondsSince1970);
    bool remove(const std::string& key);

    // For values that change often (the search history on every keystroke,
    // the indexed count on every batch): the value changes at once and the
    // writer thread writes the file after, the latest document only, so the
    // caller never waits for the disk. A write that fails is tried again with
    // the next change.
    void setStringListSoon(const std::string& key, const std::vector<std::string>& value);
    void setIntegerSoon(const std::string& key, std::int64_t value);

    // What went wrong loading the file, for the status line (UTF-8); none
    // when it loaded whole or was missing.
    const std::optional<std::string>& loadProblem() const { return m_loadProblem; }

private:
    explicit Defaults(std::optional<std::filesystem::path> file);
    bool store(const std::string& key, nlohmann::json value);  // nullptr value removes
    void storeSoon(const std::string& key, nlohmann::json value);
    std::optional<nlohmann::json> load(const std::string& key) const;
    void writeBehind();

    // Lock order: m_fileMutex, then m_mutex. m_fileMutex is held through
    // every write of the file, so no older document lands after a newer one.
    std::mutex m_fileMutex;
    std::uint64_t m_writtenVersion = 0;  // under m_fileMutex: the document version on disk
    mutable std::mutex m_mutex;
    std::optional<std::filesystem::path> m_file;  // none: in memory, or the file is not ours to write
    std::optional<std::string> m_loadProblem;      // constant after construction
    nlohmann::json m_document = nlohmann::json::object();
    std::uint64_t m_version = 0;   // under m_mutex: changes of the document
    bool m_stopping = false;       // under m_mutex
    std::condition_variable m_changed;
    std::thread m_writer;          // started by the first change written behind
};

} // namespace pallix
