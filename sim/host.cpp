// sim::Host: how a test sets the host up and what it reads back. Everything
// lives in the host's state (host_state.h); the services and commands are in
// host_*.cpp, one service a file.
#include "sim/host.h"

#include "sim/host_state.h"

namespace sim {

Host::Host(const EffectLibrary& effect, std::int32_t appl_id, Recording recording)
    : state_(std::make_unique<HostState>(effect, appl_id)) {
    state_->recording = recording == Recording::kOn;
}

Host::~Host() = default;

// --- How the host behaves ------------------------------------------------------------

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
    state_->faults = true;
}

void Host::DropBasicSuiteAfter(std::optional<Service> service) {
    state_->drop_basic_after = service;
}

void Host::FailAddParamOnCall(int call, PF_Err code) {
    state_->fail_add_param_call = call;
    state_->fail_add_param_code = code;
}

void Host::FailService(Service service, PF_Err code) {
    switch (service) {
        case Service::kUtilsCopy:
        case Service::kCopy:
        case Service::kCopyHq:
        case Service::kIterate8:
        case Service::kIterate16:
        case Service::kClearSupportedPixelFormats:
        case Service::kAddSupportedPixelFormat:
            break;
        default:
            throw std::invalid_argument(std::string("FailService: ") + ServiceName(service) +
                                        " fails in its own way, not by FailService");
    }
    if (code == PF_Err_NONE) {
        state_->failing_services.erase(service);
    } else {
        state_->failing_services[service] = code;
        state_->faults = true;
    }
}

void Host::SetPixelFormatAnswer(std::optional<PrPixelFormat> format, PF_Err result) {
    state_->format_overridden = true;
    state_->format_answer = format;
    state_->format_result = result;
}

// --- What the host saw -----------------------------------------------------------------

PF_OutData& Host::out_data() {
    return state_->out_data;
}
const PF_InData& Host::in_data() const {
    return state_->in_data;
}
const std::vector<SuiteEvent>& Host::suite_events() const {
    return state_->suite_events;
}
const std::vector<std::string>& Host::calls() const {
    return state_->calls;
}
const std::vector<PrPixelFormat>& Host::supported_pixel_formats() const {
    return state_->pixel_formats;
}
const std::vector<PF_ParamDef>& Host::declared_params() const {
    return state_->declared;
}
const std::vector<std::string>& Host::violations() const {
    return state_->violations;
}

std::vector<std::string> Host::StillAcquired() const {
    std::lock_guard lock(state_->mutex);
    std::vector<std::string> names;
    for (const auto& [suite, count] : state_->held) {
        for (int i = 0; i < count; ++i) names.push_back(suite.first);
    }
    return names;
}

void Host::ClearLog() {
    std::lock_guard lock(state_->mutex);
    state_->suite_events.clear();
    state_->calls.clear();
    state_->violations.clear();
}

}  // namespace sim
