// The stand-in host: drives a loaded effect through EntryPointFunc exactly as
// a host does, with the records, callbacks and suites of host/effect_api.h and
// host/suites.h behind it. Tests can withhold or fail any service and see
// every call the effect made.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/effect_api.h"
#include "sim/controls.h"
#include "sim/effect_library.h"
#include "sim/service.h"
#include "sim/world.h"

namespace sim {

/// Application identifier of a host that is not "PrMr" ("FXTC").
inline constexpr std::int32_t kApplIdOther = std::int32_t(FourCharCode("FXTC"));

/// Codes the host's own services return when they refuse a call. They differ
/// from every code the effect returns, so a test can tell who failed.
/// AcquireSuite: the suite is not offered (unknown name or version, or withheld).
inline constexpr PF_Err kErrSuiteNotOffered = 0x7301;
/// ReleaseSuite: the suite was not acquired (or every acquire was released).
inline constexpr PF_Err kErrSuiteNotAcquired = 0x7302;
/// A callback made while no command of this host is running.
inline constexpr PF_Err kErrOutsideCommand = 0x7303;
/// A bad argument: null pointer, foreign effect_ref, a world the host did not
/// hand out, a pixel size the service does not carry, an unknown parameter type.
inline constexpr PF_Err kErrBadCallbackParam = 0x7304;

/// Thrown for a request the host refuses before calling the effect, such as a
/// parameter value outside its control's valid range.
class HostError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Parameter values in the units the host's controls show.
struct ParamValues {
    double temperature = 0.0;  ///< float slider
    double magenta = 0.0;      ///< float slider
    double opacity = 100.0;    ///< percent; stored as 16.16 fixed point, rounded to nearest
    bool clamp = false;        ///< checkbox
};

/// Raw parameter words placed in the array as they are, with no range check.
struct RawParamValues {
    double temperature = 0.0;
    double magenta = 0.0;
    PF_Fixed opacity = 100 << 16;
    A_long clamp = 0;
};

/// One call of the basic suite by the effect.
struct SuiteEvent {
    enum class Kind { kAcquire, kRelease } kind;
    std::string name;
    std::int32_t version;
    bool granted;  ///< acquire: a suite pointer was handed out; release: it matched an acquire
};

struct HostState;

/// Whether a host keeps its log of what the effect called (suite_events(),
/// calls()). A test instrument keeps it; a host that renders frame after
/// frame for a tool keeps none, so nothing grows per frame. Violations are
/// kept either way.
enum class Recording { kOn, kOff };

class Host {
  public:
    /// A host that drives `effect`; `effect` must outlive the host. Quality
    /// starts at PF_Quality_HI.
    explicit Host(const EffectLibrary& effect, std::int32_t appl_id = kApplIdOther,
                  Recording recording = Recording::kOn);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // --- How the host behaves -------------------------------------------------

    void SetApplId(std::int32_t appl_id);
    void SetQuality(std::int32_t quality);
    /// Threads the iteration suites use; default the machine's cores. With 1
    /// the pixel function runs on the calling thread. Throws
    /// std::invalid_argument below 1.
    void SetThreads(int threads);

    /// No basic suite at all: pica_basicP is null.
    void WithholdBasicSuite(bool withhold = true);
    /// AcquireSuite for `name` (any version) returns kErrSuiteNotOffered and
    /// a null pointer. `name` is a suite name as the effect sends it (the
    /// kName of a suite in host/suites.h, or any other text).
    void WithholdSuite(const std::string& name);
    /// AcquireSuite for `name` returns `code` but still fills the pointer. The
    /// suite counts as acquired: the effect owes a release for it.
    void FailAcquireButFill(const std::string& name, PF_Err code);
    /// The host drops the basic suite (pica_basicP becomes null) right after
    /// a call of `service` returns, e.g. Service::kGetPixelFormat; nullopt
    /// stops it. The next command gets the basic suite back.
    void DropBasicSuiteAfter(std::optional<Service> service);
    /// add_param fails with `code` on its `call`-th call (1-based), counted
    /// afresh in every command. The failing call is still listed in calls().
    void FailAddParamOnCall(int call, PF_Err code);
    /// `service` returns `code` without doing its work; code 0 ends the
    /// failure. Any of the copies and iterations, ClearSupportedPixelFormats
    /// and AddSupportedPixelFormat; std::invalid_argument for the others,
    /// which fail in their own ways (FailAddParamOnCall, SetPixelFormatAnswer,
    /// WithholdSuite).
    void FailService(Service service, PF_Err code);
    /// GetPixelFormat returns `result` and, when `format` is given, writes it
    /// instead of the world's own format; with no format and result 0 it
    /// leaves the caller's code untouched.
    void SetPixelFormatAnswer(std::optional<PrPixelFormat> format, PF_Err result);

    // --- Commands ------------------------------------------------------------

    /// Sends any command with this host's records, no parameters and no output.
    /// Every command gets in_data rebuilt (the basic suite restored unless
    /// withheld); out_data is the host's one record and is never cleared, so a
    /// test may preset it and see what a command left unwritten.
    PF_Err Send(PF_Cmd cmd);
    PF_Err About();
    PF_Err GlobalSetup();
    /// Command 4; on success the declared parameters are kept for rendering.
    /// The declarations received before are dropped first. A success whose
    /// num_params is not 1 + the controls declared is recorded as a violation.
    PF_Err ParamsSetup();

    /// Command 11 with `input` as the layer and `output` as the output world.
    /// Values are checked against the declared ranges (HostError if outside);
    /// runs ParamsSetup first if it has not succeeded yet (HostError if that
    /// fails). The controls are found by FindControlRoles (sim/controls.h):
    /// by type and declaration order; entries 1.. of the array are the
    /// declarations in their order. Opacity goes in as ToFixed(opacity).
    PF_Err Render(World& input, World& output, const ParamValues& values);
    /// Command 11 with raw parameter words, unchecked, for tests and fuzzing.
    /// Also runs ParamsSetup first when needed, but never throws for it: a
    /// control that was not declared gets a plain definition of its type.
    PF_Err RenderUnchecked(World& input, World& output, const RawParamValues& values);

    // --- What the host saw ------------------------------------------------------

    PF_OutData& out_data();
    const PF_InData& in_data() const;

    /// Every acquire and release, in order, since construction or ClearLog().
    /// Calls made outside a command are listed with granted false. Empty
    /// for a host made with Recording::kOff.
    const std::vector<SuiteEvent>& suite_events() const;
    /// Names of suites acquired and not yet released (one entry per excess
    /// acquire), over the host's whole life: ClearLog() does not forget them.
    std::vector<std::string> StillAcquired() const;
    bool NothingAcquired() const { return StillAcquired().empty(); }

    /// Every host callback the effect made, by ServiceName() (the basic
    /// suite's calls are in suite_events() instead). Empty for a host made
    /// with Recording::kOff.
    const std::vector<std::string>& calls() const;
    /// Pixel formats the effect registered, in order, since the last clear.
    const std::vector<PrPixelFormat>& supported_pixel_formats() const;
    /// Parameter definitions as add_param received them, in order.
    const std::vector<PF_ParamDef>& declared_params() const;
    /// Defaults of the declared controls (ParamsSetup must have succeeded;
    /// HostError otherwise, or when a control was not declared).
    ParamValues Defaults() const;
    /// Things the effect did that a host would not accept, one line each: a
    /// callback outside a command; a string that did not fit its buffer;
    /// releasing a suite not acquired; a bad argument (a null pointer, an
    /// effect_ref not this host's, a world the command did not hand out, a
    /// pixel size the service does not carry, add_param at an index other
    /// than -1 or of a type the host does not take, a name without its
    /// terminator); a parameter set-up whose num_params is not 1 + the
    /// controls declared. Empty when all was well.
    const std::vector<std::string>& violations() const;

    /// Forgets suite_events(), calls() and violations(); the suite ledger,
    /// the registered pixel formats and the declarations stay.
    void ClearLog();

  private:
    /// Everything the host knows, settings, logs and records alike, in one
    /// place the C callbacks reach as well.
    std::unique_ptr<HostState> state_;
};

}  // namespace sim
