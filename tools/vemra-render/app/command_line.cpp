#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <cstdlib>

#include "tools/vemra-render/io/compression.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/movie_reader.h"
#include "tools/vemra-render/io/movie_writer.h"
#include "tools/vemra-render/io/raw_frames.h"
#include "tools/vemra-render/jobs/control_options.h"
#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/jobs/task_range.h"
#include "tools/vemra-render/pixels/test_chart.h"
#include "tools/vemra-render/run/work_plan.h"

namespace render {

namespace {

/// `text` broken into lines of at most `width` characters at spaces.
std::string Wrap(std::string_view text, std::size_t width = 79) {
    std::string wrapped, line;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            wrapped += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + std::string(word);
        text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    }
    return wrapped + line;
}

constexpr const char* kDescription =
    "vemra-render: renders images, image sequences and raw video through the Vemra Temperature\n"
    "effect, loaded from its library and driven exactly as a host drives it.\n";

std::string Footer() {
    return fmt::format(
        R"(Hosts and bit depths:
  ae     8-bit files render as 8-bit ARGB, deeper files as 16-bit ARGB, whose scale
         runs to 32768: a 16-bit file value v goes in as v * 32768 / 65535 and comes
         back as w * 65535 / 32768, both rounded to nearest, so unchanged pixels
         return within one code. Float files are clipped to 0..1 here.
  prmr   8-bit files render as "bgra", deeper ones as 32-bit float "BGra" (values
         outside 0..1 are kept).
  With no --host, integer files go to ae and half or float files to prmr, so no
  value is clipped unasked. The output is written with the input's sample type.

Colour: no colour management. The effect sees the file's values as they are
stored (as in a host working in the file's colour space); alpha is neither
premultiplied nor unpremultiplied. Grey files are expanded to RGB; files without
alpha render with an opaque one and are written back without it.

Frame patterns: shot.####.exr (one # a digit) or shot.%04d.exr, with --frames
1-240 (or 1,5,9-12); without --frames, every frame found on disk. The output
(and a compare sheet) must be a pattern too.

Files of several frames (a multi-page TIFF, an animated image): every frame
goes to an output pattern, frame k numbered --start-number + k - 1 (default:
k); into one output file, --frames N picks the frame, and without it the file
is refused rather than rendered in part. An OpenEXR file's parts are layers
or views of one frame, not frames: its first part is rendered and written,
with a note.

Farms: --chunk N with --task T renders the T-th run of N frames of the
sequence's frame list (--frames, else the frames on disk); tasks count from 1,
and a task past the end renders nothing and succeeds. --task auto takes the
index from the first of these that is set:
  {}
--print-tasks prints the array range the sequence needs (e.g. 1-24) for the
scheduler's submit command. With --skip-existing a frame whose output exists
is left untouched, so a task can simply be run again; with --compare, a
missing sheet alone renders the frame again and writes only the sheet.
Temporaries carry the host name; those this host left behind in a killed run
are removed. A failing frame stops the range unless --keep-going; either way
the last line counts rendered, skipped and failed frames, and the exit status
is 0 only when every frame of the range exists.

Frames in flight: a sequence or a pipe is read, rendered and written several
frames at a time, --in-flight of them (default one per thread, fewer when
--memory would not hold them). --threads counts every thread the tool uses:
each frame in flight gets an equal share for the host's iteration, so a
single image iterates on all of them. Outputs still appear in frame order.

Compression (--compression): the option, else the input's own setting when
input and output are of the same format, else the tool's default:
{}
Movies (.mov .mp4 .mkv .avi .mxf ... in or out): read and written with FFmpeg's
libraries. Every frame is decoded in order and converted to RGBA at the
source's depth (8 bits, 16 bits or float) with the movie's own colour matrix
and range, as the ffmpeg program converts it. Into image files, frame k goes
to number --start-number + k - 1 of the output pattern, and --frames picks
frames; into a movie the whole movie is rendered, and the output appears only
once complete. --codec, --quality and --pix-fmt choose the encoding.
{}

Raw video: --raw WxH reads frames of --pix-fmt from standard input and writes
them in the same format to standard output. Pixel formats:
  {}

Examples:
  vemra-render                                  test chart -> vemra-chart.png + sheet
  vemra-render in.png -o out.png --temperature 0.5 --compare
  vemra-render plate.####.exr --frames 1001-1100 -o graded.####.exr --magenta -0.3
  ffmpeg -i in.mov -f rawvideo -pix_fmt bgra - |
    vemra-render --raw 1920x1080 --temperature 0.4 |
    ffmpeg -f rawvideo -pix_fmt bgra -s 1920x1080 -r 25 -i - out.mov
)",
        fmt::join(kTaskIndexVariables, ", "), CompressionHelp(), Wrap(MovieWriter::Keeps()),
        RawFormatNames());
}

std::pair<int, int> SizeOption(const std::string& text, const char* option) {
    try {
        return ParseFrameSize(text);
    } catch (const RawError& e) {
        throw UsageError(fmt::format("{}: {}", option, e.what()));
    }
}

}  // namespace

std::optional<Options> ParseCommandLine(int argc, char** argv,
                                        const std::function<std::string()>& help_extra) {
    Options options;
    options.threads = AvailableCores();
    options.max_pixels = kDefaultMaxPixels;

    CLI::App app{kDescription, "vemra-render"};
    app.get_formatter()->column_width(34);
    app.footer([&help_extra] {
        std::string text = Footer();
        if (help_extra) text += "\n" + help_extra();
        return text;
    });
    app.set_version_flag("--version", std::string("vemra-render ") + VEMRA_RENDER_VERSION);

    const char* io = "Input and output";
    app.add_option("inputs", options.inputs,
                   "Image files or one frame pattern (none: the built-in test chart)")
        ->type_name("FILE")
        ->group(io);
    app.add_option("-o,--output", options.output,
                   "Output file, frame pattern, or folder for several inputs")
        ->type_name("FILE")
        ->group(io);
    bool compare = false;
    app.add_flag("--compare", compare,
                 "Also write a side-by-side before/after sheet (OUTPUT-compare.EXT)")
        ->group(io);
    app.add_option("--compare-output", options.compare_output,
                   "Name of the sheet (a pattern for sequences); implies --compare")
        ->type_name("FILE")
        ->group(io);
    app.add_flag("--overwrite-input", options.overwrite_input,
                 "Allow the output to replace its own input file")
        ->group(io);
    std::string chart_size;
    app.add_option(
           "--chart-size", chart_size,
           fmt::format("Size of the test chart, WxH (default {}x{})", kChartWidth, kChartHeight))
        ->type_name("WxH")
        ->group(io);

    const char* controls = "Effect controls (defaults and ranges from the effect; see --describe)";
    double sliders[3] = {0, 0, 0};  // temperature, magenta, opacity
    for (std::size_t i = 0; i < 3; ++i) {
        const ControlOption& control = kControlOptions[i];
        app.add_option(control.names, sliders[i], control.help)
            ->type_name(control.type_name)
            ->group(controls);
    }
    const ControlOption& clamp_option = kControlOptions[3];
    bool clamp = false, no_clamp = false;
    app.add_flag(clamp_option.names, clamp, clamp_option.help)->group(controls);
    app.add_flag("--no-clamp", no_clamp, "Do not clamp")->group(controls);

    const char* hosting = "Host";
    std::string host, depth;
    app.add_option("--host", host, "Host to play (default: by the file's type)")
        ->type_name("ae|prmr")
        ->group(hosting);
    app.add_option("--depth", depth, "World depth: 8 or 16 in ae, 8 or float in prmr")
        ->type_name("8|16|float")
        ->group(hosting);
    app.add_option("--plugin", options.plugin,
                   "Effect library to load (default: the one built beside this tool)")
        ->type_name("PATH")
        ->group(hosting);
    app.add_option("--threads", options.threads,
                   "Threads in all, shared out between the frames in flight and each frame's "
                   "host iteration (default: the CPUs this process may run on)")
        ->check(CLI::Range(1, 1024).description(""))
        ->type_name("N")
        ->group(hosting);
    app.add_flag("--describe", options.describe,
                 "Print the effect's about text and declared controls, then exit")
        ->group(hosting);

    const char* sequence = "Sequences and video";
    app.add_option("--frames", options.frames,
                   "Frames of a pattern or of a file of several frames: 1-240, or 1,5,9-12")
        ->type_name("LIST")
        ->group(sequence);
    app.add_option("--chunk", options.chunk, "Frames per farm task (with --task or --print-tasks)")
        ->check(CLI::PositiveNumber.description(""))
        ->type_name("N")
        ->group(sequence);
    std::string task;
    app.add_option("--task", task,
                   "Which chunk to render, from 1; auto: the scheduler's array index")
        ->type_name("T|auto")
        ->group(sequence);
    app.add_flag("--print-tasks", options.print_tasks,
                 "Print the array range of tasks the sequence needs in chunks, then exit")
        ->group(sequence);
    app.add_flag("--skip-existing", options.skip_existing,
                 "Leave frames whose output already exists untouched")
        ->group(sequence);
    app.add_flag("--keep-going", options.keep_going,
                 "Render the other frames when one fails (the exit status still says so)")
        ->group(sequence);
    long start_number = 0;
    app.add_option("--start-number", start_number,
                   "Output file number of the first frame of a file of several frames "
                   "(default 1)")
        ->type_name("N")
        ->group(sequence);
    app.add_option("--codec", options.codec,
                   "Encoder of a movie output (default: the input's codec, else by container; "
                   "see below)")
        ->type_name("NAME")
        ->group(sequence);
    int quality = -1;
    app.add_option("--quality", quality,
                   "A movie encoder's quality: crf for libx264, qscale for prores_ks and mpeg4")
        ->check(CLI::NonNegativeNumber.description(""))
        ->type_name("Q")
        ->group(sequence);
    std::string raw;
    app.add_option("--raw", raw, "Raw video of WxH pixels from standard input to standard output")
        ->type_name("WxH")
        ->group(sequence);
    app.add_option("--pix-fmt", options.pix_fmt,
                   "Raw pixel format (default bgra), or a movie output's (default: the "
                   "encoder's nearest to the frames)")
        ->type_name("FMT")
        ->group(sequence);
    int in_flight = 0;
    app.add_option("--in-flight", in_flight,
                   "Frames read, rendered and written at once (default: one per thread, "
                   "within --memory); 1 works on one frame at a time")
        ->check(CLI::Range(1, kMaxInFlight).description(""))
        ->type_name("N")
        ->group(sequence);
    std::string memory;
    app.add_option("--memory", memory,
                   "Memory the frames in flight may take, e.g. 4G (default: half the memory "
                   "available)")
        ->type_name("SIZE")
        ->group(sequence);
    app.add_option("--compression", options.compression,
                   "Compression of written files, e.g. zip:6, piz, lzw (default: the input's "
                   "own when the format is the same, else the tool's; see below)")
        ->type_name("METHOD[:LEVEL]")
        ->group(io);

    const char* other = "Other";
    app.add_option(
           "--max-pixels", options.max_pixels,
           fmt::format("Refuse images above this many pixels (default {})", kDefaultMaxPixels))
        ->check(CLI::PositiveNumber.description(""))
        ->type_name("N")
        ->group(other);
    app.add_flag("-q,--quiet", options.quiet, "No progress line and no notes")->group(other);

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
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }

    if (in_flight != 0) options.in_flight = in_flight;
    if (!memory.empty()) {
        const std::optional<std::uint64_t> bytes = ParseByteSize(memory);
        if (!bytes)
            throw UsageError(fmt::format("--memory {}: give a size such as 4G or 512M", memory));
        options.memory_budget = *bytes;
    }
    std::optional<double>* slider_options[3] = {&options.temperature, &options.magenta,
                                                &options.opacity};
    for (std::size_t i = 0; i < 3; ++i) {
        if (app.count(kControlOptions[i].flag) != 0) *slider_options[i] = sliders[i];
    }
    if (clamp && no_clamp) throw UsageError("--clamp and --no-clamp together");
    if (clamp) options.clamp = true;
    if (no_clamp) options.clamp = false;
    options.compare = compare || !options.compare_output.empty();
    if (!host.empty()) {
        options.host = ParseHost(host);
        if (!options.host) throw UsageError(fmt::format("--host {}: use ae or prmr", host));
    }
    if (!depth.empty()) {
        options.depth = ParseDepth(depth);
        if (!options.depth) throw UsageError(fmt::format("--depth {}: use 8, 16 or float", depth));
    }
    if (!chart_size.empty()) options.chart_size = SizeOption(chart_size, "--chart-size");
    if (!raw.empty()) {
        options.raw_size = SizeOption(raw, "--raw");
        if (!options.inputs.empty() || !options.output.empty() || options.compare) {
            throw UsageError(
                "--raw reads standard input and writes standard output: give no files, -o or "
                "--compare");
        }
        try {
            FindRawFormat(options.pix_fmt);
        } catch (const RawError& e) {
            throw UsageError(fmt::format("--pix-fmt: {}", e.what()));
        }
    } else if (app.count("--pix-fmt") != 0) {
        if (!IsMoviePath(options.output)) {
            throw UsageError("--pix-fmt goes with --raw or a movie output");
        }
        options.movie_pix_fmt = options.pix_fmt;
    }
    if (app.count("--quality") != 0) options.quality = quality;
    if ((!options.codec.empty() || options.quality) && !IsMoviePath(options.output)) {
        throw UsageError("--codec and --quality go with a movie output (e.g. -o out.mov)");
    }
    if (app.count("--start-number") != 0) options.start_number = start_number;
    if (!options.frames.empty() && options.inputs.size() != 1) {
        throw UsageError(
            "--frames goes with one input: a frame pattern, or a file of several frames");
    }
    if (options.chunk != 0 || !task.empty() || options.print_tasks) {
        if (options.inputs.size() != 1) {
            throw UsageError("--chunk, --task and --print-tasks go with one input frame pattern");
        }
        if (options.chunk == 0) throw UsageError("--task and --print-tasks need --chunk N");
        if (task.empty() && !options.print_tasks) {
            throw UsageError("--chunk needs --task T (or auto), or --print-tasks");
        }
    }
    if (!task.empty() && !options.print_tasks) {
        try {
            options.task = ParseTaskIndex(task, [](const char* name) { return std::getenv(name); });
        } catch (const TaskError& e) {
            throw UsageError(e.what());
        }
    }
    return options;
}

}  // namespace render
