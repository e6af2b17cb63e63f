// What the tool decides about the movies it writes, as one table: for each
// container, the codecs it holds, the video encoders it falls back to when
// the source's codec cannot go in, and how it stores the start time, a
// display matrix, the field order and time itself (in whole frames, or a
// clock); for each encoder, what it counts in and carries (captions, coding
// as fields, HDR10 parameters). The encoder, the muxer and the movie job
// read it; --help prints its section from it, and docs/movies.md's tables
// print the same (a test compares them, and writes a header for every codec
// each container is said to hold). FFmpeg's avformat_query_codec cannot fill
// it (it answers "unknown" for most codecs in MXF and MPEG-TS, and yes where
// a muxer refuses), so its lists are written here by hand.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "tools/vemra-render/io/movie_source.h"

namespace render {

/// An encoder the tool may choose by itself, with the profile it asks for
/// (empty: the encoder's default).
struct EncoderChoice {
    std::string_view encoder;
    std::string_view profile;
};

/// How a container stores interlaced video's field order.
enum class FieldOrderStore {
    kStream,  ///< in the stream's own header (QuickTime, Matroska)
    kVideo,   ///< in the coded video only (MXF, from the MPEG-2 video itself)
    kNone,    ///< nowhere (NUT)
};

struct ContainerPolicy {
    std::string_view muxer;  ///< FFmpeg's muxer
    std::string_view name;   ///< as --help names it
    std::span<const std::string_view> endings;
    /// What it holds, by FFmpeg's codec names.
    std::span<const std::string_view> video;
    std::span<const std::string_view> audio;
    std::span<const std::string_view> subtitles;
    /// Data streams it carries; those of other codecs are left out.
    std::span<const std::string_view> data;
    bool attachments;  ///< fonts and other attached files
    /// The default video encoder where the source's codec cannot go in (or
    /// FFmpeg has no encoder for it): the first of these that FFmpeg has.
    std::span<const EncoderChoice> fallback;
    bool counts_in_frames;  ///< time in whole frames: evenly spaced frames only
    bool start_time;        ///< keeps a start after 0
    bool display_matrix;    ///< keeps a display matrix (a phone's upright clip)
    FieldOrderStore field_order;
};

/// What an encoder counts in and carries.
struct EncoderPolicy {
    std::string_view encoder;
    bool counts_in_frames = false;  ///< its time base is one frame (MPEG-1/2 and MPEG-4 video)
    bool captions = false;          ///< embeds A/53 closed captions from the frames
    bool field_coding = false;      ///< codes interlaced frames as fields
    bool hdr_parameters = false;    ///< takes HDR10 metadata through its own parameters
};

/// Every container the tool writes.
std::span<const ContainerPolicy> MovieContainers();

/// The container a file named `target` is written in, by its ending (in
/// any case); null when the tool writes no movie of that name.
const ContainerPolicy* ContainerFor(std::string_view target);

/// True when FFmpeg has a muxer for a file named `target`, whether or not
/// the tool writes that container.
bool FfmpegWrites(const std::string& target);

/// The row of `encoder`; an encoder without one counts in the stream's
/// ticks and carries nothing extra.
EncoderPolicy EncoderRules(std::string_view encoder);

/// True when `container` holds a stream of `kind` coded as `codec`
/// (FFmpeg's codec name). Attachments: when it holds attachments at all.
bool Holds(const ContainerPolicy& container, StreamKind kind, std::string_view codec);

/// The encoder the tool takes for `codec` where FFmpeg has several (ProRes:
/// prores_ks, which encodes alpha and every profile); empty: FFmpeg's first
/// software encoder for it.
std::string_view PreferredEncoder(std::string_view codec);

/// The codecs' threads for `threads` --threads: 1.5 times as many each for
/// the decoder and the encoder, which overlap with each other and with the
/// frames in flight (what FFmpeg's decoders, CPUs + 1, and x264, 1.5 x CPUs,
/// take of the CPUs they see by themselves).
int CodecThreads(int threads);
/// The same rule in words, for --help: "1.5 x --threads".
inline constexpr std::string_view kCodecThreadsRule = "1.5 x --threads";

/// What a movie output keeps and how its encoder is chosen, in words, for
/// --help: one paragraph, its lists taken from the table.
std::string MoviePolicyRules();
/// --help's table of containers: a line each.
std::string MoviePolicyHelp();
/// The same table as Markdown, as docs/movies.md holds it.
std::string MoviePolicyMarkdown();

}  // namespace render
