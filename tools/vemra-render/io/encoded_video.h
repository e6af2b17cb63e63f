// The encoded video stream as the encoder hands it to the muxer, once open:
// its codec parameters, its packets' time base, and what its first frame
// carried that the output may have to leave out; and a converted sound or
// subtitle stream as its converter hands it over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/vemra-render/io/movie_source.h"

namespace render {

struct EncodedVideo {
    CodecParameters parameters;
    Rational time_base;             ///< of the packets
    bool counts_in_frames = false;  ///< the stream's time base must be the packets'
    std::string encoder;            ///< its name
    /// HDR10's static metadata the stream carries: the source stream's, else
    /// its first frame's (as in SourceVideo); empty: none.
    std::vector<std::uint8_t> mastering;
    std::vector<std::uint8_t> light_level;
    /// The coded picture buffer's properties the encoder declares for a
    /// rate kept from the source (FFmpeg's AVCPBProperties, as bytes; empty:
    /// none): the MPEG muxers size their buffers by them.
    std::vector<std::uint8_t> buffer;
    /// What the first frame carried that a note may have to name as dropped.
    bool hdr10_plus = false;
    bool captions = false;
};

/// A sound or subtitle stream as a converter encodes it, for the muxer.
struct EncodedStream {
    int source_index = -1;  ///< the source stream it is converted from
    CodecParameters parameters;
    Rational time_base;  ///< of the packets
};

}  // namespace render
