// The tool's three kinds of job: the built-in test chart, files (one, several
// or a frame sequence) and raw video through pipes. Each throws a
// std::runtime_error with a one-line message on failure.
#pragma once

#include "sim/host.h"
#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/session/effect_session.h"

namespace render {

/// The effect control values: the options given, the declared defaults for
/// the rest, checked against the declared ranges (EffectError).
sim::ParamValues ControlValues(const Options& options, const EffectSession& session);

/// Renders the test chart (no input given) to the output, default
/// "vemra-chart.png", and writes the before/after sheet beside it; prints the
/// two paths on standard output.
void RunChart(const Options& options, EffectSession& session);

/// Renders the input files or frame pattern (or, with --task, one chunk of
/// it) to the output. A sequence ends with a line counting the frames
/// rendered, skipped (--skip-existing) and failed; it throws unless every
/// frame's output exists at the end.
void RunFiles(const Options& options, EffectSession& session);

/// Prints the array range of tasks (--print-tasks) the input pattern needs
/// in chunks of --chunk frames, e.g. "1-24".
void PrintTasks(const Options& options);

/// Renders a movie (an input the movie reader takes, movie_reader.h): into
/// a movie, whole, with its other streams and timing kept; or into image
/// files, one a frame. Lives in movie_job.cpp.
void RunMovie(const Options& options, EffectSession& session);

/// Renders raw frames from standard input to standard output.
void RunRaw(const Options& options, EffectSession& session);

/// Prints the about text and the declared controls as a table.
void Describe(EffectSession& session);
/// The declared controls as a table, for --describe and --help.
std::string ControlTable(const EffectSession& session);

}  // namespace render
