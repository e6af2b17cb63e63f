// The effect's controls as the tool's options set them: the values a run
// renders with, and the tables and summaries that show them.
#pragma once

#include <string>

#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/session/effect_session.h"

namespace render {

/// The control values: those given, the declared defaults for the rest.
/// Throws RefusedError naming the option, the control and its valid range
/// for the first value outside that range: the tool's one range check,
/// before any work.
ParamValues ValuesFromOptions(const GivenControls& given, const EffectSession& session);

/// The declared controls as a table, with the option that sets each, for
/// --describe and --help.
std::string ControlTable(const EffectSession& session);

/// "Temperature 1.0, Magenta 0.0, Opacity 100.0%, Clamp on output off".
std::string ControlSummary(const EffectSession& session, const ParamValues& values);

/// True when every value is the declared default, which leaves a picture as it is.
bool AllDefaults(const EffectSession& session, const ParamValues& values);

}  // namespace render
