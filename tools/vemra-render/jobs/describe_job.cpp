// The describe job (--describe): the effect's about text, its declared
// controls and the layouts it renders in each host.
#include <fmt/format.h>

#include "tools/vemra-render/jobs/controls.h"
#include "tools/vemra-render/jobs/jobs.h"

namespace render {

void Describe(EffectSession& session) {
    fmt::print("{}\n\nEffect library: {}\n\nControls, as the effect declares them:\n{}\n",
               session.AboutText(), session.path(), ControlTable(session));
    fmt::print("Layouts it renders:\n");
    for (HostKind host : {HostKind::kAe, HostKind::kPrmr}) {
        std::string list;
        for (Depth depth : SupportedDepths(host, session.capabilities())) {
            if (!list.empty()) list += ", ";
            list += fmt::format("--depth {} ({})", DepthName(depth),
                                DescribeLayout(*LayoutOf(host, depth)));
        }
        fmt::print("  --host {:<5} {}\n", HostName(host), list.empty() ? "nothing" : list);
    }
}

}  // namespace render
