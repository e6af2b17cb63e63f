#include "tools/vemra-render/io/movie_packet.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
}

#include <new>
#include <utility>

namespace render {

MoviePacket::MoviePacket() : packet_(av_packet_alloc()) {
    if (packet_ == nullptr) throw std::bad_alloc();
}

MoviePacket::~MoviePacket() {
    av_packet_free(&packet_);
}

// Moving swaps: the moved-from packet is another blank or queued one, never
// null, so it can be read into again.
MoviePacket::MoviePacket(MoviePacket&& other) noexcept : packet_(av_packet_alloc()) {
    std::swap(packet_, other.packet_);
}

MoviePacket& MoviePacket::operator=(MoviePacket&& other) noexcept {
    std::swap(packet_, other.packet_);
    return *this;
}

int MoviePacket::stream() const {
    return packet_->stream_index;
}

void MoviePacket::SetStream(int index) {
    packet_->stream_index = index;
}

std::int64_t MoviePacket::time() const {
    return packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
}

std::size_t MoviePacket::size() const {
    return packet_->size < 0 ? 0 : std::size_t(packet_->size);
}

void MoviePacket::Clear() {
    av_packet_unref(packet_);
}

}  // namespace render
