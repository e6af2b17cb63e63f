// The frei0r edition of the effect: a filter plug-in over the same colour core
// as the After Effects plug-in, for ffmpeg's frei0r filter, MLT (and so
// Kdenlive and Shotcut) and GStreamer.
//
// Frames are 8-bit BGRA, width x height pixels with nothing between rows, and
// every pixel goes through the row function of the fastest adapter set, the
// same bits as the plug-in's "bgra" adapter. An instance holds the four
// parameters as frei0r values; f0r_update turns them into colour settings on
// its stack and only reads the instance, so it may run on one instance from
// several threads at once (MLT calls it so, one slice of the frame each) and
// allocates nothing. The values are atomics, so a host that sets one while
// another thread renders causes no data race: the render sees the old value
// or the new one.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

// frei0r.h declares the interface without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include "color/adapters.h"
#include "color/control_values.h"
#include "frei0r/parameters.h"
#include "resources/identity.h"

namespace {

using vemra::kControlCount;
using vemra::frei0r::kParameters;

struct Instance {
    std::size_t pixels;
    std::atomic<double> position[kControlCount];
};

// Chosen once, in f0r_init, from what the processor runs; the baseline until
// then, for a host that skips f0r_init.
std::atomic<Bgra8Row> row_function{ProcessRowBgra8};

bool ValidIndex(int index) {
    return index >= 0 && index < kControlCount;
}

/// Whether two frames of `bytes` bytes share any byte (compared as integers:
/// pointers into different objects have no order of their own).
bool Overlap(const void* a, const void* b, std::size_t bytes) {
    const auto first = reinterpret_cast<std::uintptr_t>(a);
    const auto second = reinterpret_cast<std::uintptr_t>(b);
    return first < second ? second - first < bytes : first - second < bytes;
}

}  // namespace

// The plug-in's interface: exactly the functions frei0r.h declares. They
// alone are visible (the rest of the library is built hidden), and
// exports.map lets nothing else into the dynamic symbol table.
#pragma GCC visibility push(default)
extern "C" {

int f0r_init() {
    row_function.store(FastestAdapterSet().bgra8_row, std::memory_order_relaxed);
    return 1;
}

void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (info == nullptr) return;
    info->name = vemra::kDisplayName;
    info->author = vemra::frei0r::kAuthor;
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_BGRA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = static_cast<int>(vemra::kVersionMajor);
    info->minor_version = static_cast<int>(vemra::kVersionMinor);
    info->num_params = kControlCount;
    info->explanation = vemra::frei0r::kPluginExplanation;
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (info == nullptr || !ValidIndex(index)) return;
    info->name = kParameters[index].name;
    info->type = static_cast<int>(kParameters[index].kind);
    info->explanation = kParameters[index].explanation;
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    auto* instance = new (std::nothrow) Instance;
    if (instance == nullptr) return nullptr;
    instance->pixels = std::size_t{width} * std::size_t{height};
    for (int i = 0; i < kControlCount; ++i)
        instance->position[i].store(kParameters[i].dephault, std::memory_order_relaxed);
    return instance;
}

void f0r_destruct(f0r_instance_t instance) {
    delete static_cast<Instance*>(instance);
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    if (instance == nullptr || param == nullptr || !ValidIndex(index)) return;
    const double x = *static_cast<const double*>(param);
    static_cast<Instance*>(instance)->position[index].store(
        vemra::frei0r::Position(x, kParameters[index].dephault), std::memory_order_relaxed);
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    if (instance == nullptr || param == nullptr || !ValidIndex(index)) return;
    *static_cast<double*>(param) =
        static_cast<const Instance*>(instance)->position[index].load(std::memory_order_relaxed);
}

void f0r_update(f0r_instance_t instance, double, const uint32_t* inframe, uint32_t* outframe) {
    if (instance == nullptr || inframe == nullptr || outframe == nullptr) return;
    const auto& self = *static_cast<const Instance*>(instance);
    double x[kControlCount];
    for (int i = 0; i < kControlCount; ++i) x[i] = self.position[i].load(std::memory_order_relaxed);
    const TemperatureSettings settings = vemra::SettingsFromControls(vemra::frei0r::ValuesAt(x));

    // Frames that overlap without being the same buffer: the input is moved
    // to where the output goes and rendered in place there, since the row
    // function reads each pixel before it writes it but would overwrite
    // input it has yet to read when the output starts past the input.
    const std::size_t bytes = self.pixels * 4;
    if (inframe != outframe && Overlap(inframe, outframe, bytes)) {
        std::memmove(outframe, inframe, bytes);
        inframe = outframe;
    }
    // Opacity 0 is the input, as in the plug-in, which copies it then.
    if (settings.mix == 0.0f) {
        if (inframe != outframe) std::memcpy(outframe, inframe, bytes);
        return;
    }
    row_function.load(std::memory_order_relaxed)(settings, inframe, outframe, self.pixels);
}

void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1, const uint32_t*,
                 const uint32_t*, uint32_t* outframe) {
    f0r_update(instance, time, inframe1, outframe);
}

}  // extern "C"
#pragma GCC visibility pop
