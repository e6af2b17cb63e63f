#include "tools/vemra-render/io/copied_packets.h"

#include <deque>

#include "tools/vemra-render/io/ffmpeg_common.h"

namespace render {

struct CopiedPackets::Queue {
    std::deque<movie::PacketPtr> packets;
    bool closed = false;
};

CopiedPackets::CopiedPackets() : queue_(std::make_unique<Queue>()) {}
CopiedPackets::~CopiedPackets() = default;

void CopiedPackets::Push(AVPacket* packet) {
    queue_->packets.push_back(movie::NewPacket());
    av_packet_move_ref(queue_->packets.back().get(), packet);
}

void CopiedPackets::Close() {
    queue_->closed = true;
}

bool CopiedPackets::Pop(AVPacket* into) {
    if (queue_->packets.empty()) return false;
    av_packet_move_ref(into, queue_->packets.front().get());
    queue_->packets.pop_front();
    return true;
}

bool CopiedPackets::closed() const {
    return queue_->closed;
}

}  // namespace render
