// FFmpeg's log, taken by a callback of the tool's: FFmpeg prints nothing
// itself any more. Errors and warnings (quieter messages are dropped) go to
// run/library_log.h, which hands them to whatever watches the object they
// were logged against, or to the notes. Only io/ includes it.
#pragma once

#include <string>
#include <string_view>

#include "tools/vemra-render/run/library_log.h"

namespace render {

/// Installs the callback, once per process; later calls do nothing.
void InstallFfmpegLog();

/// True when `text`, a message FFmpeg logged against a demuxer, reports a
/// damaged packet that carries no flag saying so (see the table in
/// ffmpeg_log.cpp, which names the demuxer behind each message).
bool ReportsDamage(std::string_view text);

/// `message`, with the last error FFmpeg logged against what `log` watches
/// after it in brackets, so that a failure's line names its cause.
std::string WithCause(const std::string& message, const LogWatch& log);

}  // namespace render
