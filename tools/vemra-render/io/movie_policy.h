// What the tool decides about the movies it writes, as one table: for each
// container, the codecs it holds, the video encoders it falls back to when
// the source's codec cannot go in, what it converts sound and text
// subtitles to when it cannot hold theirs, and how it stores the start time,
// a display matrix, the field order, time itself (in whole frames, or a
// clock), reordered frames, a codec delay and an alpha side stream; for
// each encoder, what it counts in and carries (captions, coding as fields,
// HDR10 parameters, alpha) and what sets its rate; for each codec, the
// profiles kept from the source and the nearest format where a container
// cannot hold it. The encoder, the muxer, the stream plan and the movie job
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
/// (empty: the encoder's default) and the pixel format that profile codes
/// (empty: the one nearest to the frames).
struct EncoderChoice {
    std::string_view encoder;
    std::string_view profile;
    std::string_view pixel_format = {};
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
    /// The encoder for a sound stream it cannot hold, as the ffmpeg program
    /// converts one; empty: such sound is dropped with a note.
    std::string_view audio_encoder;
    /// The only sample rate its muxer takes for sound (MXF: 48 kHz); 0: any.
    int audio_rate;
    /// The encoder for a text subtitle stream it cannot hold; empty: text
    /// subtitles it cannot hold are dropped with a note (bitmap subtitles
    /// it cannot hold always are).
    std::string_view text_subtitle_encoder;
    /// Video codecs it stores without composition times: their frames must
    /// be coded in display order (no B-frames).
    std::span<const std::string_view> no_reordering;
    /// Stores Opus's codec delay apart from the timestamps (Matroska's
    /// CodecDelay): its demuxer reads such a stream that much earlier and
    /// its muxer does not add it back, so the stream is written that much
    /// later, and a second pass moves nothing.
    bool codec_delay_apart;
    /// Its muxer tags 4:2:2 10-bit H.264 at AVC-Intra sizes as AVC-Intra
    /// (ai1q, ai12) unless told to follow unofficial practice, which keeps avc1.
    bool avc_intra_tags;
    /// Holds the alpha that VP8 and VP9 carry beside their frames.
    bool alpha_side_stream;
    /// Starts a stream inside its first packet through an edit list
    /// (QuickTime's and MP4's): copied sound cut to a part of a movie, or
    /// a sound file laid in, starts exactly with the first frame. Elsewhere
    /// it starts at a packet boundary.
    bool edit_list;
    /// The default video encoder for frames that come from images (an image
    /// sequence, an animated GIF or PNG) without alpha: the first of these
    /// that FFmpeg has; empty, and for frames with alpha: the fallback.
    std::span<const EncoderChoice> images;
};

/// What sets an encoder's rate when the user gives no --quality.
enum class RateRule {
    kQuality,     ///< its own quality default (crf): libx264, libx265, libvpx
    kProfile,     ///< the profile kept from the source (ProRes, DNxHR)
    kSourceRate,  ///< the source's bit rate, maximum and buffer (MPEG-1/2)
};

/// What an encoder counts in and carries.
struct EncoderPolicy {
    std::string_view encoder;
    bool counts_in_frames = false;  ///< its time base is one frame (MPEG-1/2 and MPEG-4 video)
    bool captions = false;          ///< embeds A/53 closed captions from the frames
    bool field_coding = false;      ///< codes interlaced frames as fields
    bool hdr_parameters = false;    ///< takes HDR10 metadata through its own parameters
    RateRule rate = RateRule::kQuality;
    /// Codes alpha beside the frames (VP8, VP9): kept only in containers
    /// with an alpha side stream.
    bool alpha_side_stream = false;
    /// The profile (its option) it is told when named with --codec for
    /// another codec's source; empty: its own default. DNxHD's own default
    /// takes a few frame sizes only; DNxHR HQ takes any.
    std::string_view default_profile = {};
};

/// A profile of a codec as FFmpeg numbers it (AVCodecParameters.profile),
/// and what its encoder is told to keep it.
struct ProfileRule {
    std::string_view codec;         ///< FFmpeg's codec name
    int profile;                    ///< FFmpeg's number for it
    std::string_view name;          ///< as notes and --help name it
    std::string_view option;        ///< the encoder's "profile" option
    std::string_view pixel_format;  ///< the one it codes; empty: the source's
    bool intra = false;             ///< every frame a key frame (H.264's intra profiles)
    bool source_rate = false;       ///< defined by its rate: the source's is kept (DNxHD)
};

/// The nearest format for a codec a container cannot hold: `from`'s
/// profile `from_profile` becomes `to`'s profile `to_profile` (ProRes into
/// MXF, whose muxer takes no ProRes, becomes DNxHR).
struct NearestFormat {
    std::string_view from;
    int from_profile;
    std::string_view to;
    int to_profile;
};

/// A decoder that reads what FFmpeg's own decoder of a codec drops: VP8 and
/// VP9 streams tagged alpha_mode=1 carry an alpha side stream that only
/// libvpx's decoders give.
struct AlphaDecoder {
    std::string_view codec;
    std::string_view decoder;
};

/// Every container the tool writes, every encoder with rules of its own,
/// every profile kept, every nearest format.
std::span<const ContainerPolicy> MovieContainers();
std::span<const EncoderPolicy> MovieEncoders();
std::span<const ProfileRule> MovieProfiles();
std::span<const NearestFormat> NearestFormats();

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

/// The profile rule of `codec`'s profile `profile`; null when none.
const ProfileRule* ProfileFor(std::string_view codec, int profile);

/// The profile rule of `codec` whose encoder option is `option`; null when none.
const ProfileRule* ProfileNamed(std::string_view codec, std::string_view option);

/// The first profile rule of `codec` that codes `pixel_format`; null when none.
const ProfileRule* ProfileCoding(std::string_view codec, std::string_view pixel_format);

/// The format a container that cannot hold `codec` takes instead for its
/// profile `profile`: a rule of the table, or null.
const ProfileRule* NearestFor(std::string_view codec, int profile);

/// The decoder that reads the alpha side stream of `codec`; empty: none.
std::string_view AlphaDecoderFor(std::string_view codec);

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
