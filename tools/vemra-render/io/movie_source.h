// What the demuxer says of a movie before its first frame, as plain values:
// its streams, their time bases and start times, the video's size, rotation,
// field order and colour tags (in its codec parameters), HDR10 metadata, the
// container's metadata and chapters. The demuxer builds it once; the
// decoder, the encoder and the muxer each take what they need from it and
// hold no pointer into the demuxer's context.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/vemra-render/pixels/image.h"
#include "tools/vemra-render/pixels/orientation.h"

struct AVCodecParameters;  // FFmpeg's description of a stream's coding

namespace render {

/// A ratio as FFmpeg keeps rates and time bases.
struct Rational {
    int num = 0;
    int den = 1;
    bool valid() const { return num > 0 && den > 0; }
};

/// "No timestamp", as FFmpeg writes it (AV_NOPTS_VALUE).
inline constexpr std::int64_t kNoTime = std::int64_t(0x8000000000000000ull);

/// Key and value pairs, in the order the file gives them.
using Metadata = std::vector<std::pair<std::string, std::string>>;

/// A stream's codec parameters, owned: a copy of the demuxer's.
class CodecParameters {
  public:
    CodecParameters();
    explicit CodecParameters(const AVCodecParameters& from);
    ~CodecParameters();
    CodecParameters(const CodecParameters& other);
    CodecParameters& operator=(const CodecParameters& other);
    CodecParameters(CodecParameters&& other) noexcept;
    CodecParameters& operator=(CodecParameters&& other) noexcept;

    const AVCodecParameters& get() const { return *parameters_; }
    AVCodecParameters& edit() { return *parameters_; }

  private:
    AVCodecParameters* parameters_;
};

enum class StreamKind { kVideo, kAudio, kSubtitle, kData, kAttachment, kOther };

/// One stream of the source.
struct SourceStream {
    int index = 0;
    StreamKind kind = StreamKind::kOther;
    CodecParameters parameters;
    Rational time_base;
    std::int64_t start_time = kNoTime;  ///< in time_base
    std::int64_t duration = 0;          ///< in time_base; 0 when not declared
    int disposition = 0;
    Rational sample_aspect_ratio;
    Rational avg_frame_rate;
    Rational r_frame_rate;
    Metadata metadata;
    /// The demuxer reads none of its packets: a QuickTime chapter track,
    /// whose text the chapters already hold.
    bool discarded = false;
    /// A picture attached to the file (cover art), not a stream of frames.
    bool attached_picture = false;

    /// The value of metadata `key`, in any case; empty when not set.
    std::string Tag(std::string_view key) const;
    /// Its samples a second, for sound; 0 for other streams.
    int SampleRate() const;
};

struct SourceChapter {
    std::int64_t id = 0;
    Rational time_base;
    std::int64_t start = 0;
    std::int64_t end = 0;
    Metadata metadata;
};

/// What the video stream's display matrix asks of its frames: how a player
/// turns them before showing them.
struct DisplayMatrix {
    bool present = false;
    std::array<std::int32_t, 9> values{};
    double rotation = 0;     ///< in degrees, counterclockwise, as ffprobe shows it
    bool whole_turn = true;  ///< quarter turns and mirrors only, which turn losslessly
    Orientation upright;     ///< how to turn the coded frames upright, for a whole turn
};

/// How a video's frames lie in time.
struct VideoSpacing {
    /// Every frame lies a whole frame of the stream's rate after the first,
    /// within a tick: a constant frame rate.
    bool even = false;
    /// And the first lies on that rate's grid too, so that every timestamp
    /// counted in frames is exact.
    bool on_grid = false;
};

/// The video stream the frames come from, as they are delivered.
struct SourceVideo {
    int index = -1;  ///< among the streams
    /// The frames' size as delivered: the coded size, or with width and
    /// height swapped when they are turned upright by a quarter turn.
    int width = 0;
    int height = 0;
    SampleType type = SampleType::kUint8;  ///< of the decoded frames
    bool has_alpha = false;
    /// The frame rate: the average rate where the file gives one, else the
    /// stream's base rate; invalid when neither is known. The one place the
    /// tool falls back from one rate to the other.
    Rational frame_rate;
    /// The sample aspect ratio as FFmpeg reads it from stream and codec.
    Rational sample_aspect_ratio;
    DisplayMatrix matrix;
    /// The frames are delivered upright (the decoder turns them); the
    /// matrix then belongs to the coded frames only and is not carried.
    bool turned = false;
    /// The decoder that reads the stream when FFmpeg's own would drop part
    /// of it (libvpx's, for VP8 and VP9 with an alpha side stream); empty:
    /// FFmpeg's own.
    std::string decoder;
    /// HDR10's static metadata from the stream (FFmpeg's
    /// AVMasteringDisplayMetadata and AVContentLightMetadata, as bytes);
    /// empty: none. Frames may carry their own (MovieFrame).
    std::vector<std::uint8_t> mastering;
    std::vector<std::uint8_t> light_level;
    bool dolby_vision = false;  ///< a Dolby Vision configuration, which a re-encode drops
    /// The video's bit rate, and the maximum and decoder buffer its coded
    /// picture buffer properties declare (MPEG-2's sequence header), in
    /// bits a second and bits; 0 where the file does not say.
    std::int64_t bit_rate = 0;
    std::int64_t max_bit_rate = 0;
    std::int64_t buffer_size = 0;
    /// The frame count the file declares (for an animated PNG, its control
    /// chunk's); -1: none.
    long frame_count = -1;
    /// How the frames lie in time, measured for movie outputs only
    /// (MovieDemuxer::MeasureSpacing); unset: not measured.
    std::optional<VideoSpacing> spacing;
    /// The frames come from images (an image sequence, an animated GIF or
    /// PNG): there is no movie codec to keep, and a movie output takes its
    /// container's default for images (movie_policy.h).
    bool from_images = false;
};

struct SourceDescription {
    std::string path;                   ///< for messages
    std::string format_name;            ///< the demuxer's name
    std::int64_t start_time = kNoTime;  ///< of the whole file, in microseconds
    std::int64_t duration = 0;          ///< of the whole file, in microseconds; 0: unknown
    Metadata metadata;
    std::vector<SourceStream> streams;
    std::vector<SourceChapter> chapters;
    SourceVideo video;

    const SourceStream& video_stream() const { return streams[std::size_t(video.index)]; }
    /// Bytes the other streams (sound, subtitles, data) carry per video
    /// frame, by their declared bit rates; 0 where none says.
    std::uint64_t OtherStreamsBytesPerFrame() const;
};

}  // namespace render
