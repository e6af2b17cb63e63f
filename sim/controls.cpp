#include "sim/controls.h"

#include <cmath>

namespace sim {

namespace {
constexpr double kFixedOne = 65536.0;
}

ControlRoles FindControlRoles(const std::vector<PF_ParamDef>& declared) {
    ControlRoles roles;
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

PF_Fixed ToFixed(double value) {
    return PF_Fixed(std::llround(value * kFixedOne));
}

double FromFixed(PF_Fixed value) {
    return value / kFixedOne;
}

}  // namespace sim
