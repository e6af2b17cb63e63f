// Acquiring host suites: the HostSuiteTable, which acquires a suite on first
// use and releases everything it acquired when the command ends, and the pair
// AcquireHostSuite / ReleaseHostSuite for the one suite held outside it.
#pragma once

#include <cstdint>
#include <tuple>

#include "host/effect_api.h"
#include "host/suites.h"

namespace vemra {

/// A table of suite slots for one command call. Each slot is bound to one
/// suite type, whose kName and kVersion it acquires under. A missing basic
/// suite or a suite the host does not supply is raised as the bare error code
/// PF_Err_SUITE_UNAVAILABLE (516), which EntryPointFunc catches. Destruction,
/// on normal return and on a raised error alike, releases every filled slot
/// with its own name and version. Lives on the command's stack.
template <typename... Suites>
class SuiteTable {
  public:
    /// Stores the basic suite; raises 516 at once if the host gave none.
    explicit SuiteTable(SPBasicSuite* basic) : basic_(basic) {
        if (basic_ == nullptr) throw PF_Err{PF_Err_SUITE_UNAVAILABLE};
    }

    ~SuiteTable() { (Release<Suites>(), ...); }

    SuiteTable(const SuiteTable&) = delete;
    SuiteTable& operator=(const SuiteTable&) = delete;

    /// The slot's suite, acquired on the first call; later calls in the same
    /// command reuse it. Raises 516 if the host returns an error or no suite.
    template <typename Suite>
    const Suite* Get() {
        const Suite*& slot = std::get<const Suite*>(slots_);
        if (slot == nullptr) {
            const void* acquired = nullptr;
            const std::int32_t result =
                basic_->AcquireSuite(Suite::kName, Suite::kVersion, &acquired);
            if (result != 0 || acquired == nullptr) {
                // A host that failed the call but handed out a suite anyway gets it
                // back, so that nothing stays acquired after the command.
                if (acquired != nullptr) basic_->ReleaseSuite(Suite::kName, Suite::kVersion);
                throw PF_Err{PF_Err_SUITE_UNAVAILABLE};
            }
            slot = static_cast<const Suite*>(acquired);
        }
        return slot;
    }

  private:
    template <typename Suite>
    void Release() {
        if (std::get<const Suite*>(slots_) != nullptr) {
            basic_->ReleaseSuite(Suite::kName, Suite::kVersion);  // result ignored
        }
    }

    SPBasicSuite* basic_;
    std::tuple<const Suites*...> slots_{};
};

/// The suites this effect acquires through a table. Adding a slot for
/// another suite is one more type in this list.
using HostSuiteTable = SuiteTable<PF_ANSICallbacksSuite1,   //
                                  PF_WorldTransformSuite1,  //
                                  PF_Iterate8Suite1,        //
                                  PF_iterate16Suite1>;

inline constexpr char kAcquireFailedMessage[] = "Not able to acquire AEFX Suite.";
inline constexpr char kReleaseFailedMessage[] = "Not able to release AEFX Suite.";

/// Acquires one suite explicitly. Succeeds (0) when the host hands back a
/// suite pointer, whatever code its call returned. Otherwise, or with no basic
/// suite, sets PF_OutFlag_DISPLAY_ERROR_MESSAGE, writes kAcquireFailedMessage
/// into return_msg and returns 516.
PF_Err AcquireHostSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                        std::int32_t version, const void** suite);

/// Releases one suite explicitly; the host's result is ignored. With no basic
/// suite, sets PF_OutFlag_DISPLAY_ERROR_MESSAGE, writes kReleaseFailedMessage
/// and returns 516.
PF_Err ReleaseHostSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                        std::int32_t version);

/// AcquireHostSuite for a declared suite type.
template <typename Suite>
PF_Err AcquireHostSuite(PF_InData* in_data, PF_OutData* out_data, const Suite** suite) {
    const void* acquired = nullptr;
    const PF_Err result =
        AcquireHostSuite(in_data, out_data, Suite::kName, Suite::kVersion, &acquired);
    *suite = static_cast<const Suite*>(acquired);
    return result;
}

/// ReleaseHostSuite for a declared suite type.
template <typename Suite>
PF_Err ReleaseHostSuite(PF_InData* in_data, PF_OutData* out_data) {
    return ReleaseHostSuite(in_data, out_data, Suite::kName, Suite::kVersion);
}

}  // namespace vemra
