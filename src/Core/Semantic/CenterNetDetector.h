#pragma once
// CenterNetDetector: what the COCO object detector sees in an RGB picture, as
// classifier results for ImageTagRules. The picture is stretched to 512×512,
// the network gives one heat map per COCO class, and a class's confidence is
// the highest value of its map. Results under 0.35 are dropped: lower, the
// detector names too many things that are not there. Two or more person
// peaks of at least 0.3 add "people".
//
// The network is built from the model files on the first detection, on the
// calling thread. When they are missing or damaged, or the build fails, the
// detector stays empty-handed for good and loadError() says why once.
//
// Threads: one detection at a time (the tagger's single extraction worker);
// loadError() and the pure functions may be called from any thread.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Core/Semantic/ImageTagRules.h"

namespace pallix {

class CenterNetDetector {
public:
    static constexpr int kInputSide = 512;
    static constexpr float kMinConfidence = 0.35f;
    static constexpr float kMinPersonPeak = 0.3f;

    // The model files are `folder`/centernet.json and centernet.bin.
    explicit CenterNetDetector(std::filesystem::path folder);
    ~CenterNetDetector();

    // The first folder holding the model: beside the executable (models/),
    // the installed share/pallix/models (seen from bin or libexec/pallix),
    // then the build folder's.
    static std::optional<std::filesystem::path> findModelFolder(const std::filesystem::path& executableDir);
    // Where `make` puts the model in this build.
    static std::filesystem::path buildModelFolder();

    // Results best first; empty when the model cannot be used.
    std::vector<imagetags::Classification> detect(const std::uint8_t* rgb, int width, int height,
                                                  std::size_t bytesPerLine);

    // Why the model could not be used; empty while it can (or was not tried).
    std::string loadError() const;
    // Drops the network with its layers' buffers (well over the model's
    // size at 512×512); the next detection builds it again. A model that
    // could not be used stays unused.
    void release();

    // The slash identifier of each of the 80 COCO classes, in the model's
    // channel order, shaped so that leafIdentifiers reaches the Chinese table.
    static const std::vector<std::string>& cocoIdentifiers();
    // The results of per-class maxima and the count of strong person peaks.
    static std::vector<imagetags::Classification> results(const std::vector<float>& classMaxima, int personPeaks);

private:
    struct Network;
    bool ensureLoaded();

    const std::filesystem::path m_folder;
    std::unique_ptr<Network> m_network;  // on the detecting thread
    bool m_tried = false;
    mutable std::mutex m_errorMutex;
    std::string m_loadError;  // under m_errorMutex
};

} // namespace pallix
