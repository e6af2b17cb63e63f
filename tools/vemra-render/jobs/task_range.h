// A long sequence split into chunks, one per task of a farm scheduler's
// array job: task 1 renders the first `chunk` frames of the sequence's frame
// list, task 2 the next, and so on. Tasks count from 1, as the array indices
// of Slurm's documentation examples, SGE and LSF do; a task past the last
// chunk has nothing to render, which is a success (an array submitted with a
// rounded-up range).
#pragma once

#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace render {

/// Thrown for a task index that cannot be used; the message says why.
class TaskError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// The environment variables that carry an array task's index, in the order
/// they are looked at by `--task auto`: Slurm, SGE, LSF, PBS Pro.
inline constexpr const char* kTaskIndexVariables[] = {"SLURM_ARRAY_TASK_ID", "SGE_TASK_ID",
                                                      "LSB_JOBINDEX", "PBS_ARRAY_INDEX"};

/// The task index `text` names: a number from 1, or "auto" for the first of
/// kTaskIndexVariables that is set (`getenv` looks them up). Throws TaskError
/// for anything else, or for "auto" with none set.
long ParseTaskIndex(const std::string& text, const std::function<const char*(const char*)>& getenv);

/// How many tasks `frames` frames need in chunks of `chunk` (at least 1).
long TaskCount(std::size_t frames, long chunk);

/// The frames task `task` renders: entries (task - 1) * chunk onwards, at
/// most `chunk` of them; empty for a task past the last chunk.
std::span<const long> ChunkOfTask(std::span<const long> frames, long chunk, long task);

/// The array range to submit for `tasks` tasks, e.g. "1-24".
std::string TaskRange(long tasks);

}  // namespace render
