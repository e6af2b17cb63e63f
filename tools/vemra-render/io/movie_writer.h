// Writing movie files through FFmpeg: the video stream encoded from RGBA
// frames (movie_encoder.h), the source's other streams copied as they are
// from the packets a reader queues for it, and the source's timing, tags and
// metadata kept.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vemra-render/io/copied_packets.h"
#include "tools/vemra-render/io/movie_reader.h"

namespace render {

struct MovieSource;

/// How the video stream is encoded.
struct MovieWriteSettings {
    /// Encoder name (e.g. "libx264", "prores_ks", "ffv1"); empty: the
    /// default rule at MovieWriter.
    std::string codec;
    /// Encoder pixel format (e.g. "yuv422p10le"); empty: the one the ffmpeg
    /// program would choose for our RGBA frames, see MovieWriter.
    std::string pix_fmt;
    /// Codec-specific quality: the encoder's "crf" option where it has one
    /// (libx264), else a fixed quantiser scale (qscale: prores_ks, mpeg4);
    /// -1 leaves the encoder's default.
    int quality = -1;
    /// The encoders that print on their own (x265) keep even their errors to
    /// themselves; otherwise they print errors only.
    bool quiet = false;
    /// The encoder's threads; 0: FFmpeg's own choice for the codec ("auto").
    int threads = 0;
};

class MovieEncoder;

/// A rendered frame converted into the encoder's layout, ready to be
/// encoded: prepared on the frame's own thread, encoded in frame order.
/// Keeps its conversion state and buffers from frame to frame.
class EncoderFrame {
  public:
    EncoderFrame();
    ~EncoderFrame();
    EncoderFrame(EncoderFrame&&) noexcept;
    EncoderFrame& operator=(EncoderFrame&&) noexcept;
    struct Data;

  private:
    friend class MovieEncoder;
    std::unique_ptr<Data> data_;
};

class MovieWriter {
  public:
    /// Creates the container at `path` (a temporary the caller made) in the
    /// format that `target_name`'s extension calls for, with one video stream
    /// encoded from RGBA frames of `source`'s sample type and every audio,
    /// subtitle and data stream of `source` copied as it is, from the packets
    /// that arrive in `packets` (copied_streams() says which streams those are).
    ///
    /// The encoder, when `settings.codec` is empty: the encoder of the
    /// source's own video codec when this FFmpeg has one and the container
    /// can hold that codec (prores_ks for ProRes, libx264 for H.264, never a
    /// hardware wrapper); otherwise by container: ProRes 4444 (prores_ks) for
    /// .mov, FFV1 for .mkv .nut .avi, libx264 (mpeg4 without it) for the
    /// others. The pixel format, when `settings.pix_fmt` is empty: the
    /// source's own when the encoder takes it (a 4:2:0 H.264 stays 4:2:0);
    /// else the encoder's format nearest to the frames' RGBA (8, 16 bits or
    /// float), alpha counted when the source has it, by FFmpeg's own ranking
    /// (avcodec_find_best_pix_fmt_of_list), the ffmpeg program's choice.
    /// Throws MovieError naming `target_name` for an unknown container or
    /// encoder, a pixel format the encoder does not take, a stream the
    /// container cannot hold, and any FFmpeg failure.
    MovieWriter(const std::string& path, const std::string& target_name, const MovieSource& source,
                const MovieWriteSettings& settings, CopiedPackets& packets);
    /// On a writer that did not finish: frees everything and writes no
    /// trailer (the caller drops the temporary).
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    /// The source's streams (indexes in the source) whose packets the writer
    /// copies: the reader queues these into the writer's CopiedPackets.
    const std::vector<int>& copied_streams() const;

    /// Converts `frame` (the size and sample type of the source's frames)
    /// into `into` for the encoder. From any thread, for different
    /// EncoderFrames at once. Throws MovieError.
    void Prepare(const MovieFrame& frame, EncoderFrame& into) const;
    /// Encodes a prepared frame with its pts and duration, and writes the
    /// copied packets queued meanwhile. In frame order. Throws MovieError.
    void Write(EncoderFrame& frame);
    /// Prepare and Write in one, for a caller on one thread.
    void Write(const MovieFrame& frame);
    /// Drains the encoder, writes the rest of the copied packets, which must
    /// all have arrived (the queue is closed: the source was read to its
    /// end; std::logic_error otherwise), writes the trailer and closes the
    /// file. Throws MovieError.
    void Finish();

    /// The encoder's name and pixel format, e.g. "ffv1 (bgra)", for notes.
    std::string EncoderDescription() const;

    /// What the output keeps, for --help: one paragraph.
    static std::string_view Keeps();

    /// What the output leaves out of the source, for notes: a display matrix
    /// it has no place for, what a re-encode cannot carry (Dolby Vision,
    /// HDR10+, captions an encoder drops), a start time AVI cannot hold.
    const std::vector<std::string>& notes() const;

    /// True when FFmpeg has a movie format for `target_name`'s extension.
    static bool HasFormatFor(const std::string& target_name);
    /// The source's streams a writer for `target_name` copies (copied_streams()
    /// of such a writer), known before one is made.
    static std::vector<int> CopiedStreams(const MovieSource& source,
                                          const std::string& target_name);
    /// True when a movie named `target_name` keeps the source's display
    /// matrix (QuickTime and MP4), so its frames need not be turned.
    static bool KeepsDisplayMatrix(const std::string& target_name);

  private:
    struct Internals;
    std::unique_ptr<Internals> out_;
};

}  // namespace render
