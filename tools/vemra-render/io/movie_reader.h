// Reading movie files through FFmpeg: the video stream decoded frame by frame
// into RGBA images, converted exactly as the ffmpeg program converts a movie
// to raw RGBA video, and the packets of the file's other streams handed to a
// writer that copies them, through a queue (copied_packets.h).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/vemra-render/io/copied_packets.h"
#include "tools/vemra-render/pixels/image.h"
#include "tools/vemra-render/pixels/orientation.h"
#include "tools/vemra-render/run/refusal.h"

struct AVIOContext;  // FFmpeg's byte source

namespace render {

struct MovieSource;

/// Thrown when a movie cannot be read or written; the message is one line
/// naming the file and the cause.
class MovieError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// A movie or a movie output the tool will not take, told before any frame:
/// frames above --max-pixels, an encoder or pixel format that does not exist
/// or does not fit the container. A refusal.
class MovieRefused : public MovieError, public Refusal {
  public:
    using MovieError::MovieError;
};

/// One decoded video frame.
struct MovieFrame {
    Image image;                ///< RGBA of the reader's sample type, buffer reused frame to frame
    std::int64_t pts = 0;       ///< in the video stream's time base (the best-effort timestamp)
    std::int64_t duration = 0;  ///< in the same time base; 0 when the file does not say
    long number = 0;            ///< 1 for the first decoded frame
    bool interlaced = false;    ///< coded as two fields
    bool top_field_first = false;
    /// The frame's A/53 closed captions (CEA-708 data), as the decoder gave them.
    std::vector<std::uint8_t> captions;
};

/// A frame as the decoder gave it, before it is converted to RGBA: frames
/// are decoded in order on one thread and converted, each with its own
/// converter, on the threads of the frames in flight.
class DecodedFrame {
  public:
    DecodedFrame();
    ~DecodedFrame();
    DecodedFrame(DecodedFrame&&) noexcept;
    DecodedFrame& operator=(DecodedFrame&&) noexcept;
    /// Its number in the movie, from 1 for the first frame.
    long number() const;
    struct Data;

  private:
    friend class MovieReader;
    std::unique_ptr<Data> data_;
};

/// What the video stream's display matrix asks of its frames: how a player
/// turns them before showing them.
struct DisplayMatrix {
    bool present = false;
    double rotation = 0;     ///< in degrees, counterclockwise, as ffprobe shows it
    bool whole_turn = true;  ///< quarter turns and mirrors only, which turn losslessly
    Orientation upright;     ///< how to turn the coded frames upright, for a whole turn
};

/// How far the reader looks into a file before its first frame, and how
/// many threads its decoder takes; 0 leaves each to FFmpeg.
struct MovieProbe {
    std::int64_t probe_bytes = 0;           ///< FFmpeg's probesize
    std::int64_t analyze_microseconds = 0;  ///< FFmpeg's analyzeduration
    int decoder_threads = 0;
};

class MovieReader {
  public:
    /// Opens `path`, finds its video stream (the one FFmpeg ranks best) and
    /// opens its decoder. Only a local file in one of the containers of
    /// movie_formats.h is opened, and it is never followed to another file
    /// (no playlist, script or image-sequence demuxer). Throws MovieRefused
    /// for a file in any other format and for frames of more than
    /// `max_pixels` pixels, MovieError for a file FFmpeg cannot open and a
    /// file with no video stream or no decoder for it. The decoder runs on
    /// `threads` threads (0: FFmpeg's own choice for the codec, "auto").
    MovieReader(const std::string& path, std::uint64_t max_pixels, int threads = 0);
    /// The same over `io`, which the caller keeps open while the reader
    /// lives; `name` names it in messages.
    MovieReader(AVIOContext* io, const std::string& name, std::uint64_t max_pixels,
                const MovieProbe& probe);
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    int width() const;
    int height() const;
    /// kUint8 for sources of 8 bits or fewer a component, kUint16 up to 16,
    /// kFloat for float sources (and integer ones deeper than 16 bits).
    SampleType type() const;
    /// The source pixel format has alpha.
    bool has_alpha() const;
    /// The container's count of video frames (an animated PNG's declared
    /// count), or -1 when it does not say.
    long frame_count() const;
    /// The path the reader was opened with, for messages.
    const std::string& path() const;
    /// Bytes the file's other streams (sound, subtitles, data) carry per
    /// video frame, by their declared bit rates; 0 where none says.
    std::uint64_t OtherStreamsBytesPerFrame() const;

    /// Decodes the next video frame into `frame`, converted to RGBA of type()
    /// as `ffmpeg -i FILE -f rawvideo -pix_fmt rgba|rgba64le|gbrapf32le -`
    /// converts it (float arrives planar there, interleaved here); a source
    /// without alpha gets an opaque one. Returns false after the last frame.
    /// Throws MovieError naming the file and the frame for a read or decode
    /// error, a frame the decoder marks as damaged, a change of frame size or
    /// pixel format within the stream, and a file that ends in the middle:
    /// a packet the demuxer found cut off, fewer packets than a QuickTime/MP4
    /// sample table lists, or streams that end more than two frames before
    /// the duration the container declares.
    bool Next(MovieFrame& frame);
    /// Next() in two steps: decoding, in order, one call at a time (false
    /// after the last frame; the errors of Next() that the decoder finds),
    /// and converting, from any thread, for different DecodedFrames at once
    /// (the errors of Next() that the conversion finds).
    bool Decode(DecodedFrame& into);
    void Convert(DecodedFrame& decoded, MovieFrame& frame) const;

    /// The video stream's display matrix.
    const DisplayMatrix& display_matrix() const;
    /// From the first frame on, delivers the frames turned upright as the
    /// display matrix says (a whole turn: width and height swap for a quarter
    /// turn), and describes them so: the source then carries no matrix. Call
    /// it before reading the first frame; throws std::logic_error after.
    void TurnFramesUpright();

    /// Decodes the first frame ahead, so that what only frames carry (HDR10
    /// metadata, captions, HDR10+) reaches source() before a writer is made.
    /// Packets met on the way are copied as CopyPacketsInto says; the frame
    /// is the first Next() gives.
    void Prime();

    /// The description of the file a writer copies its layout from.
    const MovieSource& source() const;
    /// From now on, queues the packets of `streams` (indexes in the file)
    /// into `packets` as they are met, and closes it at the end of the file.
    /// Call it before reading the first frame; throws std::logic_error after.
    void CopyPacketsInto(const std::vector<int>& streams, CopiedPackets& packets);

  private:
    struct Internals;
    std::unique_ptr<Internals> in_;
};

}  // namespace render
