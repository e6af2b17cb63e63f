#include "tools/vemra-render/session/host_kind.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace render {

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return lower;
}

}  // namespace

std::string_view HostName(HostKind host) {
    return host == HostKind::kAe ? "ae" : "prmr";
}

std::string_view DepthName(Depth depth) {
    switch (depth) {
        case Depth::k8:
            return "8";
        case Depth::k16:
            return "16";
        case Depth::kFloat:
            return "float";
    }
    return "?";
}

std::optional<HostKind> ParseHost(std::string_view text) {
    const std::string lower = Lower(text);
    if (lower == "ae") return HostKind::kAe;
    if (lower == "prmr") return HostKind::kPrmr;
    return std::nullopt;
}

std::optional<Depth> ParseDepth(std::string_view text) {
    const std::string lower = Lower(text);
    if (lower == "8") return Depth::k8;
    if (lower == "16") return Depth::k16;
    if (lower == "float" || lower == "32f" || lower == "f32") return Depth::kFloat;
    return std::nullopt;
}

}  // namespace render
