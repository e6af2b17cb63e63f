#include "tools/vemra-render/app/help.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "tools/vemra-render/app/exit_status.h"
#include "tools/vemra-render/io/compression.h"
#include "tools/vemra-render/io/image_formats.h"
#include "tools/vemra-render/io/movie_formats.h"
#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/io/raw_frames.h"
#include "tools/vemra-render/jobs/task_range.h"

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
        if (!line.empty()) line.push_back(' ');
        line.append(word);
        text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    }
    return wrapped + line;
}

/// `text`'s lines each broken as Wrap breaks them, the broken lines indented.
std::string WrapLines(std::string_view text) {
    std::string wrapped;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        const std::size_t indent = line.find_first_not_of(' ');
        line.remove_prefix(indent == std::string_view::npos ? line.size() : indent);
        std::string lines = Wrap(line, 79 - indent - 2);
        for (std::size_t at = 0; at != std::string::npos;) {
            const std::size_t next = lines.find('\n', at);
            wrapped += std::string(at == 0 ? indent : indent + 2, ' ') +
                       lines.substr(at, next == std::string::npos ? next : next - at) + "\n";
            at = next == std::string::npos ? next : next + 1;
        }
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return wrapped;
}

/// The paragraph on files of several frames, with the movie containers read.
std::string MultiFrameHelp() {
    return fmt::format(
        "Files of several frames are read frame by frame: GIF and APNG (a PNG with an animation "
        "control chunk), each frame as FFmpeg decodes it with its disposal and blending, "
        "multi-page TIFF, and movies ({}). Every frame goes to an output "
        "pattern, frame k numbered --start-number + k - 1 (default: k); into one output file, "
        "--frames N picks the frame, and without it the file is refused rather than rendered in "
        "part. Into a movie, an animated image's frames keep their delays as timestamps where the "
        "container keeps a variable rate. An OpenEXR file's parts are layers or views of one "
        "frame, not frames: they "
        "are kept together, as Image files below says.",
        MovieContainerNames());
}

/// The paragraph on what is rendered and kept of an image file, with the
/// table of what each format keeps.
std::string ImageFilesHelp() {
    return Wrap(fmt::format(
               "Image files: the effect renders the colour: one layer's R, G and B (the layer "
               "holding the alpha, else the one layer with all three; --channels names them "
               "when several could be), and the alpha. Every other channel (depth, passes, "
               "mattes, IDs) goes to the output untouched, in the input's order, and every part "
               "of a multi-part OpenEXR file: those with colour rendered (or those --parts "
               "names), the others copied. --data-type (-d, oiiotool's names: {}) sets the "
               "written type; without it, the input's (a movie's bit depth included), else the "
               "shallowest deeper one the format writes, else its deepest. Into a format "
               "without windows, the display window is written (zero outside the data window), "
               "as oiiotool and ffmpeg write it. What each format keeps (a note names whatever "
               "is left out):",
               DataTypeNames())) +
           "\n" + FormatKeepsHelp();
}

/// The section on movies: how they are read and written, what an output
/// keeps, and the containers' table, all from the movie policy.
std::string MovieHelp() {
    return "Movies (.mov .mp4 .mkv .avi .mxf ... in or out): read and written with FFmpeg's\n"
           "libraries. Every frame is decoded in order and converted to RGBA at the\n"
           "source's depth (8 bits, 16 bits or float) with the movie's own colour matrix\n"
           "and range, as the ffmpeg program converts it. Into image files, frame k goes\n"
           "to number --start-number + k - 1 of the output pattern, and --frames picks\n"
           "frames; into a movie the whole movie is rendered, or the part --start and\n"
           "--duration (seconds or [HH:]MM:SS[.ms], as ffmpeg's -ss and -t) or --frames A-B\n"
           "pick, and the output appears only once complete. --codec, --quality and\n"
           "--pix-fmt choose the encoding, --audio and --subtitles what becomes of the\n"
           "sound and subtitle streams, --audio-file a sound file laid in instead of the\n"
           "input's sound: from the first frame, --audio-offset later or earlier, or by\n"
           "timecode where both carry one (a length differing from the video's by more\n"
           "than a frame is a note).\n\n"
           "An image sequence (a pattern, a folder, several files, a multi-page TIFF)\n"
           "goes into a movie at --frame-rate, else the rate its first file's header\n"
           "gives (OpenEXR, DPX), else 24 with a note, with that file's timecode; a YCbCr\n"
           "output is converted and tagged BT.709 limited range unless --color-matrix and\n"
           "--color-range say otherwise. A frame missing on disk refuses the run; --chunk\n"
           "is refused (a movie is one task).\n" +
           Wrap(MoviePolicyRules()) +
           "\nContainers written (by the output's ending), the codecs each holds, and its\n"
           "fallback encoder:\n" +
           WrapLines(MoviePolicyHelp());
}

}  // namespace

const char* const kDescription =
    "vemra-render: renders images, image sequences, movies and raw video through the Vemra\n"
    "Temperature effect, loaded from its library and driven exactly as a host drives it.\n";

std::string ShortUsage() {
    return "usage: vemra-render INPUT... -o OUTPUT [--temperature T] [--magenta M] "
           "[--opacity PERCENT] [--clamp]\n"
           "       vemra-render plate.####.exr --frames 1001-1100 -o warm.####.exr ...\n"
           "       vemra-render --raw WIDTHxHEIGHT ... < frames > frames\n"
           "       vemra-render -o chart.png ...    the built-in test chart\n"
           "       vemra-render --describe          the effect and its controls\n"
           "vemra-render --help lists every option.\n";
}

std::string HelpFooter() {
    return fmt::format(
        R"(Hosts and bit depths:
  ae     8-bit files render as 8-bit ARGB, deeper files as 16-bit ARGB, whose scale
         runs to 32768: a 16-bit file value v goes in as v * 32768 / 65535 and comes
         back as w * 65535 / 32768, both rounded to nearest, so unchanged pixels
         return within one code. Float files are clipped to 0..1 here.
  prmr   8-bit files render as "bgra", deeper ones as 32-bit float "BGra" (values
         outside 0..1 are kept).
  With no --host, integer files go to ae and half or float files to prmr, so no
  value is clipped unasked. --host and --depth choose the worlds the effect
  renders in, not the file: the written type is --data-type's (below).

Colour: no colour management. The effect sees the file's values as they are
stored (as in a host working in the file's colour space); alpha is neither
premultiplied nor unpremultiplied. Grey files are expanded to RGB; files without
alpha render with an opaque one and are written back without it.

Frame patterns: shot.####.exr (one # a digit) or shot.%04d.exr, with --frames
1-240 (or 1,5,9-12); without --frames, every frame found on disk, and a note
names the numbers missing between them. A frame --frames lists that is not on
disk refuses the run before any frame renders (exit 2), unless --keep-going;
with --task, only the task's own frames count. The output (and a compare
sheet) must be a pattern too.

{multi_frame}

Farms: --chunk N with --task T renders the T-th run of N frames of the
sequence's frame list (--frames, else the frames on disk); tasks count from 1,
and a task past the end renders nothing and succeeds. --task auto takes the
index from the first of these that is set:
  {task_variables}
--print-tasks prints the array range the sequence needs (e.g. 1-24) for the
scheduler's submit command. With --skip-existing a frame whose output is a
finished file (its header reads) is left untouched, so a task can simply be
run again; with --compare, a missing sheet alone renders the frame again and
writes only the sheet. A sequence rendered with --overwrite-input keeps a
journal beside its frames, so the same command run again renders only the
frames not yet rendered. Temporaries carry the host name and are locked while
they live; those this host left behind in a killed run are removed. A failing frame stops the range unless --keep-going; either way
the last line counts rendered, skipped and failed frames, and the exit status
is 0 only when every frame of the range exists.

Frames in flight: a sequence, a movie or a pipe is read, rendered and written
several frames at a time, --in-flight of them (default one per thread, fewer
when --memory would not hold them). --threads is shared out: each frame in
flight gets an equal share for the host's iteration, so a single image
iterates on all of them. A movie's decoder and encoder run beside the frames
in flight and take {codec_threads} each, as FFmpeg's own choice does of the
CPUs it sees (VEMRA_CODEC_THREADS=N or auto sets them otherwise); decoding,
rendering and encoding run at once, and the packets of the copied streams
waiting for the writer count against --memory. Outputs still appear in frame
order.

{image_files}
Compression (--compression): the option, else the input's own setting when
input and output are of the same format, else the tool's default:
{compression}
{movies}Raw video: --raw WxH reads frames of --pix-fmt from standard input and writes
them in the same format to standard output. Pixel formats:
  {raw_formats}

{exit_status}
Examples:
  vemra-render -o chart.png                     test chart -> chart.png + sheet
  vemra-render in.png -o out.png --temperature 0.5 --compare
  vemra-render plate.####.exr --frames 1001-1100 -o graded.####.exr --magenta -0.3
  vemra-render plate.####.exr --frames 1001-1240 --audio-file shot.wav -o review.mov
  vemra-render clip.mov --start 10 --duration 4 -o part.mov --temperature 0.4
  ffmpeg -i in.mov -f rawvideo -pix_fmt bgra - |
    vemra-render --raw 1920x1080 --temperature 0.4 |
    ffmpeg -f rawvideo -pix_fmt bgra -s 1920x1080 -r 25 -i - out.mov
)",
        fmt::arg("multi_frame", Wrap(MultiFrameHelp())),
        fmt::arg("task_variables", fmt::join(kTaskIndexVariables, ", ")),
        fmt::arg("codec_threads", kCodecThreadsRule), fmt::arg("image_files", ImageFilesHelp()),
        fmt::arg("compression", CompressionHelp()), fmt::arg("movies", MovieHelp()),
        fmt::arg("raw_formats", RawFormatNames()), fmt::arg("exit_status", ExitStatusHelp()));
}

}  // namespace render
