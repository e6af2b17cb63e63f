#include "tool_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

#include "tools/vemra-render/io/image_files_oiio.h"

namespace render_test {

namespace fs = std::filesystem;

Process::Process(const std::vector<std::string>& argv, const RunSettings& settings) {
    static int counter = 0;
    const fs::path base = fs::temp_directory_path() / ("vemra-run-" + std::to_string(::getpid()) +
                                                       "-" + std::to_string(counter++));
    out_ = base.string() + ".out";
    err_ = base.string() + ".err";
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int in = ::open(settings.stdin_file.c_str(), O_RDONLY);
        const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (settings.file_size_limit != RLIM_INFINITY) {
            const rlimit limit{settings.file_size_limit, settings.file_size_limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN);  // a failed write, not a killed process
        }
        // In sanitizer builds: leaks inside OpenImageIO are not the tool's.
        ::setenv("LSAN_OPTIONS", "print_suppressions=0:suppressions=" VEMRA_LSAN_SUPPRESSIONS, 0);
        for (const std::string& variable : settings.environment) {
            const std::size_t equals = variable.find('=');
            ::setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
}

Process::~Process() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code error;
    fs::remove(out_, error);
    fs::remove(err_, error);
}

RunResult Process::Wait() {
    RunResult result;
    int status = 0;
    ::wait4(pid_, &status, 0, &result.usage);
    pid_ = -1;
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = ReadFile(out_.string());
    result.err = ReadFile(err_.string());
    return result;
}

RunResult Run(const std::vector<std::string>& argv, const RunSettings& settings) {
    return Process(argv, settings).Wait();
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::vector<std::string> ToolArgv(std::vector<std::string> args) {
    args.insert(args.begin(), {VEMRA_RENDER_TOOL, "--plugin", VEMRA_EFFECT_PATH, "--threads", "2"});
    return args;
}

void RunFfmpeg(const std::string& arguments) {
    const RunResult made = RunShell(std::string(VEMRA_FFMPEG) + " -v error -y " + arguments);
    if (made.exit_code != 0) ADD_FAILURE() << "ffmpeg " << arguments << "\n" << made.err;
}

std::string ShellWords(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& word : argv) {
        std::string quoted = "'";
        for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += (line.empty() ? "" : " ") + quoted + "'";
    }
    return line;
}

RunResult RunTool(std::vector<std::string> args, const RunSettings& settings) {
    return Run(ToolArgv(std::move(args)), settings);
}

RunResult RunShell(const std::string& command) {
    return Run({"/bin/bash", "-c", "set -o pipefail; " + command});
}

ScratchDir::ScratchDir() {
    std::string templ = (fs::temp_directory_path() / "vemra-render-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

ScratchDir::~ScratchDir() {
    std::error_code error;
    fs::remove_all(path_, error);
}

std::vector<std::string> ScratchDir::Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

render::Image RandomImage(int width, int height, render::SampleType type, bool has_alpha,
                          unsigned seed) {
    render::Image image = render::Image::Blank(width, height, type, has_alpha);
    std::mt19937 generator(seed);
    const float full = type == render::SampleType::kUint8    ? 255.0f
                       : type == render::SampleType::kUint16 ? 65535.0f
                                                             : 1.0f;
    std::uniform_real_distribution<float> value(type == render::SampleType::kFloat ? -0.5f : 0.0f,
                                                type == render::SampleType::kFloat ? 1.5f : full);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c) {
                image.SetSample(x, y, c, c == 3 && !has_alpha ? full : value(generator));
            }
        }
    }
    return image;
}

render::Image OnePixel(render::SampleType type, float red, float green, float blue, float alpha) {
    render::Image image = render::Image::Blank(1, 1, type, true);
    const float values[4] = {red, green, blue, alpha};
    for (int c = 0; c < 4; ++c) image.SetSample(0, 0, c, values[c]);
    return image;
}

void WriteTestImage(const std::string& path, const render::Image& image,
                    const std::string& file_type, int channels) {
    WriteTestImages(path, {image}, file_type, channels);
}

void WriteTestImages(const std::string& path, const std::vector<render::Image>& images,
                     const std::string& file_type, int channels) {
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out) throw std::runtime_error("no writer for " + path);
    std::vector<OIIO::ImageSpec> headers;
    for (const render::Image& image : images) {
        headers.emplace_back(image.width, image.height, channels, OIIO::TypeDesc(file_type));
        headers.back().attribute("oiio:UnassociatedAlpha", 1);
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        const bool opened = i == 0 ? out->open(path, int(headers.size()), headers.data())
                                   : out->open(path, headers[i], OIIO::ImageOutput::AppendSubimage);
        if (!opened ||
            !out->write_image(render::FileTypeOf(images[i].type), images[i].pixels.data(),
                              OIIO::stride_t(images[i].PixelBytes()))) {
            throw std::runtime_error("cannot write " + path + ": " + out->geterror());
        }
    }
    if (!out->close()) throw std::runtime_error("cannot write " + path + ": " + out->geterror());
}

FilePixels ReadFilePixels(const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(path);
    if (!in) throw std::runtime_error("cannot read " + path + ": " + OIIO::geterror());
    OIIO::ImageSpec header;
    if (!in->open(path, header, config)) {
        throw std::runtime_error("cannot read " + path + ": " + in->geterror());
    }
    FilePixels pixels;
    pixels.width = header.width;
    pixels.height = header.height;
    pixels.channels = header.nchannels;
    pixels.type = header.format.c_str();
    const std::size_t count =
        std::size_t(header.width) * std::size_t(header.height) * std::size_t(header.nchannels);
    // Half converts to float exactly; OpenImageIO does it.
    const OIIO::TypeDesc read_as = header.format == OIIO::TypeDesc::HALF
                                       ? OIIO::TypeDesc(OIIO::TypeDesc::FLOAT)
                                       : header.format;
    std::vector<std::byte> raw(count * read_as.size());
    if (!in->read_image(0, 0, 0, header.nchannels, read_as, raw.data())) {
        throw std::runtime_error("cannot read " + path + ": " + in->geterror());
    }
    pixels.values.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::byte* at = raw.data() + i * read_as.size();
        if (read_as == OIIO::TypeDesc::UINT8) {
            pixels.values[i] = double(std::to_integer<std::uint8_t>(*at));
        } else if (read_as == OIIO::TypeDesc::UINT16) {
            std::uint16_t v;
            std::memcpy(&v, at, sizeof v);
            pixels.values[i] = v;
        } else if (read_as == OIIO::TypeDesc::FLOAT) {
            float v;
            std::memcpy(&v, at, sizeof v);
            pixels.values[i] = double(v);
        } else {
            throw std::runtime_error("unexpected sample type in " + path);
        }
    }
    return pixels;
}

}  // namespace render_test
