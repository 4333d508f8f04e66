#pragma once
// What the application model is built on. Every empty field means "the
// running system's".

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "App/Context/AppServices.h"
#include "Core/Indexer/FileScanner.h"
#include "App/Preview/FolderContentInspector.h"
#include "Platform/Clock.h"
#include "Platform/Defaults.h"
#include "Platform/MountedVolumes.h"

namespace pallix {

class DesktopEffects;
class IndexStoreProbe;
class ThumbnailProvider;

struct AppModelEnvironment {
    std::shared_ptr<Defaults> defaults;                // standard user defaults file
    std::shared_ptr<Clock> clock;                      // system clock
    std::shared_ptr<const VolumeProvider> volumes;     // /proc/self/mountinfo
    // Folder of the four databases; empty: the application-support folder,
    // after the one-time copy of legacy databases into it.
    std::filesystem::path supportDirectory;
    std::string executablePath;                        // the running executable
    ThumbnailProvider* thumbnails = nullptr;           // ThumbnailProvider::shared()
    AppServices services;                              // empty hooks do nothing
    FileScanner::Options scanner;                      // read-ahead threads, listing fault seam
    // What a folder directly holds; none: FolderContentInspector::shared().
    // Called on worker threads.
    std::function<FolderContentInspector::FolderContentHint(const std::string& folder)> folderContentHint;
    int startupScanBatchSize = 5500;                   // items per upsert of the start-up scan
    int startupScanFinalWriteAttempts = 3;             // tries of the refused batches after the walk
    // Opening, revealing, the clipboard and dialogs of the result actions;
    // none: the system's, without dialogs (the window layer gives its own).
    std::shared_ptr<DesktopEffects> desktop;
    // What tests and benchmarks read of the local and the shared-drive index
    // store, and the faults they set into them; none in the application.
    std::shared_ptr<IndexStoreProbe> localStoreProbe;
    std::shared_ptr<IndexStoreProbe> serverStoreProbe;
};

} // namespace pallix
