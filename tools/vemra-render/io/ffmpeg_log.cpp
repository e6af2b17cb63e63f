#include "tools/vemra-render/io/ffmpeg_log.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "tools/vemra-render/run/library_log.h"

namespace render {

namespace {

/// The object a logging object belongs to, as FFmpeg's own log finds it
/// (a decoder's parser belongs to its codec, an I/O context to its demuxer).
const void* ParentOf(void* object, const AVClass* type) {
    if (type == nullptr || type->parent_log_context_offset == 0) return nullptr;
    return *reinterpret_cast<void**>(static_cast<std::uint8_t*>(object) +
                                     type->parent_log_context_offset);
}

/// Called by FFmpeg on any of its threads for every message.
void Callback(void* object, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_WARNING) return;
    // A message may come in pieces; each thread keeps its line until the newline.
    thread_local std::string line;
    char piece[1024];
    int print_prefix = 0;
    va_list copy;
    va_copy(copy, arguments);
    av_log_format_line2(nullptr, level, format, copy, piece, sizeof piece, &print_prefix);
    va_end(copy);
    line += piece;
    if (line.empty() || line.back() != '\n') return;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    // A message of several lines (the MPEG-PS muxer's advice on buffer
    // sizes) is one note, on one line.
    for (char& ch : line) {
        if (ch == '\n' || ch == '\r') ch = ' ';
    }
    const AVClass* type = object != nullptr ? *static_cast<const AVClass**>(object) : nullptr;
    const std::string name = type != nullptr ? type->item_name(object) : "ffmpeg";
    RecordLibraryMessage(object, ParentOf(object, type),
                         level <= AV_LOG_ERROR ? LogSeverity::kError : LogSeverity::kWarning,
                         "FFmpeg (" + name + "): " + line);
    line.clear();
}

/// What demuxers log of a damaged packet where the packet itself carries
/// no AV_PKT_FLAG_CORRUPT by the time it reaches the tool, and who logs it.
struct DamageMessage {
    std::string_view text;
    std::string_view logged_by;
};
constexpr DamageMessage kDamageMessages[] = {
    // libavformat's packet reading, for any demuxer: a packet flagged
    // corrupt whose parser (an audio parser's, say) drops the flag when it
    // splits or joins packets.
    {"Packet corrupt", "libavformat's read_frame_internal, any demuxer"},
    // MPEG-TS: a PES packet whose declared length its payload does not
    // match (a cut inside an audio packet), which sets no flag at all.
    {"PES packet size mismatch", "mpegts"},
};

}  // namespace

bool ReportsDamage(std::string_view text) {
    for (const DamageMessage& damage : kDamageMessages) {
        if (text.find(damage.text) != std::string_view::npos) return true;
    }
    return false;
}

std::string WithCause(const std::string& message, const LogWatch& log) {
    const std::string cause = log.LastError();
    return cause.empty() ? message : message + " (" + cause + ")";
}

void InstallFfmpegLog() {
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(Callback); });
}

}  // namespace render
