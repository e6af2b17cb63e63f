#include "host/suite_table.h"

namespace vemra {
namespace {

PF_Err ReportSuiteFailure(PF_InData* in_data, PF_OutData* out_data, const char* message) {
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    in_data->utils->ansi.sprintf(out_data->return_msg, "%s", message);
    return PF_Err_SUITE_UNAVAILABLE;
}

}  // namespace

PF_Err AcquireHostSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                        std::int32_t version, const void** suite) {
    *suite = nullptr;
    if (in_data->pica_basicP != nullptr) {
        in_data->pica_basicP->AcquireSuite(name, version, suite);
        if (*suite != nullptr) return PF_Err_NONE;
    }
    return ReportSuiteFailure(in_data, out_data, kAcquireFailedMessage);
}

PF_Err ReleaseHostSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                        std::int32_t version) {
    if (in_data->pica_basicP == nullptr) {
        return ReportSuiteFailure(in_data, out_data, kReleaseFailedMessage);
    }
    in_data->pica_basicP->ReleaseSuite(name, version);
    return PF_Err_NONE;
}

}  // namespace vemra
