// The output side of a run into a movie, whatever its frames come from (a
// movie's decoder, image files): the encoder, the muxer, a converter for
// each stream the output converts, and a sound file laid in. Made before
// any frame, so that whatever they refuse is refused first; started with
// the first frame; fed the frames in order from the finish stage, each
// with the other streams' packets that wait meanwhile.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/vemra-render/io/movie_encoder.h"
#include "tools/vemra-render/io/movie_muxer.h"
#include "tools/vemra-render/io/movie_span.h"
#include "tools/vemra-render/io/stream_converter.h"
#include "tools/vemra-render/io/stream_plan.h"
#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/jobs/sound_file.h"
#include "tools/vemra-render/run/notes.h"

namespace render {

/// Where a movie output's streams come from: the source's description with
/// a sound file's streams added (--audio-file), and each stream's route.
struct MovieSources {
    SourceDescription described;
    std::vector<StreamRoute> routes;
    std::unique_ptr<SoundFile> sound;
    std::string placement_note;  ///< how the sound file was placed; empty: nothing to say

    /// The routes of `source`'s streams into options.output, as --audio
    /// and --subtitles ask, and the sound file --audio-file names.
    MovieSources(const Options& options, const SourceDescription& source);
    /// The streams the output holds, for --skip-existing.
    std::size_t OutputStreamCount() const;
};

class MovieOutput {
  public:
    /// The stages for `sources` (kept by reference, as the muxer keeps its
    /// description) going into options.output.
    MovieOutput(const Options& options, MovieSources& sources);

    /// True for a stream of the description whose packets the muxer takes.
    bool Takes(int stream) const { return muxer_.Takes(stream); }
    MovieEncoder& encoder() { return encoder_; }
    bool started() const { return encoder_.opened(); }

    /// Opens the encoder with the first frame (null: there is none) and
    /// starts the muxer for the frames of `span`, printing what the output
    /// changes of the source and leaves out.
    void Start(const EncoderFrame* first, const MovieSpan& span, Notes& notes);

    /// What gives the packets of the source's other streams that wait.
    using TakeOther = std::function<bool(MoviePacket& packet)>;
    /// Encodes `frame` (null: drains the encoder and the converters, and
    /// reads the sound file to its end) and writes what waits for the
    /// muxer: the encoder's packets, the other streams' that `take` gives,
    /// copied or converted, and the sound file's up to a second past
    /// `time` (microseconds on the source's timeline).
    void Write(EncoderFrame* frame, std::int64_t time, const TakeOther& take);

    /// Finishes the file; its notes go to `notes`.
    void Finish(Notes& notes);

  private:
    void WriteOther(MoviePacket& packet);
    /// Reads the sound file while its packets lie before `until`
    /// (microseconds on the source's timeline; kNoTime: to its end).
    void ReadSound(std::int64_t until);

    MovieSources& sources_;
    MovieMuxer muxer_;
    MovieEncoder encoder_;
    /// A converter for each stream routed to one, by stream index.
    std::map<int, std::unique_ptr<StreamConverter>> converters_;
    MoviePacket sound_packet_;
    bool sound_waiting_ = false;  ///< sound_packet_ holds a packet read ahead
};

/// The encoder settings the options ask for.
EncoderSettings SettingsOf(const Options& options);

}  // namespace render
