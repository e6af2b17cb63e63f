// The packets of the streams a movie writer copies unchanged (sound,
// subtitles, data), on their way from the reader, which meets them while it
// looks for video, to the writer: in file order, which is the order the
// writer interleaves them in. The reader and the writer know this queue and
// not each other, and run at once: the queue is safe from any thread.
#pragma once

#include <memory>

struct AVPacket;

namespace render {

class CopiedPackets {
  public:
    CopiedPackets();
    ~CopiedPackets();
    CopiedPackets(const CopiedPackets&) = delete;
    CopiedPackets& operator=(const CopiedPackets&) = delete;

    /// Queues `packet`, taking its reference (it is left blank).
    void Push(AVPacket* packet);
    /// Says that no packet follows the ones queued: the source was read to its end.
    void Close();
    /// The writer gives up (the run failed): what is queued is dropped, and
    /// later packets too.
    void Stop();

    /// Moves the oldest queued packet into `into` (blank); false when none is queued.
    bool Pop(AVPacket* into);
    /// Close() was called.
    bool closed() const;

  private:
    struct Queue;
    std::unique_ptr<Queue> queue_;
};

}  // namespace render
