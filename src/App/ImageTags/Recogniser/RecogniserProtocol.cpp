#include "App/ImageTags/Recogniser/RecogniserProtocol.h"

#include <cmath>
#include <cstring>

namespace pallix::recogniser {

namespace {

template <typename T>
void put(std::string& out, T value)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

// Reads a T at `at` and moves past it; false when the bytes run out.
template <typename T>
bool take(std::string_view bytes, std::size_t& at, T& value)
{
    if (bytes.size() - at < sizeof(T))
        return false;
    std::memcpy(&value, bytes.data() + at, sizeof(T));
    at += sizeof(T);
    return true;
}

bool withinBounds(std::uint32_t width, std::uint32_t height)
{
    return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
}

} // namespace

std::optional<std::string> encodeRequest(Kind kind, const QImage& image)
{
    if (image.isNull() || !withinBounds(std::uint32_t(image.width()), std::uint32_t(image.height())))
        return std::nullopt;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::string out;
    const std::size_t row = std::size_t(rgb.width()) * 3;
    out.reserve(kRequestHeaderSize + row * std::size_t(rgb.height()));
    put(out, static_cast<std::uint8_t>(kind));
    put(out, std::uint32_t(rgb.width()));
    put(out, std::uint32_t(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y)
        out.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), row);
    return out;
}

std::optional<RequestHeader> parseRequestHeader(std::string_view bytes)
{
    std::size_t at = 0;
    std::uint8_t kind = 0;
    RequestHeader header;
    if (!take(bytes, at, kind) || !take(bytes, at, header.width) || !take(bytes, at, header.height))
        return std::nullopt;
    if (kind != std::uint8_t(Kind::TextLines) && kind != std::uint8_t(Kind::Objects))
        return std::nullopt;
    if (!withinBounds(header.width, header.height))
        return std::nullopt;
    header.kind = static_cast<Kind>(kind);
    return header;
}

QImage requestImage(const RequestHeader& header, std::string_view pixels)
{
    if (pixels.size() != header.pixelBytes())
        return {};
    QImage image(int(header.width), int(header.height), QImage::Format_RGB888);
    const std::size_t row = std::size_t(header.width) * 3;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(image.scanLine(y), pixels.data() + row * std::size_t(y), row);
    return image;
}

std::string encodeAnswer(const Answer& answer)
{
    std::string body;
    put(body, std::uint8_t(answer.recognisable ? 1 : 0));
    // What would not fit the cap is left out rather than sent as an error.
    std::uint32_t count = 0;
    std::string entries;
    for (const Entry& entry : answer.entries) {
        const std::size_t size = sizeof(float) + sizeof(std::uint32_t) + entry.text.size();
        if (count == kMaxEntries || body.size() + 4 + entries.size() + size > kMaxAnswerBytes)
            break;
        put(entries, entry.confidence);
        put(entries, std::uint32_t(entry.text.size()));
        entries += entry.text;
        ++count;
    }
    put(body, count);
    body += entries;
    std::string out;
    put(out, std::uint32_t(body.size()));
    return out + body;
}

std::optional<std::uint32_t> parseAnswerLength(std::string_view bytes)
{
    std::size_t at = 0;
    std::uint32_t length = 0;
    if (!take(bytes, at, length) || length > kMaxAnswerBytes)
        return std::nullopt;
    return length;
}

std::optional<Answer> parseAnswerBody(std::string_view body)
{
    std::size_t at = 0;
    std::uint8_t flags = 0;
    std::uint32_t count = 0;
    if (!take(body, at, flags) || flags > 1 || !take(body, at, count) || count > kMaxEntries)
        return std::nullopt;
    Answer answer;
    answer.recognisable = flags == 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        Entry entry;
        std::uint32_t length = 0;
        if (!take(body, at, entry.confidence) || !take(body, at, length) || body.size() - at < length)
            return std::nullopt;
        if (!std::isfinite(entry.confidence))
            return std::nullopt;
        entry.text.assign(body.substr(at, length));
        at += length;
        answer.entries.push_back(std::move(entry));
    }
    if (at != body.size())
        return std::nullopt;
    return answer;
}

} // namespace pallix::recogniser
