#include "tools/vemra-render/io/ffmpeg_common.h"

#include <fmt/format.h>

#include <array>
#include <new>

#include "tools/vemra-render/io/movie_error.h"

namespace render::movie {

std::string ErrorText(int code) {
    // FFmpeg's own words where they would mislead a reader of the tool's
    // message: its request for patches names a feature it lacks.
    if (code == kErrorPatchWelcome) return "it uses a feature this FFmpeg does not implement";
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    if (av_strerror(code, text.data(), text.size()) < 0) return fmt::format("error {}", code);
    return text.data();
}

FramePtr NewFrame() {
    FramePtr frame(av_frame_alloc());
    if (!frame) throw std::bad_alloc();
    return frame;
}

PacketPtr NewPacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet) throw std::bad_alloc();
    return packet;
}

FramePtr NewFrameWithBuffer(AVPixelFormat format, int width, int height, const std::string& name) {
    FramePtr frame = NewFrame();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (int code = av_frame_get_buffer(frame.get(), 0); code < 0) {
        throw MovieError(fmt::format("{}: frame buffer: {}", name, ErrorText(code)));
    }
    return frame;
}

}  // namespace render::movie
