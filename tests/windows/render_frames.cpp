// Renders a fixed set of frames through the stand-in host, in every pixel
// layout and host path, and writes every output buffer to a file; or compares
// two such files. The native build and the Windows build (under Wine) render
// the same set, and the comparison shows whether two compilers and C runtimes
// give the same bytes.
//
//   render_frames EFFECT_LIBRARY OUTPUT_FILE
//   render_frames --compare FILE_A FILE_B
//
// Float frames compare bit for bit except that any NaN matches any NaN (the
// payload of a NaN is not part of the result); every other byte, row padding
// and pixels outside the rendered extent included, must be identical.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/effect_library.h"
#include "sim/host.h"
#include "sim/world.h"

namespace {

// --- Deterministic input --------------------------------------------------------

/// SplitMix64: the same numbers from the same seed on every compiler.
class Numbers {
  public:
    explicit Numbers(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

  private:
    std::uint64_t state_;
};

float FloatFromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

/// A float channel: mostly ordinary values around 0..1, with the values that
/// take other paths through the arithmetic mixed in.
float FloatChannel(Numbers& numbers) {
    const std::uint64_t r = numbers.Next();
    switch (r % 16) {
        case 0:
            return std::numeric_limits<float>::quiet_NaN();
        case 1:
            return (r & 16) != 0 ? std::numeric_limits<float>::infinity()
                                 : -std::numeric_limits<float>::infinity();
        case 2:
            return FloatFromBits(static_cast<std::uint32_t>(r >> 32) & 0x807FFFFFu);  // denormal
        case 3:
            return (r & 16) != 0 ? -0.0f : 1.0f;
        case 4:
            return FloatFromBits(static_cast<std::uint32_t>(r >> 32));  // any bits at all
        default:
            // [-0.5, 1.5) on a fine grid.
            return static_cast<float>(static_cast<double>(r >> 40) / double(1 << 23) - 0.5);
    }
}

void FillInput(sim::World& world, std::uint64_t seed) {
    Numbers numbers(seed);
    std::span<std::byte> buffer = world.buffer();
    for (std::byte& b : buffer) b = static_cast<std::byte>(numbers.Next() & 0xFF);
    if (world.layout() != sim::Layout::kBgraFloat) return;
    for (std::int32_t y = 0; y < world.height(); ++y) {
        for (std::int32_t x = 0; x < world.width(); ++x) {
            PF_Pixel_BGRA_32f pixel;
            float channels[4];
            for (float& c : channels) c = FloatChannel(numbers);
            std::memcpy(&pixel, channels, sizeof pixel);
            world.Set(x, y, pixel);
        }
    }
}

// --- The frames -------------------------------------------------------------------

struct Frame {
    const char* label;
    sim::Layout layout;
    std::int32_t appl_id;
    std::int32_t width, height;
    std::int32_t rowbytes;  ///< 0 tight, larger padded, negative bottom-up
    sim::ParamValues values;
    std::int32_t quality = PF_Quality_HI;
    bool partial_extent = false;  ///< render only an inner rectangle
};

std::vector<Frame> Frames() {
    const std::int32_t other = sim::kApplIdOther;
    const std::int32_t prmr = kApplIdPrMr;
    const sim::ParamValues neutral{0.0, 0.0, 100.0, false};
    const sim::ParamValues warm{1.3, -0.7, 100.0, false};
    const sim::ParamValues cool_clamped{-2.0, 1.5, 37.5, true};
    const sim::ParamValues extreme{5.0, -5.0, 100.0, true};
    const sim::ParamValues extreme_other{-5.0, 5.0, 0.5, false};
    const sim::ParamValues fine{0.1, 0.1, 99.9, true};
    const sim::ParamValues copy{2.0, 2.0, 0.0, false};

    std::vector<Frame> frames;
    struct Path {
        const char* name;
        sim::Layout layout;
        std::int32_t appl_id;
        std::int32_t bytes_per_pixel;
    };
    const Path paths[] = {
        {"argb8 iterate8", sim::Layout::kArgb8, other, 4},
        {"argb16 iterate16", sim::Layout::kArgb16, other, 8},
        {"bgra8 PrMr iterate8", sim::Layout::kBgra8, prmr, 4},
        {"bgra-float PrMr row walker", sim::Layout::kBgraFloat, prmr, 16},
    };
    for (const Path& path : paths) {
        for (const sim::ParamValues& values :
             {neutral, warm, cool_clamped, extreme, extreme_other, fine}) {
            frames.push_back({path.name, path.layout, path.appl_id, 256, 16, 0, values});
        }
        const std::int32_t padded = 61 * path.bytes_per_pixel + 12;
        frames.push_back({path.name, path.layout, path.appl_id, 61, 7, padded, warm});
        frames.push_back({path.name, path.layout, path.appl_id, 33, 5, -padded, cool_clamped});
        Frame partial{path.name, path.layout, path.appl_id, 40, 9, 0, extreme};
        partial.partial_extent = true;
        frames.push_back(partial);
        frames.push_back({path.name, path.layout, path.appl_id, 16, 4, 0, copy, PF_Quality_HI});
        frames.push_back({path.name, path.layout, path.appl_id, 16, 4, 0, copy, 0});
    }
    // The "PrMr" host with a world it does not render: refused, output untouched.
    frames.push_back({"argb8 PrMr refused", sim::Layout::kArgb8, prmr, 8, 2, 0, warm});
    return frames;
}

// --- The file: per frame a header and the output buffer ---------------------------

struct Record {
    std::string label;
    std::uint32_t layout = 0;
    std::int32_t width = 0, height = 0, rowbytes = 0, result = 0;
    std::vector<std::uint8_t> bytes;
};

void Put32(std::ofstream& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.put(static_cast<char>((value >> shift) & 0xFF));
}

std::uint32_t Get32(std::ifstream& in) {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int c = in.get();
        if (c == EOF) throw std::runtime_error("file ends inside a record");
        value |= static_cast<std::uint32_t>(c) << shift;
    }
    return value;
}

void Write(std::ofstream& out, const Record& r) {
    Put32(out, static_cast<std::uint32_t>(r.label.size()));
    out.write(r.label.data(), static_cast<std::streamsize>(r.label.size()));
    Put32(out, r.layout);
    Put32(out, static_cast<std::uint32_t>(r.width));
    Put32(out, static_cast<std::uint32_t>(r.height));
    Put32(out, static_cast<std::uint32_t>(r.rowbytes));
    Put32(out, static_cast<std::uint32_t>(r.result));
    Put32(out, static_cast<std::uint32_t>(r.bytes.size()));
    out.write(reinterpret_cast<const char*>(r.bytes.data()),
              static_cast<std::streamsize>(r.bytes.size()));
}

std::vector<Record> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<Record> records;
    while (in.peek() != EOF) {
        Record r;
        r.label.resize(Get32(in));
        in.read(r.label.data(), static_cast<std::streamsize>(r.label.size()));
        r.layout = Get32(in);
        r.width = static_cast<std::int32_t>(Get32(in));
        r.height = static_cast<std::int32_t>(Get32(in));
        r.rowbytes = static_cast<std::int32_t>(Get32(in));
        r.result = static_cast<std::int32_t>(Get32(in));
        r.bytes.resize(Get32(in));
        in.read(reinterpret_cast<char*>(r.bytes.data()),
                static_cast<std::streamsize>(r.bytes.size()));
        if (!in) throw std::runtime_error(path + ": file ends inside a record");
        records.push_back(std::move(r));
    }
    return records;
}

std::string Describe(const Frame& f) {
    char rows[32] = "tight rows";
    if (f.rowbytes != 0) std::snprintf(rows, sizeof rows, "rowbytes %d", f.rowbytes);
    char text[192];
    std::snprintf(text, sizeof text, "%s %dx%d %s, T %g M %g O %g%s%s%s", f.label, f.width,
                  f.height, rows, f.values.temperature, f.values.magenta, f.values.opacity,
                  f.values.clamp ? " clamp" : "", f.quality == PF_Quality_HI ? "" : " low quality",
                  f.partial_extent ? " partial extent" : "");
    return text;
}

int Render(const std::string& library_path, const std::string& output_path) {
    const sim::EffectLibrary library = sim::EffectLibrary::Load(library_path);
    std::ofstream out(output_path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + output_path);
    std::uint64_t seed = 1;
    int count = 0;
    for (const Frame& frame : Frames()) {
        sim::Host host(library, frame.appl_id);
        host.SetQuality(frame.quality);
        sim::World input(frame.layout, frame.width, frame.height, frame.rowbytes);
        sim::World output(frame.layout, frame.width, frame.height, frame.rowbytes);
        FillInput(input, seed++);
        FillInput(output, seed++);  // whatever the render leaves alone stays as it was
        if (frame.partial_extent) {
            output.SetExtentHint({3, 2, frame.width - 5, frame.height - 3});
        }
        Record record;
        record.label = Describe(frame);
        record.layout = static_cast<std::uint32_t>(frame.layout);
        record.width = frame.width;
        record.height = frame.height;
        record.rowbytes = output.rowbytes();
        record.result = host.Render(input, output, frame.values);
        const auto bytes = output.buffer();
        record.bytes.resize(bytes.size());
        std::memcpy(record.bytes.data(), bytes.data(), bytes.size());
        Write(out, record);
        ++count;
    }
    out.close();
    if (!out) throw std::runtime_error("could not write " + output_path);
    std::printf("rendered %d frames to %s\n", count, output_path.c_str());
    return 0;
}

bool IsNan(const std::uint8_t* p) {
    std::uint32_t bits;
    std::memcpy(&bits, p, sizeof bits);
    return (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0;
}

/// Differences between two renders of one frame; prints the first few.
int CompareRecord(const Record& a, const Record& b) {
    if (a.label != b.label || a.layout != b.layout || a.width != b.width || a.height != b.height ||
        a.rowbytes != b.rowbytes || a.bytes.size() != b.bytes.size()) {
        std::printf("frame \"%s\" / \"%s\": different frame set\n", a.label.c_str(),
                    b.label.c_str());
        return 1;
    }
    int differences = 0;
    if (a.result != b.result) {
        std::printf("%s: result %d against %d\n", a.label.c_str(), a.result, b.result);
        ++differences;
    }
    const bool floats = a.layout == static_cast<std::uint32_t>(sim::Layout::kBgraFloat);
    const std::size_t stride = static_cast<std::size_t>(std::abs(a.rowbytes));
    const std::size_t pixel_bytes = static_cast<std::size_t>(a.width) * 16;
    const std::size_t step = floats ? 4 : 1;
    for (std::size_t at = 0; at + step <= a.bytes.size(); at += step) {
        if (std::memcmp(&a.bytes[at], &b.bytes[at], step) == 0) continue;
        const bool channel = floats && stride != 0 && at % stride < pixel_bytes;
        if (channel && IsNan(&a.bytes[at]) && IsNan(&b.bytes[at])) continue;
        if (++differences <= 5) {
            std::printf("%s: byte %zu differs\n", a.label.c_str(), at);
        }
    }
    // Integer layouts step a byte at a time; a float buffer is whole words.
    for (std::size_t at = a.bytes.size() / step * step; at < a.bytes.size(); ++at) {
        if (a.bytes[at] != b.bytes[at]) ++differences;
    }
    return differences;
}

int Compare(const std::string& path_a, const std::string& path_b) {
    const std::vector<Record> a = ReadAll(path_a);
    const std::vector<Record> b = ReadAll(path_b);
    if (a.empty() || a.size() != b.size()) {
        std::printf("%zu frames in %s, %zu in %s\n", a.size(), path_a.c_str(), b.size(),
                    path_b.c_str());
        return 1;
    }
    int frames_differing = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (CompareRecord(a[i], b[i]) != 0) ++frames_differing;
    }
    std::printf("%zu frames compared, %d differ\n", a.size(), frames_differing);
    return frames_differing == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 4 && std::string(argv[1]) == "--compare") return Compare(argv[2], argv[3]);
        if (argc == 3) return Render(argv[1], argv[2]);
        std::fprintf(stderr,
                     "usage: %s EFFECT_LIBRARY OUTPUT_FILE\n"
                     "       %s --compare FILE_A FILE_B\n",
                     argv[0], argv[0]);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "render_frames: %s\n", e.what());
        return 1;
    }
}
