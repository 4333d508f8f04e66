// pallix-recogniser: the image tagger's text recogniser and object detector,
// in a process of their own. It answers requests on standard input, one after
// another (RecogniserProtocol.h), until standard input closes. The engines'
// buffers (well over 100 MB while a pass runs) live and die with this
// process, and a recogniser that crashes on a user's picture ends it, not
// the application; its address space is bounded.
//
// Exit 0 when standard input closes, 2 on a malformed request, 1 when an
// answer cannot be written.

#include <cerrno>
#include <string>

#include <unistd.h>

#include <QCoreApplication>

#include "App/ImageTags/CenterNetClassifier.h"
#include "App/ImageTags/Recogniser/RecogniserProtocol.h"
#include "App/Paths/HelperPrograms.h"
#include "App/ImageTags/TesseractRecognizer.h"

namespace {

using namespace pallix;

enum class Read { Whole, Closed, Broken };

Read readExactly(std::string& buffer, std::size_t size)
{
    buffer.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(STDIN_FILENO, buffer.data() + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 && got == 0 ? Read::Closed : Read::Broken;
        got += std::size_t(n);
    }
    return Read::Whole;
}

class Recognisers {
public:
    recogniser::Answer answer(recogniser::Kind kind, const QImage& image)
    {
        recogniser::Answer answer;
        if (kind == recogniser::Kind::TextLines) {
            for (RecognisedLine& line : m_text.recognise(image))
                answer.entries.push_back({std::move(line.text), line.confidence});
            return answer;
        }
        for (imagetags::Classification& found : m_objects->classify(image))
            answer.entries.push_back({std::move(found.identifier), found.confidence});
        answer.recognisable = m_objects->recognisesObjects();
        return answer;
    }

private:
    TesseractRecognizer m_text;
    // The model is looked for from this program's own folder.
    std::shared_ptr<CenterNetClassifier> m_objects = CenterNetClassifier::system();
};

} // namespace

int main(int argc, char** argv)
{
    pallix::helperprograms::boundAddressSpace();
    QCoreApplication app(argc, argv);
    Recognisers recognisers;
    std::string header;
    std::string pixels;
    for (;;) {
        const Read read = readExactly(header, recogniser::kRequestHeaderSize);
        if (read == Read::Closed)
            return 0;
        const std::optional<recogniser::RequestHeader> request =
            read == Read::Whole ? recogniser::parseRequestHeader(header) : std::nullopt;
        if (!request || readExactly(pixels, request->pixelBytes()) != Read::Whole)
            return 2;
        const QImage image = recogniser::requestImage(*request, pixels);
        if (!helperprograms::writeAll(STDOUT_FILENO, recogniser::encodeAnswer(recognisers.answer(request->kind, image))))
            return 1;
    }
}
