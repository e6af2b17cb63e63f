// The effect's controls as the tool's options set them: the values a run
// renders with, and the tables and summaries that show them.
#pragma once

#include <string>

#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/session/effect_session.h"

namespace render {

/// The control values: the options given, the declared defaults for the
/// rest. Throws RefusedError naming the option, the control and its valid
/// range for the first value outside that range.
ControlValues ValuesFromOptions(const Options& options, const EffectSession& session);

/// The declared controls as a table, with the option that sets each, for
/// --describe and --help.
std::string ControlTable(const EffectSession& session);

/// "Temperature 1.0, Magenta 0.0, Opacity 100.0%, Clamp on output off".
std::string ControlSummary(const EffectSession& session, const ControlValues& values);

/// True when every value is the declared default, which leaves a picture as it is.
bool AllDefaults(const EffectSession& session, const ControlValues& values);

}  // namespace render
