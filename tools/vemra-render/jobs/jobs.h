// The tool's jobs, one file each: the test chart (chart_job.cpp), image
// files and sequences (file_job.cpp), raw video through pipes (raw_job.cpp),
// movies (movie_job.cpp), sequences into movies (sequence_movie_job.cpp), the farm's task range
// (task_job.cpp) and the effect's description (describe_job.cpp). Each throws an exception with a
// one-line message on failure; app/exit_status.h turns it into the exit status.
#pragma once

#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/session/effect_session.h"

namespace render {

/// Runs the job `options` asks for with the loaded effect: --describe, --raw,
/// a movie input, files, or the test chart when no input is given.
void RunJob(const Options& options, EffectSession& session);

/// Renders the test chart (no input given) to the output -o names and
/// writes the before/after sheet beside it; prints the two paths on
/// standard output.
void RunChart(const Options& options, EffectSession& session);

/// Renders the input files or frame pattern (or, with --task, one chunk of
/// it) to the output. A sequence ends with a line counting the frames
/// rendered, skipped (--skip-existing) and failed; it throws unless every
/// frame's output exists at the end.
void RunFiles(const Options& options, EffectSession& session);

/// Renders a movie (an input io/movie_formats.h names a movie): into a
/// movie, whole, with its other streams and timing kept; or into image
/// files, one a frame.
void RunMovie(const Options& options, EffectSession& session);

/// Renders an image sequence (a pattern, several files, or one file of
/// several frames) into a movie: its frames in order at its rate.
void RunSequenceMovie(const Options& given, EffectSession& session);

/// Renders raw frames from standard input to standard output.
void RunRaw(const Options& options, EffectSession& session);

/// Prints the array range of tasks (--print-tasks) the input pattern needs
/// in chunks of --chunk frames, e.g. "1-24". Needs no effect.
void PrintTasks(const Options& options);

/// Prints the about text, the declared controls and the layouts rendered.
void Describe(EffectSession& session);

}  // namespace render
