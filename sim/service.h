// The host's services by name: what calls() lists, what fault injection
// targets and what violation messages say. An enum, so that a test naming a
// service that does not exist fails to compile instead of failing at run time.
#pragma once

namespace sim {

enum class Service {
    kAddParam,
    kUtilsCopy,  ///< the copy in in_data->utils
    kCopy,       ///< World Transform suite
    kCopyHq,     ///< World Transform suite
    kIterate8,
    kIterate16,
    kAnsiSprintf,  ///< in utils and in the ANSI suite alike
    kAnsiStrcpy,
    kClearSupportedPixelFormats,
    kAddSupportedPixelFormat,
    kGetPixelFormat,
    kAcquireSuite,  ///< basic suite; not listed in calls()
    kReleaseSuite,  ///< basic suite; not listed in calls()
};

/// The service's name in calls() and in messages: "add_param", "utils.copy",
/// "copy", "copy_hq", "iterate8", "iterate16", "ansi.sprintf", "ansi.strcpy",
/// "ClearSupportedPixelFormats", "AddSupportedPixelFormat", "GetPixelFormat",
/// "AcquireSuite", "ReleaseSuite".
const char* ServiceName(Service service);

}  // namespace sim
