// How a callback finds its host, and what every callback records on the way
// in and out: the registry of live hosts, the thread's active host, and the
// host state's own set-up.
#include <algorithm>
#include <thread>

#include "sim/host_state.h"

namespace sim {
namespace {

/// The host whose command runs on this thread.
thread_local HostState* t_active = nullptr;

/// Every live host, newest last, for callbacks that arrive outside a command.
std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<HostState*>& Registry() {
    static std::vector<HostState*> hosts;
    return hosts;
}

/// The host a callback belongs to: the thread's active host, else the one the
/// handle or in_data names, else the newest live host.
HostState* Resolve(PF_ProgPtr ref, const PF_InData* in_data) {
    if (t_active != nullptr) return t_active;
    std::lock_guard lock(RegistryMutex());
    for (HostState* candidate : Registry()) {
        if ((ref != nullptr && ref == &candidate->handle) ||
            (in_data != nullptr && in_data == &candidate->in_data)) {
            return candidate;
        }
    }
    return Registry().empty() ? nullptr : Registry().back();
}

}  // namespace

HostState::HostState(const EffectLibrary& library, std::int32_t appl)
    : effect(library), appl_id(appl) {
    handle.state = this;
    utils.copy = &UtilsCopy;
    utils.ansi.sprintf = &Sprintf;
    utils.ansi.strcpy = &Strcpy;
    basic.AcquireSuite = &AcquireSuite;
    basic.ReleaseSuite = &ReleaseSuite;
    const unsigned cores = std::thread::hardware_concurrency();
    threads = cores == 0 ? 1 : int(cores);
    std::lock_guard lock(RegistryMutex());
    Registry().push_back(this);
}

HostState::~HostState() {
    std::lock_guard lock(RegistryMutex());
    std::erase(Registry(), this);
}

void HostState::Violation(std::string text) {
    std::lock_guard lock(mutex);
    violations.push_back(std::move(text));
}

World* HostState::WorldFor(const PF_LayerDef* def) const {
    if (def == nullptr) return nullptr;
    if (output != nullptr && def == &output->def()) return output;
    if (input != nullptr && (def == &input->def() || def == input_param)) return input;
    return nullptr;
}

ActiveScope::ActiveScope(HostState* state) : previous_(std::exchange(t_active, state)) {}
ActiveScope::~ActiveScope() {
    t_active = previous_;
}

Call::Call(Service service, PF_ProgPtr ref, const PF_InData* in_data)
    : service_(service), state_(Resolve(ref, in_data)) {
    if (state_ == nullptr) return;
    in_command_ = t_active == state_ && state_->in_command.load();
    // The basic suite's calls are logged as suite events instead.
    const bool listed = service != Service::kAcquireSuite && service != Service::kReleaseSuite;
    std::lock_guard lock(state_->mutex);
    if (listed && state_->recording) state_->calls.emplace_back(name());
    if (!in_command_)
        state_->violations.push_back(std::string(name()) + " called outside a command");
}

Call::~Call() {
    if (!in_command_) return;
    std::lock_guard lock(state_->mutex);
    if (state_->drop_basic_after == service_) state_->in_data.pica_basicP = nullptr;
}

void Call::Violation(std::string text) const {
    if (state_ != nullptr) state_->Violation(std::move(text));
}

PF_Err Call::InjectedFailure() const {
    if (!state_->faults.load()) return PF_Err_NONE;
    std::lock_guard lock(state_->mutex);
    const auto found = state_->failing_services.find(service_);
    return found == state_->failing_services.end() ? PF_Err_NONE : found->second;
}

bool Call::OwnHandle(PF_ProgPtr ref) const {
    if (ref == &state_->handle) return true;
    Violation(std::string(name()) + ": effect_ref is not the handle this host gave");
    return false;
}

}  // namespace sim
