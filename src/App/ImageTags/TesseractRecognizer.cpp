#include "App/ImageTags/TesseractRecognizer.h"

#include <memory>

#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include "Platform/Text.h"

namespace pallix {

namespace {

struct Engine {
    tesseract::TessBaseAPI api;
    bool ready = false;
};

thread_local std::unique_ptr<Engine> t_engine;

Engine& threadEngine()
{
    if (!t_engine) {
        // The engine parallelises with OpenMP, whose threads spin while they
        // wait: on a busy machine a 0.03 s line took over a minute. One
        // thread per recognition; no other part of the program uses OpenMP.
        omp_set_max_active_levels(0);
        t_engine = std::make_unique<Engine>();
        // Init's result 0 is success; without the models the engine stays unready.
        t_engine->ready = t_engine->api.Init(nullptr, TesseractRecognizer::kLanguages) == 0;
        if (t_engine->ready) {
            t_engine->api.SetPageSegMode(tesseract::PSM_AUTO);
            t_engine->api.SetVariable("debug_file", "/dev/null");  // no warnings on stderr
        }
    }
    return *t_engine;
}

} // namespace

std::string TesseractRecognizer::joinIdeographs(std::string_view line)
{
    std::string out;
    char32_t lastKept = 0;
    std::size_t pendingSpaceAt = std::string::npos;  // where a run of white space began in `out`
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t start = i;
        const char32_t c = text::nextCodePoint(line, i);
        if (text::isWhiteSpace(c)) {
            if (pendingSpaceAt == std::string::npos)
                pendingSpaceAt = out.size();
            out.append(line.substr(start, i - start));
            continue;
        }
        if (pendingSpaceAt != std::string::npos && text::isIdeographic(lastKept) && text::isIdeographic(c))
            out.resize(pendingSpaceAt);
        pendingSpaceAt = std::string::npos;
        out.append(line.substr(start, i - start));
        lastKept = c;
    }
    return out;
}

void TesseractRecognizer::releaseWorkingMemory()
{
    t_engine.reset();  // the models and the last page's buffers: tens of megabytes
}

std::vector<RecognisedLine> TesseractRecognizer::recognise(const QImage& image)
{
    Engine& engine = threadEngine();
    if (!engine.ready || image.isNull())
        return {};
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    engine.api.SetImage(gray.constBits(), gray.width(), gray.height(), 1, static_cast<int>(gray.bytesPerLine()));
    std::vector<RecognisedLine> lines;
    if (engine.api.Recognize(nullptr) == 0) {
        std::unique_ptr<tesseract::ResultIterator> it(engine.api.GetIterator());
        if (it) {
            do {
                std::unique_ptr<char[]> textLine(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                const float confidence = it->Confidence(tesseract::RIL_TEXTLINE) / 100.0f;
                if (textLine && confidence >= kMinConfidence)
                    lines.push_back({joinIdeographs(textLine.get()), confidence});
            } while (it->Next(tesseract::RIL_TEXTLINE));
        }
    }
    engine.api.Clear();  // drops the image; the models stay loaded
    return lines;
}

} // namespace pallix
