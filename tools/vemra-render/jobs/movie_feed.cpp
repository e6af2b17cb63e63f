#include "tools/vemra-render/jobs/movie_feed.h"

#include <fmt/format.h>

#include <utility>

namespace render {

MovieFeed::MovieFeed(MovieDemuxer& demuxer, MovieDecoder& decoder,
                     std::function<bool(int stream)> takes)
    : demuxer_(demuxer), decoder_(decoder), takes_(std::move(takes)) {}

bool MovieFeed::Next(DecodedFrame& into) {
    for (;;) {
        switch (decoder_.Receive(into)) {
            case MovieDecoder::Result::kFrame:
                return true;
            case MovieDecoder::Result::kEnd:
                return false;
            case MovieDecoder::Result::kNeedPacket:
                break;
        }
        try {
            FeedDecoder();
        } catch (const DemuxError& e) {
            throw MovieError(fmt::format("{}: frame {}: {}", e.file(),
                                         decoder_.frames_decoded() + 1, e.cause()));
        }
    }
}

void MovieFeed::ReadOthers(const std::function<bool(const MoviePacket& packet)>& done) {
    const int video = demuxer_.source().video.index;
    while (!ended_ && demuxer_.Read(packet_)) {
        if (done(packet_)) break;
        const int stream = packet_.stream();
        if (stream != video && takes_ && takes_(stream)) others_.Push(std::move(packet_));
    }
    ended_ = true;
    others_.Close();
}

void MovieFeed::FeedDecoder() {
    const int video = demuxer_.source().video.index;
    while (!ended_) {
        if (!demuxer_.Read(packet_)) {
            ended_ = true;
            others_.Close();
            decoder_.SendEnd();
            return;
        }
        const int stream = packet_.stream();
        if (stream == video) {
            decoder_.Send(packet_);
            return;
        }
        if (takes_ && takes_(stream)) others_.Push(std::move(packet_));
    }
}

}  // namespace render
