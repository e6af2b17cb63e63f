#include "tools/vemra-render/io/copied_packets.h"

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/run/handoff_queue.h"

namespace render {

struct CopiedPackets::Queue {
    HandoffQueue<movie::PacketPtr> packets;
};

CopiedPackets::CopiedPackets() : queue_(std::make_unique<Queue>()) {}
CopiedPackets::~CopiedPackets() = default;

void CopiedPackets::Push(AVPacket* packet) {
    movie::PacketPtr queued = movie::NewPacket();
    av_packet_move_ref(queued.get(), packet);
    queue_->packets.Push(std::move(queued));
}

void CopiedPackets::Close() {
    queue_->packets.Close();
}

void CopiedPackets::Stop() {
    queue_->packets.Stop();
}

bool CopiedPackets::Pop(AVPacket* into) {
    movie::PacketPtr oldest;
    if (!queue_->packets.TryPop(oldest)) return false;
    av_packet_move_ref(into, oldest.get());
    return true;
}

bool CopiedPackets::closed() const {
    return queue_->packets.closed();
}

}  // namespace render
