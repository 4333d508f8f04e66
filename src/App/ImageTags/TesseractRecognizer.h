#pragma once
// TesseractRecognizer: the text recogniser of this machine, tesseract 5 with
// the simplified Chinese and English models ("chi_sim+eng"). Lines come out
// with the engine's confidence; lines it is unsure of (below 50 of 100) are
// dropped, as they are mostly texture read as letters. Spaces the engine puts
// between two Chinese characters are removed.
//
// Threads: recognise() may be called from several threads at once; each
// thread gets its own engine on first use (loading the models takes a while,
// so one thread doing all recognition is cheapest). Recognition runs on the
// calling thread alone: the engine's OpenMP parallelism is switched off for
// the process. An engine that cannot load its models recognises nothing.

#include <string>
#include <string_view>

#include "App/ImageTags/ImageTagExtraction.h"

namespace pallix {

class TesseractRecognizer final : public TextRecognizer {
public:
    static constexpr const char* kLanguages = "chi_sim+eng";
    static constexpr float kMinConfidence = 0.5f;

    std::vector<RecognisedLine> recognise(const QImage& image) override;
    void releaseWorkingMemory() override;

    // `line` without the white space between two ideographs.
    static std::string joinIdeographs(std::string_view line);
};

} // namespace pallix
