#include "tools/vemra-render/jobs/movie_part.h"

#include <fmt/format.h>

#include <cmath>
#include <vector>

#include "tools/vemra-render/io/frame_pattern.h"

namespace render {

namespace {

/// The run A-B --frames names, from 1.
std::pair<long, long> FrameRun(const Options& options) {
    const std::vector<long> numbers = ParseFrameRange(options.frames);
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] != numbers[i - 1] + 1) {
            throw UsageError(fmt::format("--frames {}: a movie output takes one run of frames, A-B",
                                         options.frames));
        }
    }
    if (numbers.front() < 1) {
        throw UsageError(fmt::format("--frames {}: a movie's frames count from 1", options.frames));
    }
    return {numbers.front(), numbers.back()};
}

}  // namespace

long MoviePart::NumberAt(std::int64_t pts) const {
    if (frame <= 0 || pts == kNoTime) return 0;
    return std::lround(double(pts - first) / frame) + 1;
}

std::int64_t MoviePart::SeekTarget() const {
    if (from == kNoTime || from <= first) return kNoTime;
    return from - FromMicroseconds(1000000, time_base);
}

MoviePart PlanPart(const Options& options, const SourceDescription& source) {
    MoviePart part;
    const SourceStream& video = source.video_stream();
    part.time_base = video.time_base;
    part.first = video.start_time != kNoTime ? video.start_time : 0;
    const Rational rate = source.video.frame_rate;
    const bool even = source.video.spacing && source.video.spacing->even && rate.valid();
    if (even) {
        part.frame =
            double(rate.den) * video.time_base.den / (double(rate.num) * video.time_base.num);
    }
    if (!options.frames.empty()) {
        if (options.start || options.duration) {
            throw UsageError("--frames, or --start and --duration: one way to pick the part");
        }
        const auto [first, last] = FrameRun(options);
        if (!even) {
            throw UsageError(fmt::format(
                "--frames {}: the frames of {} are not evenly spaced; give --start and --duration",
                options.frames, source.path));
        }
        const auto at = [&](double frames) {
            return part.first + std::llround(frames * part.frame);
        };
        part.from = at(double(first - 1) - 0.5);
        part.to = at(double(last - 1) + 0.5);
        part.end = at(double(last));
        part.count = last - first + 1;
        return part;
    }
    if (!options.start && !options.duration) return part;
    const std::int64_t file_start = source.start_time != kNoTime ? source.start_time : 0;
    const std::int64_t from = file_start + options.start.value_or(0);
    part.from = FromMicroseconds(from, video.time_base);
    if (!options.duration) return part;
    part.to = FromMicroseconds(from + *options.duration, video.time_base);
    part.end = part.to;
    if (even) {
        // The frames are those starting in [from, to): the part ends where
        // the last of them does, on the frames' grid, and the other streams
        // with it.
        const auto grid = [&](std::int64_t time) {
            return long(std::ceil(double(time - part.first) / part.frame - 1e-6));
        };
        part.count = grid(part.to) - grid(part.from);
        part.end = part.first + std::llround(double(grid(part.to)) * part.frame);
    } else if (rate.valid()) {
        part.count = long(std::ceil(double(*options.duration) * rate.num / (1e6 * rate.den)));
    }
    return part;
}

PartEnd::PartEnd(const SourceDescription& source, const MoviePart& part, std::set<int> streams)
    : source_(source), waiting_(std::move(streams)) {
    if (part.end != kNoTime) end_ = ToMicroseconds(part.end, part.time_base);
}

bool PartEnd::operator()(const MoviePacket& packet) {
    if (end_ == kNoTime) return false;  // to the end of the file
    const std::int64_t time = packet.time();
    if (time == kNoTime) return false;
    const SourceStream& stream = source_.streams[std::size_t(packet.stream())];
    const std::int64_t at = ToMicroseconds(time, stream.time_base);
    constexpr std::int64_t kLongest = 5000000;
    if (at >= end_ + kLongest) return true;
    if (at >= end_) waiting_.erase(stream.index);
    return waiting_.empty();
}

PartFrames::PartFrames(const Options& options, MovieDemuxer& demuxer,
                       const SourceDescription& source, const MoviePart& part, MovieOutput& output)
    : source_(source),
      part_(part),
      decoder_(source, options.codec_threads),
      feed_(demuxer, decoder_, [&output](int stream) { return output.Takes(stream); }) {
    std::set<int> taken;
    for (const SourceStream& stream : source.streams) {
        if (output.Takes(stream.index)) taken.insert(stream.index);
    }
    end_.emplace(source, part, std::move(taken));
    // Seeking by the index: the key frame before the part, decoded on.
    if (const std::int64_t target = part.SeekTarget(); target != kNoTime) {
        demuxer.Seek(source.video.index, target);
    }
}

bool PartFrames::Next(DecodedFrame& into) {
    for (;;) {
        if (!feed_.Next(into)) return false;
        const std::int64_t pts = into.pts();
        if (pts != kNoTime && part_.Before(pts)) continue;
        if (pts != kNoTime && part_.Past(pts)) {
            feed_.ReadOthers(*end_);
            return false;
        }
        if (first_ == kNoTime) {
            first_ = pts;
            // A seek that landed past the part's first frame would cut it.
            if (part_.SeekTarget() != kNoTime && pts != kNoTime &&
                part_.NumberAt(pts) > part_.NumberAt(part_.from) + 1) {
                throw MovieError(fmt::format(
                    "{}: cannot reach the part's first frame: the first frame read after seeking "
                    "is frame {}",
                    source_.path, part_.NumberAt(pts)));
            }
        }
        ++taken_;
        return true;
    }
}

}  // namespace render
