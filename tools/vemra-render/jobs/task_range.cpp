#include "tools/vemra-render/jobs/task_range.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <charconv>

namespace render {

long ParseTaskIndex(const std::string& text,
                    const std::function<const char*(const char*)>& getenv) {
    std::string value = text;
    std::string source = "--task";
    if (text == "auto") {
        value.clear();
        for (const char* variable : kTaskIndexVariables) {
            if (const char* set = getenv(variable); set != nullptr && *set != '\0') {
                value = set;
                source = variable;
                break;
            }
        }
        if (value.empty()) {
            throw TaskError(
                fmt::format("--task auto: no array task index in the environment "
                            "(looked for {})",
                            fmt::join(kTaskIndexVariables, ", ")));
        }
    }
    long task = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), task);
    if (error != std::errc() || end != value.data() + value.size() || task < 1) {
        throw TaskError(fmt::format("{} {}: give a task number from 1{}", source, value,
                                    text == "auto" ? "" : ", or auto"));
    }
    return task;
}

long TaskCount(std::size_t frames, long chunk) {
    return long((frames + std::size_t(chunk) - 1) / std::size_t(chunk));
}

std::span<const long> ChunkOfTask(std::span<const long> frames, long chunk, long task) {
    if (task < 1 || task > TaskCount(frames.size(), chunk)) return {};
    const std::size_t first = std::size_t(task - 1) * std::size_t(chunk);
    return frames.subspan(first, std::min(std::size_t(chunk), frames.size() - first));
}

std::string TaskRange(long tasks) {
    return fmt::format("1-{}", tasks);
}

}  // namespace render
