#pragma once
// RecogniserProtocol: the bytes between the application and the
// pallix-recogniser helper, one request and its answer at a time over the
// helper's standard input and output. Both ends run on this machine, so
// numbers go in the machine's own byte order.
//
//   request: kind (u8), width (u32), height (u32), then width × height RGB
//            pixels, 3 bytes each, rows without padding
//   answer:  body length (u32), then the body: flags (u8), count (u32), and
//            count × (confidence (f32), text length (u32), UTF-8 text)
//
// Each end checks what it reads against the bounds below before it
// allocates: a picture larger than the tagger's thumbnail or an answer larger
// than the cap is a protocol error. Pure functions, any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QImage>

namespace pallix::recogniser {

enum class Kind : std::uint8_t { TextLines = 1, Objects = 2 };

// The thumbnail the tagger recognises is at most this many pixels a side.
constexpr std::uint32_t kMaxSide = 512;
constexpr std::size_t kRequestHeaderSize = 9;
constexpr std::size_t kAnswerHeaderSize = 4;
// Far above what a 512 px picture yields (a few hundred lines at most).
constexpr std::uint32_t kMaxAnswerBytes = 1 << 20;
constexpr std::uint32_t kMaxEntries = 4096;

struct RequestHeader {
    Kind kind = Kind::TextLines;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::size_t pixelBytes() const { return std::size_t(width) * height * 3; }
};

// One recognised line or object: its text (an identifier for an object) and
// the recogniser's confidence, 0..1.
struct Entry {
    std::string text;
    float confidence = 0;
};

struct Answer {
    // False once the helper knows the kind asked for cannot be recognised
    // there (the object model is missing or broken).
    bool recognisable = true;
    std::vector<Entry> entries;
};

// The whole request for `image`, converted to the wire's pixel format;
// nothing when the image is empty or larger than the bound.
std::optional<std::string> encodeRequest(Kind kind, const QImage& image);
// The header's fields when they are within bounds.
std::optional<RequestHeader> parseRequestHeader(std::string_view bytes);
// The picture of a request whose pixels follow `header`.
QImage requestImage(const RequestHeader& header, std::string_view pixels);

// The answer with its length in front.
std::string encodeAnswer(const Answer& answer);
// The body's length from the first kAnswerHeaderSize bytes, when within the cap.
std::optional<std::uint32_t> parseAnswerLength(std::string_view bytes);
// The answer in `body`; nothing when it does not hold exactly one answer.
std::optional<Answer> parseAnswerBody(std::string_view body);

} // namespace pallix::recogniser
