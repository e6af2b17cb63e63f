// Running vemra-render (or any program) as a subprocess for the end-to-end
// tests, and small helpers for files in a scratch folder.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/vemra-render/pixels/image.h"

namespace render_test {

/// What a finished program left behind.
struct RunResult {
    int exit_code = -1;  ///< -1 when it was killed by a signal
    int signal = 0;
    std::string out;  ///< standard output
    std::string err;  ///< standard error
    rusage usage{};   ///< the program's own resource use (peak memory, CPU time)
};

/// How to start a program.
struct RunSettings {
    std::string stdin_file = "/dev/null";
    /// RLIMIT_FSIZE for the program: writes beyond it fail with EFBIG.
    rlim_t file_size_limit = RLIM_INFINITY;
    /// Environment variables set for the program, "NAME=VALUE".
    std::vector<std::string> environment;
};

/// A started program; Wait() collects it.
class Process {
  public:
    Process(const std::vector<std::string>& argv, const RunSettings& settings);
    ~Process();
    pid_t pid() const { return pid_; }
    RunResult Wait();

  private:
    pid_t pid_ = -1;
    std::filesystem::path out_, err_;
};

/// Runs `argv` to its end.
RunResult Run(const std::vector<std::string>& argv, const RunSettings& settings = {});
/// Runs the built vemra-render with `args` and the effect built with it.
RunResult RunTool(std::vector<std::string> args, const RunSettings& settings = {});
/// Runs a shell command line with bash (pipefail on).
RunResult RunShell(const std::string& command);

/// `args` followed by `more`.
std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more);

/// The tool's command line, for Process.
std::vector<std::string> ToolArgv(std::vector<std::string> args);

/// Runs the ffmpeg program the tests were built with (VEMRA_FFMPEG) with
/// `arguments`, a shell line, quietly, overwriting; a failure fails the test.
void RunFfmpeg(const std::string& arguments);

/// `argv` as one bash word each, for RunShell.
std::string ShellWords(const std::vector<std::string>& argv);

/// A fresh folder, removed with everything in it at the end of the test.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    /// Names of the files in the folder, sorted (hidden ones included).
    std::vector<std::string> Files() const;

  private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

/// An image of the given size and type filled from a seeded generator (float
/// samples between -0.5 and 1.5); alpha included when `has_alpha`.
render::Image RandomImage(int width, int height, render::SampleType type, bool has_alpha,
                          unsigned seed);
/// A one-pixel image holding red, green, blue and alpha in the type's scale.
render::Image OnePixel(render::SampleType type, float red, float green, float blue, float alpha);
/// Writes `image` to `path` with OpenImageIO directly, not through the
/// tool's writer: file sample type `file_type` as an OIIO type name
/// ("uint8", "uint16", "half", "float"), alpha as stored, `channels` 3 or 4.
void WriteTestImage(const std::string& path, const render::Image& image,
                    const std::string& file_type, int channels = 4);
/// The same for several images in one file: the pages of a TIFF, the parts
/// of an OpenEXR file.
void WriteTestImages(const std::string& path, const std::vector<render::Image>& images,
                     const std::string& file_type, int channels = 4);

/// A file's pixels as OpenImageIO reads them, independently of the tool.
struct FilePixels {
    int width = 0, height = 0, channels = 0;
    std::string type;            ///< "uint8", "uint16", "half", "float"
    std::vector<double> values;  ///< in the file's own scale (0..255, 0..65535, floats)
    double At(int x, int y, int c) const {
        return values[(std::size_t(y) * std::size_t(width) + std::size_t(x)) *
                          std::size_t(channels) +
                      std::size_t(c)];
    }
};
FilePixels ReadFilePixels(const std::string& path);

}  // namespace render_test
