// A packet of a movie stream on its way between stages, owned: from the
// demuxer to the decoder or, for a stream copied as it is, to the muxer;
// from the encoder to the muxer.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVPacket;  // FFmpeg's packet

namespace render {

class MoviePacket {
  public:
    /// A blank packet; throws std::bad_alloc.
    MoviePacket();
    ~MoviePacket();
    MoviePacket(MoviePacket&& other) noexcept;
    MoviePacket& operator=(MoviePacket&& other) noexcept;
    MoviePacket(const MoviePacket&) = delete;
    MoviePacket& operator=(const MoviePacket&) = delete;

    AVPacket* get() { return packet_; }
    const AVPacket* get() const { return packet_; }
    /// The stream it belongs to, by its index in its file.
    int stream() const;
    /// Numbers it as stream `index` (of another description than its file's).
    void SetStream(int index);
    /// Its presentation time, else its decoding time, in its stream's time
    /// base; kNoTime (movie_source.h) when it has neither.
    std::int64_t time() const;
    /// Its data's size in bytes.
    std::size_t size() const;
    /// Drops its data, keeping the packet for reuse.
    void Clear();

  private:
    AVPacket* packet_;
};

}  // namespace render
