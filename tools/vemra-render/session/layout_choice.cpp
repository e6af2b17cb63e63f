#include "tools/vemra-render/session/layout_choice.h"

#include <fmt/format.h>

#include <algorithm>

#include "sim/host.h"

namespace render {

std::int32_t ApplIdOf(HostKind host) {
    return host == HostKind::kPrmr ? kApplIdPrMr : sim::kApplIdOther;
}

std::optional<sim::Layout> LayoutOf(HostKind host, Depth depth) {
    if (host == HostKind::kAe) {
        if (depth == Depth::k8) return sim::Layout::kArgb8;
        if (depth == Depth::k16) return sim::Layout::kArgb16;
        return std::nullopt;
    }
    if (depth == Depth::k8) return sim::Layout::kBgra8;
    if (depth == Depth::kFloat) return sim::Layout::kBgraFloat;
    return std::nullopt;
}

std::vector<Depth> SupportedDepths(HostKind host, const HostCapabilities& caps) {
    std::vector<Depth> depths;
    if (host == HostKind::kAe) {
        depths.push_back(Depth::k8);
        if (caps.ae_deep) depths.push_back(Depth::k16);
        return depths;
    }
    auto registered = [&](PrPixelFormat format) {
        return std::find(caps.prmr_formats.begin(), caps.prmr_formats.end(), format) !=
               caps.prmr_formats.end();
    };
    if (registered(PrPixelFormat_BGRA_4444_8u)) depths.push_back(Depth::k8);
    if (registered(PrPixelFormat_BGRA_4444_32f)) depths.push_back(Depth::kFloat);
    return depths;
}

std::string DescribeLayout(sim::Layout layout) {
    switch (layout) {
        case sim::Layout::kArgb8:
            return "8-bit ARGB";
        case sim::Layout::kArgb16:
            return "16-bit ARGB";
        case sim::Layout::kBgra8:
            return "8-bit \"bgra\"";
        case sim::Layout::kBgraFloat:
            return "32-bit float \"BGra\"";
    }
    return "?";
}

LayoutChoice ChooseLayout(SampleType file, std::optional<HostKind> host, std::optional<Depth> depth,
                          const HostCapabilities& caps) {
    const bool float_file = file == SampleType::kFloat;
    if (!host) {
        if (depth == Depth::kFloat) {
            host = HostKind::kPrmr;
        } else if (depth == Depth::k16) {
            host = HostKind::kAe;
        } else {
            host = float_file ? HostKind::kPrmr : HostKind::kAe;
        }
    }
    if (!depth) {
        if (file == SampleType::kUint8) {
            depth = Depth::k8;
        } else {
            depth = *host == HostKind::kAe ? Depth::k16 : Depth::kFloat;
        }
    }

    const std::vector<Depth> supported = SupportedDepths(*host, caps);
    const std::optional<sim::Layout> layout = LayoutOf(*host, *depth);
    if (!layout || std::find(supported.begin(), supported.end(), *depth) == supported.end()) {
        std::string names;
        for (Depth d : supported) {
            if (!names.empty()) names += ", ";
            names +=
                fmt::format("--depth {} ({})", DepthName(d), DescribeLayout(*LayoutOf(*host, d)));
        }
        if (names.empty()) names = "nothing (the effect registered no layout for it)";
        throw LayoutError(
            fmt::format("the {} host cannot render --depth {}; the effect renders {} in it",
                        HostName(*host), DepthName(*depth), names));
    }
    return LayoutChoice{*host, *depth, *layout};
}

std::size_t WorldBytesPerPixel(const LayoutChoice& choice) {
    return sim::BytesPerPixel(choice.layout);
}

}  // namespace render
