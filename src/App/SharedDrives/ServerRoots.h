#pragma once
// ServerRoots: keeps the list of shared-drive roots in the settings. It adopts
// the default shared-drive folders once by itself, watches for them every
// 3 seconds while shared-drive indexing is on and no root is known, and takes
// the settings window's additions, removals and clearing; each change is
// persisted and followed by detection or a first scan. Detection passes over
// the roots the user cleared or removed for as long as they stay mounted.
//
// Owned by SharedDrives; GUI thread only. The detection job sleeps on the
// context's clock between polls; each poll (the volume list and the existence
// checks) runs on the GUI thread, where it re-checks that its owner lives and
// the job's token has not fired.

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QStringList>

#include "App/Async/JobHandle.h"
#include "Platform/Clock.h"

namespace pallix {

class AppContext;
class SharedDrives;

class ServerRoots {
public:
    // User-defaults name (after the edition prefix) of the site's file-server
    // address: a text looked for in the share URL and the name of a volume.
    static constexpr std::string_view kServerAddressName = "fileServerAddress";
    static constexpr std::chrono::seconds kDetectionInterval{3};

    ServerRoots(const AppContext& context, SharedDrives& drives) : m_context(context), m_drives(drives) {}

    // The default roots on the mounted volumes now, standardized; may be empty.
    std::vector<std::string> defaultServerRootsIfPresent() const;
    // Adopts the default roots once (turning shared-drive indexing and both
    // search sides on); tried again at every call until it found some.
    void autoConfigureServerRootsIfNeeded();
    // With indexing on and no roots: shows the detection text and starts the
    // detection job unless one runs. With roots: clears the status text.
    void beginServerAutoDetectIfNeeded();
    // Ends the detection job, if any.
    void cancelDetection();

    // The settings window's operations on the list.
    void addServerIndexedRoots(const QStringList& paths);
    void clearServerIndexedRoots();
    void removeServerIndexedRoot(const std::set<int>& positions);

private:
    QCoro::Task<> runDetection(std::shared_ptr<CancelToken> token);
    // The default roots mounted now that the user has not dismissed.
    std::vector<std::string> detectableRoots();
    void dismiss(const std::vector<std::string>& roots);
    void adoptDetectedRoots(const std::vector<std::string>& found);

    const AppContext& m_context;
    SharedDrives& m_drives;
    JobHandle m_detectTask;
    // Roots cleared or removed while mounted (standardized); one that is no
    // longer mounted is forgotten, so that mounting it again is news.
    std::set<std::string> m_dismissed;
};

} // namespace pallix
