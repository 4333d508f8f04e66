#pragma once
// CenterNetClassifier: the image classifier of the tagger on Linux, the COCO
// object detector (CenterNetDetector) fed with the thumbnail's RGB pixels.
// When the model cannot be used, classification stays empty and one warning
// says why; text recognition and colour go on without it.
//
// Threads: classify() on one thread at a time (the tagger's worker), which
// also builds the network on first use.

#include <filesystem>
#include <memory>

#include "App/ImageTags/ImageTagExtraction.h"
#include "Core/Semantic/CenterNetDetector.h"

namespace pallix {

class CenterNetClassifier final : public ImageClassifier {
public:
    explicit CenterNetClassifier(std::filesystem::path modelFolder);
    // The model found beside the running program, installed, or in the build
    // folder; a folder that does not exist when none is (classification then
    // stays empty with its warning).
    static std::shared_ptr<CenterNetClassifier> system();

    std::vector<imagetags::Classification> classify(const QImage& image) override;
    std::string loadError() const { return m_detector.loadError(); }
    bool recognisesObjects() const override { return loadError().empty(); }
    void releaseWorkingMemory() override { m_detector.release(); }

private:
    CenterNetDetector m_detector;
    bool m_warned = false;
};

} // namespace pallix
