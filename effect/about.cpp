// Command 0: the about box text, "Temperature v1.0", a carriage return and the
// description, written by the host's ANSI sprintf.
#include "effect/commands.h"
#include "host/suite_table.h"
#include "resources/plugin_identity.h"
#include "resources/string_table.h"

namespace vemra {

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
    HostSuiteTable suites(in_data->pica_basicP);
    const PF_ANSICallbacksSuite1* ansi = suites.Get<PF_ANSICallbacksSuite1>();
    // The host shows the about text by itself: no message flag.
    ansi->sprintf(out_data->return_msg, kAboutFormat, GetString(StrID_Name),
                  static_cast<int>(kVersionMajor), static_cast<int>(kVersionMinor),
                  GetString(StrID_Description));
    return PF_Err_NONE;
}

}  // namespace vemra
