#include "App/Preview/Thumbnailer/VideoPoster.h"

#include <cmath>
#include <memory>

#include <QTransform>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/common.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

namespace pallix::VideoPoster {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

bool sizeAllowed(int width, int height)
{
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide
        && static_cast<long>(width) * height <= kMaxPixels;
}

// A playlist or concatenation list inside an untrusted file may name other
// files or network addresses; only the file handed to us is opened.
int openOnlyTheInput(AVFormatContext* format, AVIOContext** pb, const char* url, int flags, AVDictionary** options)
{
    const auto* input = static_cast<const std::string*>(format->opaque);
    if (!input || *input != url || (flags & AVIO_FLAG_WRITE))
        return AVERROR(EPERM);
    return avio_open2(pb, url, flags, &format->interrupt_callback, options);
}

// The video stream of one file and its decoder.
class Decoder {
public:
    bool open(const std::string& path);
    // The first frame at or after `seconds` from the stream's start, else the
    // last one before it when the stream, the decoder or the bounds end
    // first; null when there is none.
    const AVFrame* frameAt(double seconds);
    QImage picture(const AVFrame& frame, int maxPixel) const;
    int lengthSeconds() const;

private:
    bool seekBefore(int64_t timestamp);
    // 1: a frame to answer with, 0: the decoder wants more input, -1: failed.
    int receive(int64_t target, int& framesBefore);
    QSize shownSize(const AVFrame& frame, int maxPixel) const;
    double clockwiseTurn() const;

    std::string m_path;
    std::unique_ptr<AVFormatContext, FormatCloser> m_format;
    std::unique_ptr<AVCodecContext, CodecFreer> m_codec;
    std::unique_ptr<AVFrame, FrameFreer> m_frame;
    std::unique_ptr<AVFrame, FrameFreer> m_before;
    std::unique_ptr<AVPacket, PacketFreer> m_packet;
    AVStream* m_stream = nullptr;
    bool m_read = false;
};

bool Decoder::open(const std::string& path)
{
    m_path = path;
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return false;
    format->opaque = &m_path;
    format->io_open = openOnlyTheInput;
    // On failure the context is freed by the call itself.
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return false;
    m_format.reset(format);
    if (avformat_find_stream_info(format, nullptr) < 0)
        return false;
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0 || !codec)
        return false;
    m_stream = format->streams[index];
    if (!sizeAllowed(m_stream->codecpar->width, m_stream->codecpar->height))
        return false;
    m_codec.reset(avcodec_alloc_context3(codec));
    if (!m_codec || avcodec_parameters_to_context(m_codec.get(), m_stream->codecpar) < 0)
        return false;
    // A frame whose size changes mid-stream is refused by the decoder too.
    m_codec->max_pixels = kMaxPixels;
    if (avcodec_open2(m_codec.get(), codec, nullptr) < 0)
        return false;
    m_frame.reset(av_frame_alloc());
    m_before.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    return m_frame && m_before && m_packet;
}

bool Decoder::seekBefore(int64_t timestamp)
{
    if (av_seek_frame(m_format.get(), m_stream->index, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(m_codec.get());
    return true;
}

const AVFrame* Decoder::frameAt(double seconds)
{
    const int64_t start = m_stream->start_time == AV_NOPTS_VALUE ? 0 : m_stream->start_time;
    // Saturating: a hostile file's start time may be anything.
    const int64_t target = av_sat_add64(start, av_rescale_q(std::llround(seconds * 1000), AVRational{1, 1000},
                                                            m_stream->time_base));
    // Freshly opened, the file is read from its start: time zero needs no
    // seek, so raw streams that cannot seek still give their first frame.
    if ((m_read || target > start) && !seekBefore(target))
        return nullptr;
    m_read = true;
    av_frame_unref(m_before.get());
    int framesBefore = 0;
    for (int packets = 0; packets < kMaxPackets; ++packets) {
        const bool atEnd = av_read_frame(m_format.get(), m_packet.get()) < 0;
        if (!atEnd && m_packet->stream_index != m_stream->index) {
            av_packet_unref(m_packet.get());
            continue;
        }
        // A packet the decoder rejects ends the attempt: the frames after it
        // are no longer near the time asked for.
        const int sent = avcodec_send_packet(m_codec.get(), atEnd ? nullptr : m_packet.get());
        av_packet_unref(m_packet.get());
        const int received = sent < 0 ? -1 : receive(target, framesBefore);
        if (received > 0)
            return m_frame.get();
        if (received < 0 || atEnd)
            break;
    }
    return m_before->data[0] ? m_before.get() : nullptr;
}

int Decoder::receive(int64_t target, int& framesBefore)
{
    for (;;) {
        const int got = avcodec_receive_frame(m_codec.get(), m_frame.get());
        if (got == AVERROR(EAGAIN))
            return 0;
        if (got < 0)
            return -1;
        const int64_t time = m_frame->best_effort_timestamp;
        if (time == AV_NOPTS_VALUE || time >= target)
            return 1;
        if (++framesBefore > kMaxFramesBefore)
            return -1;
        av_frame_unref(m_before.get());
        av_frame_move_ref(m_before.get(), m_frame.get());
    }
}

int Decoder::lengthSeconds() const
{
    const int64_t duration = m_format->duration;
    return duration == AV_NOPTS_VALUE || duration <= 0 ? 0 : static_cast<int>(duration / AV_TIME_BASE);
}

QSize Decoder::shownSize(const AVFrame& frame, int maxPixel) const
{
    const AVRational aspect = av_guess_sample_aspect_ratio(m_format.get(), m_stream, const_cast<AVFrame*>(&frame));
    double width = frame.width;
    if (aspect.num > 0 && aspect.den > 0)
        width = width * aspect.num / aspect.den;
    const QSizeF shown = QSizeF(width, frame.height).scaled(maxPixel, maxPixel, Qt::KeepAspectRatio);
    return QSize(std::max(1, static_cast<int>(std::lround(shown.width()))),
                 std::max(1, static_cast<int>(std::lround(shown.height()))));
}

// The turn the display matrix asks for, in whole quarter turns.
double Decoder::clockwiseTurn() const
{
    const auto* matrix = reinterpret_cast<const int32_t*>(
        av_stream_get_side_data(m_stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matrix)
        return 0;
    const double counterClockwise = av_display_rotation_get(matrix);
    return std::isnan(counterClockwise) ? 0 : -90.0 * std::round(counterClockwise / 90.0);
}

QImage Decoder::picture(const AVFrame& frame, int maxPixel) const
{
    if (!sizeAllowed(frame.width, frame.height))
        return {};
    const QSize size = shownSize(frame, maxPixel);
    const std::unique_ptr<SwsContext, ScalerFreer> scaler(
        sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), size.width(),
                       size.height(), AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    QImage image(size, QImage::Format_RGB888);
    if (!scaler || image.isNull())
        return {};
    uint8_t* const planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) != size.height())
        return {};
    const double turn = clockwiseTurn();
    return turn == 0 ? image : image.transformed(QTransform().rotate(turn));
}

} // namespace

QImage posterFrame(const std::string& path, int maxPixel)
{
    av_log_set_level(AV_LOG_QUIET);
    Decoder decoder;
    if (!decoder.open(path))
        return {};
    const AVFrame* frame = decoder.frameAt(0);
    if (!frame)
        frame = decoder.frameAt(kFallbackSeconds);
    if (!frame)
        return {};
    QImage image = decoder.picture(*frame, maxPixel);
    if (!image.isNull())
        image.setText(QStringLiteral("Thumb::Movie::Length"), QString::number(decoder.lengthSeconds()));
    return image;
}

} // namespace pallix::VideoPoster
