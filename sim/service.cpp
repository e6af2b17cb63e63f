#include "sim/service.h"

namespace sim {

const char* ServiceName(Service service) {
    switch (service) {
        case Service::kAddParam:
            return "add_param";
        case Service::kUtilsCopy:
            return "utils.copy";
        case Service::kCopy:
            return "copy";
        case Service::kCopyHq:
            return "copy_hq";
        case Service::kIterate8:
            return "iterate8";
        case Service::kIterate16:
            return "iterate16";
        case Service::kAnsiSprintf:
            return "ansi.sprintf";
        case Service::kAnsiStrcpy:
            return "ansi.strcpy";
        case Service::kClearSupportedPixelFormats:
            return "ClearSupportedPixelFormats";
        case Service::kAddSupportedPixelFormat:
            return "AddSupportedPixelFormat";
        case Service::kGetPixelFormat:
            return "GetPixelFormat";
        case Service::kAcquireSuite:
            return "AcquireSuite";
        case Service::kReleaseSuite:
            return "ReleaseSuite";
    }
    return "unknown service";
}

}  // namespace sim
