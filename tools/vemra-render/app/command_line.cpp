#include "tools/vemra-render/app/command_line.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <string_view>
#include <tuple>
#include <vector>

#include "tools/vemra-render/app/help.h"
#include "tools/vemra-render/io/frame_pattern.h"
#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/io/movie_sequence.h"
#include "tools/vemra-render/io/movie_span.h"
#include "tools/vemra-render/jobs/control_options.h"
#include "tools/vemra-render/jobs/option_checks.h"
#include "tools/vemra-render/jobs/task_range.h"
#include "tools/vemra-render/pixels/test_chart.h"
#include "tools/vemra-render/run/work_plan.h"

namespace render {

namespace {

/// Option values as the command line gives them, before they are checked
/// and put into Options; the options CLI11 can fill directly go there.
struct GivenValues {
    std::string chart_size, raw, memory, host, depth, data_type;
    GivenControls sliders;  // filled through kSliderOptions' members
    bool compare = false, clamp = false, no_clamp = false;
    std::string start_number;
    int quality = -1, in_flight = 0;
    std::string pix_fmt, audio, subtitles;
    std::string start, duration, audio_offset, frame_rate;
};

void AddInputOutputOptions(CLI::App& app, Options& options, GivenValues& given) {
    const char* io = "Input and output";
    app.add_option("inputs", options.inputs,
                   "Image files or one frame pattern (none: the built-in test chart)")
        ->type_name("FILE")
        ->group(io);
    app.add_option("-o,--output", options.output,
                   "Output file, frame pattern, or folder for several inputs")
        ->type_name("FILE")
        ->group(io);
    app.add_flag("--compare", given.compare,
                 "Also write a side-by-side before/after sheet (OUTPUT-compare.EXT)")
        ->group(io);
    app.add_option("--compare-output", options.compare_output,
                   "Name of the sheet (a pattern for sequences); implies --compare")
        ->type_name("FILE")
        ->group(io);
    app.add_flag("--overwrite-input", options.overwrite_input,
                 "Allow the output to replace its own input file")
        ->group(io);
    app.add_option(
           "--chart-size", given.chart_size,
           fmt::format("Size of the test chart, WxH (default {}x{})", kChartWidth, kChartHeight))
        ->type_name("WxH")
        ->group(io);
}

void AddControlOptions(CLI::App& app, GivenValues& given) {
    const char* controls = "Effect controls (defaults and ranges from the effect; see --describe)";
    for (const SliderOption& slider : kSliderOptions) {
        app.add_option(slider.names, given.sliders.*slider.given, slider.help)
            ->type_name(slider.type_name)
            ->group(controls);
    }
    app.add_flag(kClampOption.flag, given.clamp, kClampOption.help)->group(controls);
    app.add_flag(kClampOption.off_flag, given.no_clamp, kClampOption.off_help)->group(controls);
}

void AddHostOptions(CLI::App& app, Options& options, GivenValues& given) {
    const char* hosting = "Host";
    app.add_option("--host", given.host, "Host to play (default: by the file's type)")
        ->type_name("ae|prmr")
        ->group(hosting);
    app.add_option("--depth", given.depth, "World depth: 8 or 16 in ae, 8 or float in prmr")
        ->type_name("8|16|float")
        ->group(hosting);
    app.add_option("--plugin", options.plugin,
                   "Effect library to load (default: the one built beside this tool)")
        ->type_name("PATH")
        ->group(hosting);
    app.add_option("--threads", options.threads,
                   "Threads in all, shared out between the frames in flight and each frame's "
                   "host iteration; a movie's decoder and encoder take " +
                       std::string(kCodecThreadsRule) +
                       " each "
                       "(default: the CPUs this process may run on)")
        ->check(CLI::Range(1, 1024).description(""))
        ->type_name("N")
        ->group(hosting);
    app.add_flag("--describe", options.describe,
                 "Print the effect's about text and declared controls, then exit")
        ->group(hosting);
}

void AddFarmOptions(CLI::App& app, Options& options, GivenValues& given, const char* group) {
    app.add_option("--frames", options.frames,
                   "Frames of a pattern or of a file of several frames: 1-240, or 1,5,9-12")
        ->type_name("LIST")
        ->group(group);
    app.add_option("--chunk", options.chunk, "Frames per farm task (with --task or --print-tasks)")
        ->check(CLI::PositiveNumber.description(""))
        ->type_name("N")
        ->group(group);
    app.add_option("--task", options.task_text,
                   "Which chunk to render, from 1; auto: the scheduler's array index")
        ->type_name("T|auto")
        ->group(group);
    app.add_flag("--print-tasks", options.print_tasks,
                 "Print the array range of tasks the sequence needs in chunks, then exit")
        ->group(group);
    app.add_flag("--skip-existing", options.skip_existing,
                 "Leave frames whose output is already a finished file untouched")
        ->group(group);
    app.add_flag("--keep-going", options.keep_going,
                 "Render the other frames when one fails (the exit status still says so)")
        ->group(group);
    app.add_option("--start-number", given.start_number,
                   "Output file number of the first frame of a file of several frames "
                   "(default 1)")
        ->type_name("N")
        ->group(group);
}

void AddVideoOptions(CLI::App& app, Options& options, GivenValues& given, const char* group) {
    app.add_option("--codec", options.codec,
                   "Encoder of a movie output (default: the input's codec, else by container; "
                   "see below)")
        ->type_name("NAME")
        ->group(group);
    app.add_option("--quality", given.quality,
                   "A movie encoder's quality: crf for libx264, qscale for prores_ks and mpeg4")
        ->check(CLI::NonNegativeNumber.description(""))
        ->type_name("Q")
        ->group(group);
    for (auto [flag, value, kind] : {std::tuple{"--audio", &given.audio, "sound"},
                                     std::tuple{"--subtitles", &given.subtitles, "subtitle"}}) {
        app.add_option(flag, *value,
                       fmt::format("A movie output's {} streams: copied, converted to a codec its "
                                   "container holds, or left out (default: copied where the "
                                   "container holds them, else converted)",
                                   kind))
            ->check(CLI::IsMember({"copy", "convert", "none"}).description(""))
            ->type_name("copy|convert|none")
            ->group(group);
    }
    app.add_flag("--no-autorotate", options.no_autorotate,
                 "Keep a movie's frames as coded: do not turn them upright as its display "
                 "matrix says")
        ->group(group);
    app.add_option("--raw", given.raw,
                   "Raw video of WxH pixels from standard input to standard output")
        ->type_name("WxH")
        ->group(group);
    app.add_option("--pix-fmt", given.pix_fmt,
                   "Raw pixel format (default bgra), or a movie output's (default: the "
                   "encoder's nearest to the frames)")
        ->type_name("FMT")
        ->group(group);
    app.add_option("--in-flight", given.in_flight,
                   "Frames read, rendered and written at once (default: one per thread, "
                   "within --memory); 1 works on one frame at a time")
        ->check(CLI::Range(1, kMaxInFlight).description(""))
        ->type_name("N")
        ->group(group);
    app.add_option("--memory", given.memory,
                   "Memory the frames in flight may take, e.g. 4G (default: half the memory "
                   "available)")
        ->type_name("SIZE")
        ->group(group);
}

void AddMovieOutputOptions(CLI::App& app, Options& options, GivenValues& given, const char* group) {
    app.add_option("--start", given.start,
                   "A movie into a movie from this time: seconds or [HH:]MM:SS[.ms], as ffmpeg's "
                   "-ss (its sound and subtitles cut with it)")
        ->type_name("TIME")
        ->group(group);
    app.add_option("--duration", given.duration,
                   "A movie into a movie for this long (as ffmpeg's -t); --frames A-B picks the "
                   "part by frames instead")
        ->type_name("TIME")
        ->group(group);
    app.add_option("--frame-rate", given.frame_rate,
                   "An image sequence's rate as a movie: 25, 23.976 or 24000/1001 (default: its "
                   "files' own, as OpenEXR and DPX headers give it, else 24)")
        ->type_name("RATE")
        ->group(group);
    app.add_option("--color-matrix", options.color_matrix,
                   "A movie output's YCbCr matrix, FFmpeg's name (default: the input's; BT.709 "
                   "for image sequences)")
        ->type_name("bt709|bt470bg|...")
        ->group(group);
    app.add_option("--color-range", options.color_range,
                   "A movie output's YCbCr range (default: the input's; tv for image sequences)")
        ->check(CLI::IsMember({"tv", "pc", "limited", "full"}).description(""))
        ->type_name("tv|pc")
        ->group(group);
    app.add_option("--audio-file", options.audio_file,
                   "A sound file muxed into the movie output in place of the input's sound (WAV, "
                   "AIFF, FLAC, MP3, AAC, or a movie's sound), from the first frame or by timecode")
        ->type_name("FILE")
        ->group(group);
    app.add_option("--audio-offset", given.audio_offset,
                   "Where --audio-file starts against the first frame, e.g. 0.5 or -00:00:01.2 "
                   "(default: aligned by timecode where both carry one, else 0)")
        ->type_name("TIME")
        ->group(group);
}

/// The time `text` gives for `option`, in microseconds; UsageError for none.
std::optional<std::int64_t> TimeOption(const std::string& text, const char* option) {
    if (text.empty()) return std::nullopt;
    const std::optional<std::int64_t> time = ParseMovieTime(text);
    if (!time) {
        throw UsageError(fmt::format(
            "{} {}: give seconds (12.5) or [HH:]MM:SS[.ms] (00:01:02.5), as ffmpeg reads times",
            option, text));
    }
    return time;
}

/// Puts the movie output's times and rate into `options`.
void TakeMovieValues(const GivenValues& given, Options& options) {
    options.start = TimeOption(given.start, "--start");
    options.duration = TimeOption(given.duration, "--duration");
    options.audio_offset = TimeOption(given.audio_offset, "--audio-offset");
    if (!given.frame_rate.empty()) {
        options.frame_rate = ParseFrameRate(given.frame_rate);
        if (!options.frame_rate->valid()) {
            throw UsageError(fmt::format(
                "--frame-rate {}: give a rate such as 25, 23.976 or 24000/1001", given.frame_rate));
        }
    }
}

void AddFileOptions(CLI::App& app, Options& options, GivenValues& given, const char* group) {
    app.add_option("--compression", options.compression,
                   "Compression of written files, e.g. zip:6, piz, lzw (default: the input's "
                   "own when the format is the same, else the tool's; see below)")
        ->type_name("METHOD[:LEVEL]")
        ->group(group);
    app.add_option("-d,--data-type", given.data_type,
                   "Sample type of written image files (default: the input's, else the nearest "
                   "deeper one the format writes); apart from --depth, see below")
        ->type_name(DataTypeNames())
        ->group(group);
    app.add_option("--channels", options.channels,
                   "The channels rendered as colour, e.g. diffuse.R,diffuse.G,diffuse.B "
                   "(default: the layer holding the alpha, else the one with R, G and B); "
                   "every other channel is kept untouched")
        ->delimiter(',')
        ->type_name("R,G,B[,A]")
        ->group(group);
    app.add_option("--parts", options.parts,
                   "The parts of a multi-part OpenEXR file rendered (default: every part with "
                   "colour); the others are copied")
        ->delimiter(',')
        ->type_name("NAME,...")
        ->group(group);
}

void AddOtherOptions(CLI::App& app, Options& options) {
    const char* other = "Other";
    app.add_option(
           "--max-pixels", options.max_pixels,
           fmt::format("Refuse images above this many pixels (default {})", kDefaultMaxPixels))
        ->check(CLI::PositiveNumber.description(""))
        ->type_name("N")
        ->group(other);
    app.add_flag("-q,--quiet", options.quiet, "No progress line and no notes")->group(other);
    app.add_option(
           "--progress", options.progress,
           "Progress on standard error: bar, a line redrawn on a terminal (the default), or "
           "lines, \"progress: 120/240 frames\" once a tenth of the run, for a log")
        ->transform(CLI::CheckedTransformer(std::map<std::string, ProgressStyle>{
            {"bar", ProgressStyle::kBar}, {"lines", ProgressStyle::kLines}}))
        ->type_name("bar|lines")
        ->group(other);
}

/// The edit distance between `a` and `b` (insertions, deletions, changes).
std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

/// "unknown option --temprature; did you mean --temperature?": the first
/// argument the parser did not expect, and the known long option nearest to
/// it when one is near (within a third of its length).
std::string UnknownOption(const CLI::App& app, const CLI::ExtrasError& error) {
    std::string unknown;
    for (const std::string& extra : app.remaining()) {
        if (!extra.empty() && extra[0] == '-') {
            unknown = extra.substr(0, extra.find('='));
            break;
        }
    }
    if (unknown.empty()) return error.what();
    std::string nearest;
    std::size_t best = unknown.size() / 3 + 1;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            const std::size_t distance = EditDistance(unknown, "--" + name);
            if (distance < best) {
                best = distance;
                nearest = "--" + name;
            }
        }
    }
    return nearest.empty() ? fmt::format("unknown option {}", unknown)
                           : fmt::format("unknown option {}; did you mean {}?", unknown, nearest);
}

/// "WIDTHxHEIGHT" (both at least 1), or UsageError naming `option`.
std::pair<int, int> FrameSize(std::string_view text, const char* option) {
    const std::size_t x = text.find_first_of("xX");
    int width = 0;
    int height = 0;
    bool ok = x != std::string_view::npos;
    if (ok) {
        const auto w = std::from_chars(text.data(), text.data() + x, width);
        const auto h = std::from_chars(text.data() + x + 1, text.data() + text.size(), height);
        ok = w.ec == std::errc() && w.ptr == text.data() + x && h.ec == std::errc() &&
             h.ptr == text.data() + text.size() && width > 0 && height > 0;
    }
    if (!ok) {
        throw UsageError(fmt::format(
            "{}: bad frame size \"{}\"; give it as WIDTHxHEIGHT, e.g. 1920x1080", option, text));
    }
    return {width, height};
}

/// Puts the values CLI11 did not fill into `options`, each checked on its own.
void TakeValues(const CLI::App& app, const GivenValues& given, Options& options) {
    if (given.in_flight != 0) options.in_flight = given.in_flight;
    if (!given.memory.empty()) {
        const std::optional<std::uint64_t> bytes = ParseByteSize(given.memory);
        if (!bytes) {
            throw UsageError(
                fmt::format("--memory {}: give a size such as 4G or 512M", given.memory));
        }
        options.memory_budget = *bytes;
    }
    for (const SliderOption& slider : kSliderOptions) {
        options.controls.*slider.given = given.sliders.*slider.given;
    }
    if (given.clamp && given.no_clamp) {
        throw UsageError(
            fmt::format("{} and {} together", kClampOption.flag, kClampOption.off_flag));
    }
    if (given.clamp || given.no_clamp) options.controls.clamp = given.clamp;
    options.compare = given.compare || !options.compare_output.empty();
    if (!given.host.empty()) {
        options.host = ParseHost(given.host);
        if (!options.host) throw UsageError(fmt::format("--host {}: use ae or prmr", given.host));
    }
    if (!given.depth.empty()) {
        options.depth = ParseDepth(given.depth);
        if (!options.depth) {
            throw UsageError(fmt::format("--depth {}: use 8, 16 or float", given.depth));
        }
    }
    if (!given.chart_size.empty()) options.chart_size = FrameSize(given.chart_size, "--chart-size");
    if (!given.raw.empty()) options.raw_size = FrameSize(given.raw, "--raw");
    if (app.count("--pix-fmt") != 0) options.pix_fmt = given.pix_fmt;
    if (app.count("--quality") != 0) options.quality = given.quality;
    // CLI11 has checked the words already.
    if (!given.audio.empty()) ParseStreamHandling(given.audio, options.audio);
    if (!given.subtitles.empty()) ParseStreamHandling(given.subtitles, options.subtitles);
    if (app.count("--start-number") != 0) {
        options.start_number = ParseFrameNumber(given.start_number);
        if (!options.start_number) {
            throw UsageError(fmt::format("--start-number {}: give a frame number; {}",
                                         given.start_number, FrameNumberLimits()));
        }
    }
    if (!given.data_type.empty()) {
        options.data_type = ParseDataType(given.data_type);
        if (!options.data_type) {
            throw UsageError(
                fmt::format("--data-type {}: use {}", given.data_type, DataTypeNames()));
        }
    }
    if (!options.channels.empty() && options.channels.size() != 3 && options.channels.size() != 4) {
        throw UsageError(fmt::format(
            "--channels {}: name red, green and blue, and alpha if wanted, e.g. R,G,B or "
            "diffuse.R,diffuse.G,diffuse.B",
            fmt::join(options.channels, ",")));
    }
}

}  // namespace

std::optional<Options> ReadCommandLine(int argc, char** argv,
                                       const std::function<std::string()>& help_extra) {
    Options options;
    options.threads = AvailableCores();
    GivenValues given;

    CLI::App app{kDescription, "vemra-render"};
    app.get_formatter()->column_width(34);
    app.footer([&help_extra] {
        std::string text = HelpFooter();
        if (help_extra) text += "\n" + help_extra();
        return text;
    });
    app.set_version_flag("--version", std::string("vemra-render ") + VEMRA_RENDER_VERSION);
    AddInputOutputOptions(app, options, given);
    AddControlOptions(app, given);
    AddHostOptions(app, options, given);
    AddFarmOptions(app, options, given, "Sequences and video");
    AddVideoOptions(app, options, given, "Sequences and video");
    AddMovieOutputOptions(app, options, given, "Sequences and video");
    AddFileOptions(app, options, given, "Image files");
    AddOtherOptions(app, options);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        fmt::print("{}", app.help());
        return std::nullopt;
    } catch (const CLI::CallForAllHelp&) {
        fmt::print("{}", app.help());
        return std::nullopt;
    } catch (const CLI::CallForVersion&) {
        fmt::print("vemra-render {}\n", VEMRA_RENDER_VERSION);
        return std::nullopt;
    } catch (const CLI::ExtrasError& e) {
        throw UsageError(UnknownOption(app, e));
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }
    TakeValues(app, given, options);
    TakeMovieValues(given, options);
    return options;
}

std::optional<Options> ParseCommandLine(int argc, char** argv,
                                        const std::function<std::string()>& help_extra) {
    std::optional<Options> options = ReadCommandLine(argc, argv, help_extra);
    if (!options) return options;
    CheckOptions(*options);
    options->codec_threads = CodecThreads(options->threads);
    if (const char* codec_threads = std::getenv("VEMRA_CODEC_THREADS")) {
        const std::string given = codec_threads;
        int count = 0;
        const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), count);
        if (given == "auto") {
            options->codec_threads = 0;
        } else if (error == std::errc() && end == given.data() + given.size() && count > 0) {
            options->codec_threads = count;
        } else {
            throw UsageError(fmt::format("VEMRA_CODEC_THREADS={}: give a number or auto", given));
        }
    }
    if (!options->task_text.empty() && !options->print_tasks) {
        try {
            options->task = ParseTaskIndex(options->task_text,
                                           [](const char* name) { return std::getenv(name); });
        } catch (const TaskError& e) {
            throw UsageError(e.what());
        }
    }
    return options;
}

}  // namespace render
