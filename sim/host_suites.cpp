// The basic suite and its ledger: which suites the host offers under which
// name and version, and a count of acquires against releases per suite, so a
// test can see what the effect still holds.
#include "host/suites.h"
#include "sim/host_state.h"

namespace sim {
namespace {

/// The suite offered under `name` and `version`, or null.
const void* OfferedSuite(const std::string& name, std::int32_t version) {
    static const PF_ANSICallbacksSuite1 ansi{&Sprintf, &Strcpy};
    static const PF_PixelFormatSuite1 formats{&ClearSupportedPixelFormats, &AddSupportedPixelFormat,
                                              &GetPixelFormat};
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

}  // namespace

std::int32_t AcquireSuite(const char* name, std::int32_t version, const void** suite) {
    Call call(Service::kAcquireSuite);
    if (suite != nullptr) *suite = nullptr;
    if (name == nullptr || suite == nullptr) {
        call.Violation("AcquireSuite with a null name or result pointer");
        return kErrBadCallbackParam;
    }
    HostState* state = call.state_or_null();
    if (state == nullptr) return kErrOutsideCommand;
    const std::string suite_name(name);
    std::lock_guard lock(state->mutex);
    if (!call.ok()) {
        state->LogSuiteEvent({SuiteEvent::Kind::kAcquire, suite_name, version, false});
        return kErrOutsideCommand;
    }
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
    state->LogSuiteEvent({SuiteEvent::Kind::kAcquire, suite_name, version, *suite != nullptr});
    return result;
}

std::int32_t ReleaseSuite(const char* name, std::int32_t version) {
    Call call(Service::kReleaseSuite);
    if (name == nullptr) {
        call.Violation("ReleaseSuite with a null name");
        return kErrBadCallbackParam;
    }
    HostState* state = call.state_or_null();
    if (state == nullptr) return kErrOutsideCommand;
    const std::string suite_name(name);
    std::lock_guard lock(state->mutex);
    if (!call.ok()) {
        state->LogSuiteEvent({SuiteEvent::Kind::kRelease, suite_name, version, false});
        return kErrOutsideCommand;
    }
    const auto held = state->held.find({suite_name, version});
    const bool matched = held != state->held.end() && held->second > 0;
    if (matched) --held->second;
    state->LogSuiteEvent({SuiteEvent::Kind::kRelease, suite_name, version, matched});
    if (!matched) {
        state->violations.push_back("ReleaseSuite(\"" + suite_name + "\", " +
                                    std::to_string(version) + ") of a suite not acquired");
        return kErrSuiteNotAcquired;
    }
    return PF_Err_NONE;
}

}  // namespace sim
