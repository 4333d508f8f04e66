#pragma once
// VideoPoster: the poster frame of a video file, decoded with libav inside the
// thumbnailer helper. The file is untrusted: only the file itself is opened
// (never a file or address a playlist inside it names), reading and decoding
// are bounded, the picture size is limited, and every failure gives null.
// The helper's process runs one call; it is not meant for threads.

#include <string>

#include <QImage>

namespace pallix::VideoPoster {

// Where the second attempt looks when the start cannot be decoded.
inline constexpr double kFallbackSeconds = 0.35;
// Packets (of any stream) one attempt reads at most, and frames before the
// time asked for that it decodes at most.
inline constexpr int kMaxPackets = 4096;
inline constexpr int kMaxFramesBefore = 600;
// The largest video frame decoded: each side, and the pixel count.
inline constexpr int kMaxSide = 16384;
inline constexpr long kMaxPixels = 8192L * 8192L;

// The frame at the start of the video at `path`; when that cannot be decoded,
// the first at or after kFallbackSeconds (or the nearest the decoder reaches).
// Its longer side is `maxPixel`, its shape the one shown (sample aspect and
// rotation applied), and its text "Thumb::Movie::Length" the video's length
// in whole seconds. Null when neither frame can be had.
QImage posterFrame(const std::string& path, int maxPixel);

} // namespace pallix::VideoPoster
