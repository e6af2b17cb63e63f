// Inside the stand-in host: the one record that owns everything a host knows
// (its records, how it is told to behave, the suite ledger, the command in
// progress and the logs), how a C callback finds that record, and the
// callbacks themselves, which are defined service by service in host_*.cpp.
//
// The C callbacks carry no context argument, so each command marks its host
// as the thread's active host for its duration (and the iteration's worker
// threads do the same for theirs). A callback that arrives with no active host
// is a violation; it is recorded in the host its effect_ref or in_data names,
// or else in the most recently created live host.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/effect_api.h"
#include "sim/controls.h"
#include "sim/effect_library.h"
#include "sim/host.h"
#include "sim/service.h"
#include "sim/world.h"

/// What effect_ref points at: the host that handed it out. The effect sees
/// only an opaque pointer.
struct PF_ProgressInfo {
    sim::HostState* state;
};

namespace sim {

/// Room in return_msg, the one buffer the effect formats into.
inline constexpr std::size_t kMessageBytes = PF_MAX_EFFECT_MSG_LEN + 1;
/// Room in a parameter's name field.
inline constexpr std::size_t kNameBytes = PF_MAX_EFFECT_PARAM_NAME_LEN + 1;

/// The per-pixel callback of the iteration suites: (refcon, x, y, source
/// pixel, destination pixel) returning an error code. Spelled out here so the
/// host depends on nothing but the records of the effect API; the suites'
/// tables only compile if it is the very type they declare.
using PixelCallback = PF_Err (*)(void* refcon, std::int32_t x, std::int32_t y, const void* in,
                                 void* out);

/// A rectangle in 64 bits, so hostile 32-bit coordinates cannot overflow.
struct Span64 {
    std::int64_t left, top, right, bottom;
};

inline Span64 Widen(const PF_Rect& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}

struct HostState {
    /// A host of `effect` for application `appl_id`, entered in the registry
    /// of live hosts until it is destroyed.
    HostState(const EffectLibrary& effect, std::int32_t appl_id);
    ~HostState();
    HostState(const HostState&) = delete;
    HostState& operator=(const HostState&) = delete;

    const EffectLibrary& effect;
    PF_ProgressInfo handle{};
    PF_UtilCallbacks utils{};
    SPBasicSuite basic{};
    PF_InData in_data{};
    /// The host's one out_data record; never cleared between commands.
    PF_OutData out_data{};

    /// Guards the logs, the ledger and the records below against callbacks
    /// from the iteration's worker threads. Never held while effect code runs.
    mutable std::mutex mutex;

    // --- How the host behaves --------------------------------------------------

    std::int32_t appl_id;
    std::int32_t quality = PF_Quality_HI;
    int threads = 1;
    bool withhold_basic = false;
    std::set<std::string> withheld;  ///< suite names AcquireSuite refuses
    std::map<std::string, PF_Err> fail_but_fill;
    std::optional<Service> drop_basic_after;
    int fail_add_param_call = 0;
    PF_Err fail_add_param_code = PF_Err_NONE;
    std::map<Service, PF_Err> failing_services;
    /// A test set a service or an acquire to fail: only then does a call
    /// look its failure up.
    std::atomic<bool> faults{false};
    /// Keep the log of calls and suite events (Recording::kOn).
    bool recording = true;
    bool format_overridden = false;
    std::optional<PrPixelFormat> format_answer;
    PF_Err format_result = PF_Err_NONE;

    // --- The command in progress -------------------------------------------------

    std::atomic<bool> in_command{false};
    int add_param_calls = 0;
    World* input = nullptr;
    World* output = nullptr;
    const PF_LayerDef* input_param = nullptr;  ///< entry 0's world in the render's array

    // --- What the host holds and saw ---------------------------------------------

    /// Acquires minus releases, by suite name and version, over the host's life.
    std::map<std::pair<std::string, std::int32_t>, int> held;
    bool params_ready = false;  ///< the last parameter set-up succeeded
    std::vector<PF_ParamDef> declared;
    std::vector<PrPixelFormat> pixel_formats;
    std::vector<SuiteEvent> suite_events;
    std::vector<std::string> calls;
    std::vector<std::string> violations;

    /// Records something a host would not accept.
    void Violation(std::string text);
    /// Logs a suite event when the host records; the mutex is held.
    void LogSuiteEvent(SuiteEvent event) {
        if (recording) suite_events.push_back(std::move(event));
    }

    /// The host-owned world behind a record the effect passed, or null. Only
    /// the current command's worlds are known.
    World* WorldFor(const PF_LayerDef* def) const;

    // --- Commands (host_commands.cpp) --------------------------------------------

    /// Runs one command: fresh in_data, this host active, the worlds known.
    PF_Err Run(PF_Cmd cmd, PF_ParamDef** params, World* input_world, World* output_world,
               const PF_LayerDef* input_record);
    /// Command 4, keeping the declarations on success.
    PF_Err ParamsSetup();
    /// Runs parameter set-up when it has not succeeded yet; its result.
    PF_Err EnsureParams();
    /// Roles for a checked render or the defaults: every control declared.
    ControlRoles RequireRoles() const;
    /// A render whose array is entry 0 the input layer, then the declarations
    /// in their order (then plain definitions for roles not declared), with
    /// `set_values` writing the values.
    PF_Err RenderWith(
        World& input_world, World& output_world, const ControlRoles& roles,
        const std::function<void(std::vector<PF_ParamDef>&, const ControlRoles&)>& set_values);
};

/// Marks a host active on this thread for one scope; nests.
class ActiveScope {
  public:
    explicit ActiveScope(HostState* state);
    ~ActiveScope();
    ActiveScope(const ActiveScope&) = delete;
    ActiveScope& operator=(const ActiveScope&) = delete;

  private:
    HostState* previous_;
};

/// One callback from the effect: finds its host and records the call on
/// entry (in calls(), or as a violation outside a command), and drops the
/// basic suite on exit when the test asked for that after this service.
class Call {
  public:
    explicit Call(Service service, PF_ProgPtr ref = nullptr, const PF_InData* in_data = nullptr);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    /// True when the call came during one of its host's commands.
    bool ok() const { return in_command_; }
    /// The host's state; only for a call that is ok().
    HostState& state() const { return *state_; }
    /// The host's state, or null when no host is alive at all.
    HostState* state_or_null() const { return state_; }
    const char* name() const { return ServiceName(service_); }
    /// Records a violation in the call's host, if there is one.
    void Violation(std::string text) const;
    /// The code the service was set up to fail with, or 0.
    PF_Err InjectedFailure() const;
    /// Checks the handle the effect passed back; records a violation if it
    /// is not this host's.
    bool OwnHandle(PF_ProgPtr ref) const;

  private:
    Service service_;
    HostState* state_;
    bool in_command_ = false;
};

// --- The services, as the effect reaches them ------------------------------------

// Basic suite (host_suites.cpp).
std::int32_t AcquireSuite(const char* name, std::int32_t version, const void** suite);
std::int32_t ReleaseSuite(const char* name, std::int32_t version);

// ANSI string callbacks (host_ansi.cpp).
#if defined(__MINGW32__)
[[gnu::format(gnu_printf, 2, 3)]]
#else
[[gnu::format(printf, 2, 3)]]
#endif
A_long
Sprintf(char* buffer, const char* format, ...);
char* Strcpy(char* destination, const char* source);

// Parameters (host_params.cpp).
PF_Err AddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def);

// Pixel Format suite (host_formats.cpp).
PF_Err ClearSupportedPixelFormats(PF_ProgPtr effect_ref);
PF_Err AddSupportedPixelFormat(PF_ProgPtr effect_ref, PrPixelFormat format);
PF_Err GetPixelFormat(PF_EffectWorld* world, PrPixelFormat* format);

// Copies: utils and World Transform suite (host_copies.cpp).
PF_Err UtilsCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                 PF_Rect* dst_r);
PF_Err TransformCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                     PF_Rect* dst_r);
PF_Err TransformCopyHq(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                       PF_Rect* dst_r);

// Iteration suites (host_iterate.cpp).
PF_Err Iterate8(PF_InData* in_data, A_long progress_base, A_long progress_final,
                PF_EffectWorld* src, const PF_Rect* area, void* refcon, PixelCallback pix_fn,
                PF_EffectWorld* dst);
PF_Err Iterate16(PF_InData* in_data, A_long progress_base, A_long progress_final,
                 PF_EffectWorld* src, const PF_Rect* area, void* refcon, PixelCallback pix_fn,
                 PF_EffectWorld* dst);

}  // namespace sim
