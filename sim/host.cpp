// The stand-in host's records, callbacks and suites, and the commands that
// drive a loaded effect through its entry point.
//
// The C callbacks carry no context argument, so each command marks its host
// as the thread's active host for its duration (and the iteration's worker
// threads do the same for theirs). A callback that arrives with no active host
// is a violation; it is recorded in the host its effect_ref or in_data names,
// or else in the most recently created live host.
#include "sim/host.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

#include "host/suites.h"

/// What effect_ref points at: the host that handed it out. The effect sees
/// only an opaque pointer.
struct PF_ProgressInfo {
    sim::Host* host;
};

namespace sim {
namespace {

/// Room in return_msg, the one buffer the effect formats into.
constexpr std::size_t kMessageBytes = PF_MAX_EFFECT_MSG_LEN + 1;
/// Room in a parameter's name field.
constexpr std::size_t kNameBytes = PF_MAX_EFFECT_PARAM_NAME_LEN + 1;

/// The per-pixel callback of the iteration suites: (refcon, x, y, source
/// pixel, destination pixel) returning an error code. Spelled out here so the
/// host depends on nothing but the records of the effect API; the suites'
/// tables below only compile if it is the very type they declare.
using PixelCallback = PF_Err (*)(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                                 void* out);

/// The host whose command runs on this thread.
thread_local Host* t_active_host = nullptr;

/// Every live host, newest last, for callbacks that arrive outside a command.
std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<Host*>& Registry() {
    static std::vector<Host*> hosts;
    return hosts;
}

/// Marks a host active on this thread for one scope; nests.
class ActiveScope {
  public:
    explicit ActiveScope(Host* host) : previous_(std::exchange(t_active_host, host)) {}
    ~ActiveScope() { t_active_host = previous_; }
    ActiveScope(const ActiveScope&) = delete;
    ActiveScope& operator=(const ActiveScope&) = delete;

  private:
    Host* previous_;
};

std::string NameOf(const PF_ParamDef& def) {
    return std::string(def.name, strnlen(def.name, sizeof def.name));
}

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

/// The callback names DropBasicSuiteAfter accepts.
const std::set<std::string>& KnownCalls() {
    static const std::set<std::string> names = {"add_param",
                                                "utils.copy",
                                                "copy",
                                                "copy_hq",
                                                "iterate8",
                                                "iterate16",
                                                "ansi.sprintf",
                                                "ansi.strcpy",
                                                "ClearSupportedPixelFormats",
                                                "AddSupportedPixelFormat",
                                                "GetPixelFormat",
                                                "AcquireSuite",
                                                "ReleaseSuite"};
    return names;
}

/// The services FailService can make fail.
const std::set<std::string>& FailableServices() {
    static const std::set<std::string> names = {"utils.copy",
                                                "copy",
                                                "copy_hq",
                                                "iterate8",
                                                "iterate16",
                                                "ClearSupportedPixelFormats",
                                                "AddSupportedPixelFormat"};
    return names;
}

/// A rectangle in 64 bits, so hostile 32-bit coordinates cannot overflow.
struct Span64 {
    std::int64_t left, top, right, bottom;
};

Span64 Widen(const PF_Rect& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}

}  // namespace

struct Host::State {
    explicit State(Host& owner) : host(owner) {
        handle.host = &owner;
        utils.copy = &UtilsCopy;
        utils.ansi.sprintf = &Sprintf;
        utils.ansi.strcpy = &Strcpy;
        basic.AcquireSuite = &AcquireSuite;
        basic.ReleaseSuite = &ReleaseSuite;
        const unsigned cores = std::thread::hardware_concurrency();
        threads = cores == 0 ? 1 : int(cores);
    }

    Host& host;
    PF_ProgressInfo handle{};
    PF_UtilCallbacks utils{};
    SPBasicSuite basic{};

    /// Guards the logs, the ledger and the records below against callbacks
    /// from the iteration's worker threads. Never held while effect code runs.
    std::mutex mutex;

    // How the host behaves.
    std::int32_t appl_id = kApplIdOther;
    std::int32_t quality = PF_Quality_HI;
    int threads = 1;
    bool withhold_basic = false;
    std::set<std::string> withheld;
    std::map<std::string, PF_Err> fail_but_fill;
    std::string drop_basic_after;
    int fail_add_param_call = 0;
    PF_Err fail_add_param_code = PF_Err_NONE;
    std::map<std::string, PF_Err> failing_services;
    bool format_overridden = false;
    std::optional<PrPixelFormat> format_answer;
    PF_Err format_result = PF_Err_NONE;

    // The command in progress.
    std::atomic<bool> in_command{false};
    int add_param_calls = 0;
    World* input = nullptr;
    World* output = nullptr;
    const PF_LayerDef* input_param = nullptr;  ///< entry 0's world in the render's array

    bool params_ready = false;                                 ///< the last ParamsSetup succeeded
    std::map<std::pair<std::string, std::int32_t>, int> held;  ///< acquires minus releases

    // --- Recording ---------------------------------------------------------

    void Violation(std::string text) {
        std::lock_guard lock(mutex);
        host.violations_.push_back(std::move(text));
    }

    /// The host a callback belongs to: the thread's active host, else the one
    /// the handle or in_data names, else the newest live host.
    static Host* Resolve(PF_ProgPtr ref, const PF_InData* in_data) {
        if (t_active_host != nullptr) return t_active_host;
        std::lock_guard lock(RegistryMutex());
        for (Host* candidate : Registry()) {
            if ((ref != nullptr && ref == &candidate->state_->handle) ||
                (in_data != nullptr && in_data == &candidate->in_data_)) {
                return candidate;
            }
        }
        return Registry().empty() ? nullptr : Registry().back();
    }

    /// One callback from the effect: finds and records it on entry, and drops
    /// the basic suite on exit when the test asked for that after this call.
    class Call {
      public:
        Call(const char* name, bool listed, PF_ProgPtr ref = nullptr,
             const PF_InData* in_data = nullptr)
            : name_(name), host_(Resolve(ref, in_data)) {
            if (host_ == nullptr) return;
            State& state = *host_->state_;
            in_command_ = t_active_host == host_ && state.in_command.load();
            std::lock_guard lock(state.mutex);
            if (listed) host_->calls_.emplace_back(name);
            if (!in_command_) {
                host_->violations_.push_back(std::string(name) + " called outside a command");
            }
        }
        ~Call() {
            if (!in_command_) return;
            State& state = *host_->state_;
            std::lock_guard lock(state.mutex);
            if (state.drop_basic_after == name_) host_->in_data_.pica_basicP = nullptr;
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

        /// True when the call came during one of its host's commands.
        bool ok() const { return in_command_; }
        /// The host's state; only for a call that is ok().
        State& state() const { return *host_->state_; }
        /// The host's state, or null when no host is alive at all.
        State* state_or_null() const { return host_ != nullptr ? host_->state_.get() : nullptr; }
        void Violation(std::string text) const {
            if (host_ != nullptr) host_->state_->Violation(std::move(text));
        }
        /// The code a service set up to fail returns, or 0.
        PF_Err InjectedFailure() const {
            State& state = *host_->state_;
            std::lock_guard lock(state.mutex);
            const auto found = state.failing_services.find(name_);
            return found == state.failing_services.end() ? PF_Err_NONE : found->second;
        }
        /// Checks the handle the effect passed back; records a violation if it
        /// is not this host's.
        bool OwnHandle(PF_ProgPtr ref) const {
            if (ref == &host_->state_->handle) return true;
            Violation(std::string(name_) + ": effect_ref is not the handle this host gave");
            return false;
        }

      private:
        const char* name_;
        Host* host_;
        bool in_command_ = false;
    };

    /// The host-owned world behind a record the effect passed, or null. Only
    /// the current command's worlds are known.
    World* WorldFor(const PF_LayerDef* def) const {
        if (def == nullptr) return nullptr;
        if (output != nullptr && def == &output->def()) return output;
        if (input != nullptr && (def == &input->def() || def == input_param)) return input;
        return nullptr;
    }

    // --- Basic suite ---------------------------------------------------------

    static const void* OfferedSuite(const std::string& name, std::int32_t version) {
        static const PF_ANSICallbacksSuite1 ansi{&Sprintf, &Strcpy};
        static const PF_PixelFormatSuite1 formats{&ClearSupportedPixelFormats,
                                                  &AddSupportedPixelFormat, &GetPixelFormat};
        static const PF_Iterate8Suite1 iterate8{&Iterate8};
        static const PF_iterate16Suite1 iterate16{&Iterate16};
        static const PF_WorldTransformSuite1 transform{&TransformCopy, &TransformCopyHq};
        if (version != 1) return nullptr;
        if (name == PF_ANSICallbacksSuite1::kName) return &ansi;
        if (name == PF_PixelFormatSuite1::kName) return &formats;
        if (name == PF_Iterate8Suite1::kName) return &iterate8;
        if (name == PF_iterate16Suite1::kName) return &iterate16;
        if (name == PF_WorldTransformSuite1::kName) return &transform;
        return nullptr;
    }

    static std::int32_t AcquireSuite(const char* name, std::int32_t version, const void** suite) {
        Call call("AcquireSuite", false);
        if (suite != nullptr) *suite = nullptr;
        if (name == nullptr || suite == nullptr) {
            call.Violation("AcquireSuite with a null name or result pointer");
            return kErrBadCallbackParam;
        }
        State* state = call.state_or_null();
        if (state == nullptr) return kErrOutsideCommand;
        const std::string suite_name(name);
        if (!call.ok()) {
            std::lock_guard lock(state->mutex);
            state->host.suite_events_.push_back(
                {SuiteEvent::Kind::kAcquire, suite_name, version, false});
            return kErrOutsideCommand;
        }
        std::lock_guard lock(state->mutex);
        const void* offered = OfferedSuite(suite_name, version);
        PF_Err result = PF_Err_NONE;
        if (offered == nullptr || state->withheld.count(suite_name) != 0) {
            result = kErrSuiteNotOffered;
        } else {
            *suite = offered;
            const auto failing = state->fail_but_fill.find(suite_name);
            if (failing != state->fail_but_fill.end()) result = failing->second;
            ++state->held[{suite_name, version}];
        }
        state->host.suite_events_.push_back(
            {SuiteEvent::Kind::kAcquire, suite_name, version, *suite != nullptr});
        return result;
    }

    static std::int32_t ReleaseSuite(const char* name, std::int32_t version) {
        Call call("ReleaseSuite", false);
        if (name == nullptr) {
            call.Violation("ReleaseSuite with a null name");
            return kErrBadCallbackParam;
        }
        State* state = call.state_or_null();
        if (state == nullptr) return kErrOutsideCommand;
        const std::string suite_name(name);
        std::lock_guard lock(state->mutex);
        if (!call.ok()) {
            state->host.suite_events_.push_back(
                {SuiteEvent::Kind::kRelease, suite_name, version, false});
            return kErrOutsideCommand;
        }
        const auto held = state->held.find({suite_name, version});
        const bool matched = held != state->held.end() && held->second > 0;
        if (matched) --held->second;
        state->host.suite_events_.push_back(
            {SuiteEvent::Kind::kRelease, suite_name, version, matched});
        if (!matched) {
            state->host.violations_.push_back("ReleaseSuite(\"" + suite_name + "\", " +
                                              std::to_string(version) +
                                              ") of a suite not acquired");
            return kErrSuiteNotAcquired;
        }
        return PF_Err_NONE;
    }

    // --- ANSI callbacks --------------------------------------------------------

#if defined(__MINGW32__)
    [[gnu::format(gnu_printf, 2, 3)]]
#else
    [[gnu::format(printf, 2, 3)]]
#endif
    static A_long
    Sprintf(char* buffer, const char* format, ...) {
        Call call("ansi.sprintf", true);
        if (buffer == nullptr || format == nullptr) {
            call.Violation("ansi.sprintf with a null buffer or format");
            return 0;
        }
        // The one buffer the effect formats into is return_msg: never write
        // past its 256 bytes, whatever the text.
        std::va_list args;
        va_start(args, format);
        const int length = std::vsnprintf(buffer, kMessageBytes, format, args);
        va_end(args);
        if (length < 0) {
            buffer[0] = '\0';
            call.Violation("ansi.sprintf: the format could not be applied");
            return 0;
        }
        if (std::size_t(length) >= kMessageBytes) {
            call.Violation("ansi.sprintf: text of " + std::to_string(length) +
                           " characters truncated to " + std::to_string(kMessageBytes - 1));
            return A_long(kMessageBytes - 1);
        }
        return length;
    }

    static char* Strcpy(char* destination, const char* source) {
        Call call("ansi.strcpy", true);
        if (destination == nullptr || source == nullptr) {
            call.Violation("ansi.strcpy with a null destination or source");
            return destination;
        }
        // The one field the effect copies into is a parameter name of 32 bytes.
        const std::size_t length = std::strlen(source);
        const std::size_t kept = std::min(length, kNameBytes - 1);
        std::memmove(destination, source, kept);
        destination[kept] = '\0';
        if (kept < length) {
            call.Violation("ansi.strcpy: \"" + std::string(source) + "\" (" +
                           std::to_string(length) + " characters) truncated to " +
                           std::to_string(kNameBytes - 1));
        }
        return destination;
    }

    // --- Parameters ------------------------------------------------------------

    static PF_Err AddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def) {
        Call call("add_param", true, effect_ref);
        if (!call.ok()) return kErrOutsideCommand;
        if (!call.OwnHandle(effect_ref)) return kErrBadCallbackParam;
        State& state = call.state();
        const int number = ++state.add_param_calls;
        if (number == state.fail_add_param_call) return state.fail_add_param_code;
        if (def == nullptr) {
            call.Violation("add_param with a null definition");
            return kErrBadCallbackParam;
        }
        if (index != -1) {
            call.Violation("add_param at index " + std::to_string(index) +
                           ": only -1 (append) is supported");
            return kErrBadCallbackParam;
        }
        switch (def->param_type) {
            case PF_Param_FLOAT_SLIDER:
            case PF_Param_FIX_SLIDER:
            case PF_Param_CHECKBOX:
                break;
            default:
                call.Violation("add_param of unsupported type " +
                               std::to_string(std::int32_t(def->param_type)));
                return kErrBadCallbackParam;
        }
        PF_ParamDef copy = *def;
        if (std::memchr(def->name, '\0', sizeof def->name) == nullptr) {
            call.Violation("add_param: name is not terminated within its " +
                           std::to_string(sizeof def->name) + " bytes");
            copy.name[sizeof copy.name - 1] = '\0';
        }
        std::lock_guard lock(state.mutex);
        state.host.declared_.push_back(copy);
        return PF_Err_NONE;
    }

    // --- Pixel Format suite ------------------------------------------------------

    static PF_Err ClearSupportedPixelFormats(PF_ProgPtr effect_ref) {
        Call call("ClearSupportedPixelFormats", true, effect_ref);
        if (!call.ok()) return kErrOutsideCommand;
        if (!call.OwnHandle(effect_ref)) return kErrBadCallbackParam;
        if (const PF_Err failure = call.InjectedFailure()) return failure;
        State& state = call.state();
        std::lock_guard lock(state.mutex);
        state.host.pixel_formats_.clear();
        return PF_Err_NONE;
    }

    static PF_Err AddSupportedPixelFormat(PF_ProgPtr effect_ref, PrPixelFormat format) {
        Call call("AddSupportedPixelFormat", true, effect_ref);
        if (!call.ok()) return kErrOutsideCommand;
        if (!call.OwnHandle(effect_ref)) return kErrBadCallbackParam;
        if (const PF_Err failure = call.InjectedFailure()) return failure;
        State& state = call.state();
        std::lock_guard lock(state.mutex);
        state.host.pixel_formats_.push_back(format);
        return PF_Err_NONE;
    }

    static PF_Err GetPixelFormat(PF_EffectWorld* world, PrPixelFormat* format) {
        Call call("GetPixelFormat", true);
        if (!call.ok()) return kErrOutsideCommand;
        State& state = call.state();
        const World* known = state.WorldFor(world);
        if (known == nullptr || format == nullptr) {
            call.Violation(format == nullptr ? "GetPixelFormat with a null result pointer"
                                             : "GetPixelFormat of a world this command did not "
                                               "hand out");
            return kErrBadCallbackParam;
        }
        std::lock_guard lock(state.mutex);
        if (state.format_overridden) {
            if (state.format_answer) *format = *state.format_answer;
            return state.format_result;
        }
        *format = known->pixel_format();
        return PF_Err_NONE;
    }

    // --- Copies ----------------------------------------------------------------

    static PF_Err UtilsCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                            PF_Rect* src_r, PF_Rect* dst_r) {
        return Copy("utils.copy", ref, src, dst, src_r, dst_r);
    }
    static PF_Err TransformCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                                PF_Rect* src_r, PF_Rect* dst_r) {
        return Copy("copy", ref, src, dst, src_r, dst_r);
    }
    static PF_Err TransformCopyHq(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                                  PF_Rect* src_r, PF_Rect* dst_r) {
        return Copy("copy_hq", ref, src, dst, src_r, dst_r);
    }

    /// Copies the source rectangle to the destination rectangle's top-left
    /// corner, pixel for pixel (no scaling): the common size of the two
    /// rectangles, clipped to both worlds. Null rectangles are whole worlds.
    static PF_Err Copy(const char* name, PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst,
                       const PF_Rect* src_r, const PF_Rect* dst_r) {
        Call call(name, true, ref);
        if (!call.ok()) return kErrOutsideCommand;
        if (!call.OwnHandle(ref)) return kErrBadCallbackParam;
        if (const PF_Err failure = call.InjectedFailure()) return failure;
        State& state = call.state();
        World* from = state.WorldFor(src);
        World* to = state.WorldFor(dst);
        if (from == nullptr || to == nullptr) {
            call.Violation(std::string(name) + " of a world this command did not hand out");
            return kErrBadCallbackParam;
        }
        const std::size_t pixel = BytesPerPixel(from->layout());
        if (pixel != BytesPerPixel(to->layout())) {
            call.Violation(std::string(name) + " from " + LayoutName(from->layout()) + " to " +
                           LayoutName(to->layout()) + ": pixel sizes differ");
            return kErrBadCallbackParam;
        }
        const Span64 s =
            src_r != nullptr ? Widen(*src_r) : Span64{0, 0, from->width(), from->height()};
        const Span64 d = dst_r != nullptr ? Widen(*dst_r) : Span64{0, 0, to->width(), to->height()};
        std::int64_t sx = s.left, sy = s.top, dx = d.left, dy = d.top;
        std::int64_t width = std::min(s.right - s.left, d.right - d.left);
        std::int64_t height = std::min(s.bottom - s.top, d.bottom - d.top);
        // Clip the leading edges of both rectangles, then the trailing ones.
        const std::int64_t skip_x = std::max({std::int64_t(0), -sx, -dx});
        const std::int64_t skip_y = std::max({std::int64_t(0), -sy, -dy});
        sx += skip_x, dx += skip_x, width -= skip_x;
        sy += skip_y, dy += skip_y, height -= skip_y;
        width = std::min({width, from->width() - sx, to->width() - dx});
        height = std::min({height, from->height() - sy, to->height() - dy});
        if (width <= 0 || height <= 0) return PF_Err_NONE;

        const std::size_t row_bytes = std::size_t(width) * pixel;
        auto row_of = [](World* world, std::int64_t x, std::int64_t y) {
            return static_cast<std::byte*>(world->PixelAddress(std::int32_t(x), std::int32_t(y)));
        };
        if (from == to) {
            // Overlapping rectangles of one world: read everything first.
            std::vector<std::byte> rows(row_bytes * std::size_t(height));
            for (std::int64_t y = 0; y < height; ++y) {
                std::memcpy(rows.data() + std::size_t(y) * row_bytes, row_of(from, sx, sy + y),
                            row_bytes);
            }
            for (std::int64_t y = 0; y < height; ++y) {
                std::memcpy(row_of(to, dx, dy + y), rows.data() + std::size_t(y) * row_bytes,
                            row_bytes);
            }
        } else {
            for (std::int64_t y = 0; y < height; ++y) {
                std::memcpy(row_of(to, dx, dy + y), row_of(from, sx, sy + y), row_bytes);
            }
        }
        return PF_Err_NONE;
    }

    // --- Iteration ---------------------------------------------------------------

    static PF_Err Iterate8(PF_InData* in_data, A_long, A_long, PF_EffectWorld* src,
                           const PF_Rect* area, void* refcon, PixelCallback pix_fn,
                           PF_EffectWorld* dst) {
        return Iterate("iterate8", sizeof(PF_Pixel8), in_data, src, area, refcon, pix_fn, dst);
    }
    static PF_Err Iterate16(PF_InData* in_data, A_long, A_long, PF_EffectWorld* src,
                            const PF_Rect* area, void* refcon, PixelCallback pix_fn,
                            PF_EffectWorld* dst) {
        return Iterate("iterate16", sizeof(PF_Pixel16), in_data, src, area, refcon, pix_fn, dst);
    }

    /// Calls `pix_fn` once per pixel of `area` (null: the output's extent
    /// hint), clipped to both worlds, with world coordinates. The rows are cut
    /// into contiguous bands, one per thread. The result is the code of the
    /// first failing pixel in row order, whatever the number of threads.
    static PF_Err Iterate(const char* name, std::size_t pixel_bytes, const PF_InData* in_data,
                          PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                          PixelCallback pix_fn, PF_EffectWorld* dst) {
        Call call(name, true, nullptr, in_data);
        if (!call.ok()) return kErrOutsideCommand;
        if (const PF_Err failure = call.InjectedFailure()) return failure;
        State& state = call.state();
        const World* from = state.WorldFor(src);
        World* to = state.WorldFor(dst);
        if (from == nullptr || to == nullptr || pix_fn == nullptr) {
            call.Violation(std::string(name) + (pix_fn == nullptr
                                                    ? " with a null pixel function"
                                                    : " of a world this command did not hand out"));
            return kErrBadCallbackParam;
        }
        if (BytesPerPixel(from->layout()) != pixel_bytes ||
            BytesPerPixel(to->layout()) != pixel_bytes) {
            call.Violation(std::string(name) + " carries " + std::to_string(pixel_bytes) +
                           "-byte pixels, not " + LayoutName(from->layout()) + " to " +
                           LayoutName(to->layout()));
            return kErrBadCallbackParam;
        }
        const Span64 r = Widen(area != nullptr ? *area : dst->extent_hint);
        const std::int64_t left = std::max<std::int64_t>(r.left, 0);
        const std::int64_t top = std::max<std::int64_t>(r.top, 0);
        const std::int64_t right = std::min<std::int64_t>({r.right, from->width(), to->width()});
        const std::int64_t bottom =
            std::min<std::int64_t>({r.bottom, from->height(), to->height()});
        if (left >= right || top >= bottom) return PF_Err_NONE;

        const std::int64_t rows = bottom - top;
        const int bands = int(std::min<std::int64_t>(state.threads, rows));
        // Each band writes only its own slot; the slots are read after the joins.
        std::vector<PF_Err> results(std::size_t(bands), PF_Err_NONE);
        // Lowest row that failed so far: a band past it cannot win and stops.
        std::atomic<std::int64_t> first_failed_row{std::numeric_limits<std::int64_t>::max()};
        // Each row's first pixel is located once in both worlds (each with its
        // own stride); the rest of the row follows one pixel size apart, the
        // clipping above keeping every pixel inside both rows. The row loop
        // takes everything it needs as arguments, with the pixel size as a
        // constant, so that it all stays in registers across the calls.
        const auto iterate_row = []<std::ptrdiff_t kStep>(PixelCallback function, void* constant,
                                                          std::int32_t x, std::int32_t end_x,
                                                          std::int32_t y, const std::byte* in,
                                                          std::byte* out) -> PF_Err {
            for (; x < end_x; ++x, in += kStep, out += kStep) {
                const PF_Err code = function(constant, x, y, in, out);
                if (code != PF_Err_NONE) [[unlikely]] {
                    return code;
                }
            }
            return PF_Err_NONE;
        };
        const auto first = std::int32_t(left), last = std::int32_t(right);
        auto run_band = [&](int band) {
            const std::int64_t begin = top + rows * band / bands;
            const std::int64_t end = top + rows * (band + 1) / bands;
            for (std::int64_t y = begin; y < end; ++y) {
                if (first_failed_row.load(std::memory_order_relaxed) < y) return;
                const auto yi = std::int32_t(y);
                const auto* in = static_cast<const std::byte*>(from->PixelAddress(first, yi));
                auto* out = static_cast<std::byte*>(to->PixelAddress(first, yi));
                // pixel_bytes is one of the two sizes the suites carry.
                const PF_Err code = pixel_bytes == sizeof(PF_Pixel16)
                                        ? iterate_row.operator()<sizeof(PF_Pixel16)>(
                                              pix_fn, refcon, first, last, yi, in, out)
                                        : iterate_row.operator()<sizeof(PF_Pixel8)>(
                                              pix_fn, refcon, first, last, yi, in, out);
                if (code != PF_Err_NONE) {
                    results[std::size_t(band)] = code;
                    std::int64_t seen = first_failed_row.load(std::memory_order_relaxed);
                    while (y < seen && !first_failed_row.compare_exchange_weak(
                                           seen, y, std::memory_order_relaxed)) {
                    }
                    return;
                }
            }
        };

        Host* host = &state.host;
        std::vector<std::thread> workers;
        std::vector<int> on_this_thread{0};
        for (int band = 1; band < bands; ++band) {
            try {
                workers.emplace_back([&run_band, host, band] {
                    ActiveScope active(host);
                    run_band(band);
                });
            } catch (const std::system_error&) {
                on_this_thread.push_back(band);  // no thread to be had: do it here
            }
        }
        for (int band : on_this_thread) run_band(band);
        for (std::thread& worker : workers) worker.join();

        for (PF_Err code : results) {
            if (code != PF_Err_NONE) return code;
        }
        return PF_Err_NONE;
    }

    // --- Commands ------------------------------------------------------------------

    /// Runs one command: fresh in_data, this host active, the worlds known.
    PF_Err Run(PF_Cmd cmd, PF_ParamDef** params, World* input_world, World* output_world,
               const PF_LayerDef* input_record) {
        const PF_EntryPointFunc entry = host.effect_.entry_point();
        if (entry == nullptr) throw HostError("no effect is loaded (the library was moved from)");
        PF_InData& in = host.in_data_;
        in = PF_InData{};
        in.inter.add_param = &AddParam;
        in.utils = &utils;
        in.effect_ref = &handle;
        in.quality = quality;
        in.appl_id = appl_id;
        in.pica_basicP = withhold_basic ? nullptr : &basic;
        in.width = input_world != nullptr ? input_world->width() : 0;
        in.height = input_world != nullptr ? input_world->height() : 0;
        add_param_calls = 0;
        input = input_world;
        output = output_world;
        input_param = input_record;

        struct EndOfCommand {
            State& state;
            ~EndOfCommand() {
                state.in_command = false;
                state.input = state.output = nullptr;
                state.input_param = nullptr;
            }
        } end{*this};
        ActiveScope active(&host);
        in_command = true;
        return entry(cmd, &in, &host.out_data_, params,
                     output_world != nullptr ? &output_world->def() : nullptr, nullptr);
    }

    /// Where each control sits among the declarations: by type and order.
    struct Roles {
        std::optional<std::size_t> temperature, magenta, opacity, clamp;
    };

    Roles FindRoles() const {
        Roles roles;
        const std::vector<PF_ParamDef>& declared = host.declared_;
        for (std::size_t i = 0; i < declared.size(); ++i) {
            switch (declared[i].param_type) {
                case PF_Param_FLOAT_SLIDER:
                    if (!roles.temperature) {
                        roles.temperature = i;
                    } else if (!roles.magenta) {
                        roles.magenta = i;
                    }
                    break;
                case PF_Param_FIX_SLIDER:
                    if (!roles.opacity) roles.opacity = i;
                    break;
                case PF_Param_CHECKBOX:
                    if (!roles.clamp) roles.clamp = i;
                    break;
                default:
                    break;
            }
        }
        return roles;
    }

    /// Roles for a checked render or the defaults: every control declared.
    Roles RequireRoles() const {
        if (!params_ready) throw HostError("the effect's parameter set-up has not succeeded");
        const Roles roles = FindRoles();
        auto missing = [](const char* what) {
            return HostError(std::string("the effect declared no ") + what);
        };
        if (!roles.temperature) throw missing("float slider for Temperature");
        if (!roles.magenta) throw missing("second float slider for Magenta");
        if (!roles.opacity) throw missing("fixed slider for Opacity");
        if (!roles.clamp) throw missing("checkbox for Clamp");
        return roles;
    }

    /// Runs parameter set-up when it has not succeeded yet; its result.
    PF_Err EnsureParams() {
        return params_ready ? PF_Err_NONE : host.ParamsSetup();
    }

    /// The array of one render: entry 0 the input layer, then the
    /// declarations in their order, with `set_values` writing the values.
    PF_Err RenderWith(
        World& input_world, World& output_world, const Roles& roles,
        const std::function<void(std::vector<PF_ParamDef>&, const Roles&)>& set_values) {
        std::vector<PF_ParamDef> defs(1);
        defs[0].param_type = PF_Param_LAYER;
        defs[0].u.ld = input_world.def();
        defs.insert(defs.end(), host.declared_.begin(), host.declared_.end());
        // Controls that were never declared get a plain definition of their type
        // (only an unchecked render gets this far without them).
        Roles placed = roles;
        auto add_plain = [&](std::optional<std::size_t>& role, PF_ParamType type) {
            if (role) return;
            PF_ParamDef plain{};
            plain.param_type = type;
            role = defs.size() - 1;
            defs.push_back(plain);
        };
        add_plain(placed.temperature, PF_Param_FLOAT_SLIDER);
        add_plain(placed.magenta, PF_Param_FLOAT_SLIDER);
        add_plain(placed.opacity, PF_Param_FIX_SLIDER);
        add_plain(placed.clamp, PF_Param_CHECKBOX);
        set_values(defs, placed);

        std::vector<PF_ParamDef*> array;
        for (PF_ParamDef& def : defs) array.push_back(&def);
        return Run(PF_Cmd_RENDER, array.data(), &input_world, &output_world, &defs[0].u.ld);
    }
};

// --- Host ------------------------------------------------------------------------

Host::Host(const EffectLibrary& effect, std::int32_t appl_id)
    : state_(std::make_unique<State>(*this)), effect_(effect) {
    state_->appl_id = appl_id;
    std::lock_guard lock(RegistryMutex());
    Registry().push_back(this);
}

Host::~Host() {
    std::lock_guard lock(RegistryMutex());
    std::erase(Registry(), this);
}

void Host::SetApplId(std::int32_t appl_id) {
    state_->appl_id = appl_id;
}
void Host::SetQuality(std::int32_t quality) {
    state_->quality = quality;
}

void Host::SetThreads(int threads) {
    if (threads < 1) throw std::invalid_argument("an iteration needs at least one thread");
    state_->threads = threads;
}

void Host::WithholdBasicSuite(bool withhold) {
    state_->withhold_basic = withhold;
}
void Host::WithholdSuite(const std::string& name) {
    state_->withheld.insert(name);
}

void Host::FailAcquireButFill(const std::string& name, PF_Err code) {
    state_->fail_but_fill[name] = code;
}

void Host::DropBasicSuiteAfter(const std::string& call) {
    if (!call.empty() && KnownCalls().count(call) == 0) {
        throw std::invalid_argument("DropBasicSuiteAfter: no host call is named \"" + call + "\"");
    }
    state_->drop_basic_after = call;
}

void Host::FailAddParamOnCall(int call, PF_Err code) {
    state_->fail_add_param_call = call;
    state_->fail_add_param_code = code;
}

void Host::FailService(const std::string& service, PF_Err code) {
    if (FailableServices().count(service) == 0) {
        throw std::invalid_argument("FailService: no service is named \"" + service + "\"");
    }
    if (code == PF_Err_NONE) {
        state_->failing_services.erase(service);
    } else {
        state_->failing_services[service] = code;
    }
}

void Host::SetPixelFormatAnswer(std::optional<PrPixelFormat> format, PF_Err result) {
    state_->format_overridden = true;
    state_->format_answer = format;
    state_->format_result = result;
}

PF_Err Host::Send(PF_Cmd cmd) {
    return state_->Run(cmd, nullptr, nullptr, nullptr, nullptr);
}
PF_Err Host::About() {
    return Send(PF_Cmd_ABOUT);
}
PF_Err Host::GlobalSetup() {
    return Send(PF_Cmd_GLOBAL_SETUP);
}

PF_Err Host::ParamsSetup() {
    declared_.clear();
    state_->params_ready = false;
    const PF_Err result = Send(PF_Cmd_PARAMS_SETUP);
    if (result == PF_Err_NONE) {
        state_->params_ready = true;
        const A_long expected = A_long(declared_.size()) + 1;
        if (out_data_.num_params != expected) {
            state_->Violation("parameter set-up declared " + std::to_string(declared_.size()) +
                              " controls but set num_params to " +
                              std::to_string(out_data_.num_params) + ", not " +
                              std::to_string(expected));
        }
    }
    return result;
}

PF_Err Host::Render(World& input, World& output, const ParamValues& values) {
    if (const PF_Err setup = state_->EnsureParams(); setup != PF_Err_NONE) {
        throw HostError("the effect's parameter set-up failed with code " + std::to_string(setup) +
                        ", so there is nothing to render with");
    }
    const State::Roles roles = state_->RequireRoles();

    auto check = [&](std::size_t index, double value, double low, double high) {
        if (!(value >= low && value <= high)) {  // NaN fails both comparisons
            throw HostError(NameOf(declared_[index]) + " = " + Number(value) +
                            " is outside its valid range " + Number(low) + " to " + Number(high));
        }
    };
    const PF_FloatSliderDef& temperature = declared_[*roles.temperature].u.fs_d;
    const PF_FloatSliderDef& magenta = declared_[*roles.magenta].u.fs_d;
    const PF_FixedSliderDef& opacity = declared_[*roles.opacity].u.fd;
    check(*roles.temperature, values.temperature, double(temperature.valid_min),
          double(temperature.valid_max));
    check(*roles.magenta, values.magenta, double(magenta.valid_min), double(magenta.valid_max));
    check(*roles.opacity, values.opacity, opacity.valid_min / 65536.0, opacity.valid_max / 65536.0);

    return state_->RenderWith(
        input, output, roles, [&](std::vector<PF_ParamDef>& defs, const State::Roles& at) {
            // Entry i + 1 of the array is declaration i.
            defs[*at.temperature + 1].u.fs_d.value = values.temperature;
            defs[*at.magenta + 1].u.fs_d.value = values.magenta;
            defs[*at.opacity + 1].u.fd.value = PF_Fixed(std::llround(values.opacity * 65536.0));
            defs[*at.clamp + 1].u.bd.value = values.clamp ? 1 : 0;
        });
}

PF_Err Host::RenderUnchecked(World& input, World& output, const RawParamValues& values) {
    state_->EnsureParams();  // a failure leaves plain definitions to stand in
    return state_->RenderWith(input, output, state_->FindRoles(),
                              [&](std::vector<PF_ParamDef>& defs, const State::Roles& at) {
                                  defs[*at.temperature + 1].u.fs_d.value = values.temperature;
                                  defs[*at.magenta + 1].u.fs_d.value = values.magenta;
                                  defs[*at.opacity + 1].u.fd.value = values.opacity;
                                  defs[*at.clamp + 1].u.bd.value = values.clamp;
                              });
}

std::vector<std::string> Host::StillAcquired() const {
    std::lock_guard lock(state_->mutex);
    std::vector<std::string> names;
    for (const auto& [suite, count] : state_->held) {
        for (int i = 0; i < count; ++i) names.push_back(suite.first);
    }
    return names;
}

ParamValues Host::Defaults() const {
    const State::Roles roles = state_->RequireRoles();
    ParamValues values;
    values.temperature = double(declared_[*roles.temperature].u.fs_d.dephault);
    values.magenta = double(declared_[*roles.magenta].u.fs_d.dephault);
    values.opacity = declared_[*roles.opacity].u.fd.dephault / 65536.0;
    values.clamp = declared_[*roles.clamp].u.bd.dephault != 0;
    return values;
}

void Host::ClearLog() {
    std::lock_guard lock(state_->mutex);
    suite_events_.clear();
    calls_.clear();
    violations_.clear();
}

}  // namespace sim
