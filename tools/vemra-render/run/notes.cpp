#include "tools/vemra-render/run/notes.h"

#include <fmt/format.h>

#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

void Notes::Once(const std::string& kind, const std::string& text) {
    if (quiet_ || !printed_.insert(kind).second) return;
    if (progress_ != nullptr) progress_->Clear();
    WriteMessage(fmt::format("vemra-render: note: {}\n", text));
}

}  // namespace render
