#include "tools/vemra-render/io/image_channels.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "tools/vemra-render/io/image_files.h"

namespace render {

namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

/// "diffuse" for "diffuse.R", "" for "R": the layer, as OpenImageIO splits
/// names at the last dot.
std::string_view LayerOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(0, dot);
}

std::string_view LastPart(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

/// A layer's red, green, blue and alpha channels, found by their last part
/// in either case.
struct Layer {
    std::string name;
    ChannelMap map;
    bool HasColour() const { return map.red >= 0 && map.green >= 0 && map.blue >= 0; }
};

std::vector<Layer> LayersOf(const std::vector<std::string>& names) {
    std::vector<Layer> layers;
    for (std::size_t c = 0; c < names.size(); ++c) {
        const std::string_view layer_name = LayerOf(names[c]);
        auto layer = std::find_if(layers.begin(), layers.end(),
                                  [&](const Layer& l) { return l.name == layer_name; });
        if (layer == layers.end())
            layer = layers.insert(layers.end(), {std::string(layer_name), {}});
        const std::string_view last = LastPart(names[c]);
        int* slot = SameLetters(last, "R")   ? &layer->map.red
                    : SameLetters(last, "G") ? &layer->map.green
                    : SameLetters(last, "B") ? &layer->map.blue
                    : SameLetters(last, "A") ? &layer->map.alpha
                                             : nullptr;
        if (slot != nullptr && *slot < 0) *slot = int(c);
    }
    return layers;
}

int IndexOf(const std::vector<std::string>& names, std::string_view name) {
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : int(found - names.begin());
}

/// "R,G,B" or "diffuse.R,diffuse.G,diffuse.B": a layer's colour channels.
std::string ColourNames(const std::vector<std::string>& names, const Layer& layer) {
    return fmt::format("{},{},{}", names[std::size_t(layer.map.red)],
                       names[std::size_t(layer.map.green)], names[std::size_t(layer.map.blue)]);
}

ChannelMap Asked(const std::vector<std::string>& names, const std::vector<std::string>& asked,
                 const std::string& file) {
    int found[4] = {-1, -1, -1, -1};
    for (std::size_t i = 0; i < asked.size() && i < 4; ++i) {
        found[i] = IndexOf(names, asked[i]);
        if (found[i] < 0) {
            throw InputRefused(fmt::format("{}: --channels {}: it has no channel {} (it has {})",
                                           file, fmt::join(asked, ","), asked[i],
                                           fmt::join(names, ",")));
        }
    }
    ChannelMap map{found[0], found[1], found[2], found[3]};
    if (asked.size() == 3) {
        for (const Layer& layer : LayersOf(names)) {
            if (layer.name == LayerOf(asked[0])) map.alpha = layer.map.alpha;
        }
    }
    return map;
}

/// The mapping of a file without layer names to go by.
ChannelMap Unnamed(int n, int alpha) {
    if (n == 1) return {0, 0, 0, -1};
    if (n == 2) {
        if (alpha < 0) alpha = 1;  // grey and alpha
        const int grey = alpha == 0 ? 1 : 0;
        return {grey, grey, grey, alpha};
    }
    // The first three that are not alpha.
    int found[3] = {-1, -1, -1};
    int taken = 0;
    for (int c = 0; c < n && taken < 3; ++c) {
        if (c != alpha) found[taken++] = c;
    }
    return {found[0], found[1], found[2], alpha};
}

}  // namespace

ChannelMap ChooseColour(const std::vector<std::string>& names, int alpha_channel,
                        const std::vector<std::string>& asked, const std::string& file) {
    const int n = int(names.size());
    if (!asked.empty()) return Asked(names, asked, file);
    const int alpha = alpha_channel >= 0 && alpha_channel < n ? alpha_channel : -1;
    const std::vector<Layer> layers = LayersOf(names);
    std::vector<const Layer*> coloured;
    for (const Layer& layer : layers) {
        if (!layer.HasColour()) continue;
        if (alpha >= 0 && layer.name == LayerOf(names[std::size_t(alpha)])) {
            ChannelMap map = layer.map;
            map.alpha = alpha;
            return map;
        }
        coloured.push_back(&layer);
    }
    if (coloured.size() == 1) {
        ChannelMap map = coloured[0]->map;
        if (map.alpha < 0) map.alpha = alpha;
        return map;
    }
    if (coloured.size() > 1) {
        std::vector<std::string> sets;
        for (const Layer* layer : coloured) sets.push_back(ColourNames(names, *layer));
        throw InputRefused(
            fmt::format("{}: several layers hold R, G and B ({}), and none holds the alpha: give "
                        "--channels, e.g. --channels {}",
                        file, fmt::join(sets, "; "), sets[1]));
    }
    // No layer names to go by: an A alone still names the alpha.
    int unnamed_alpha = alpha;
    if (unnamed_alpha < 0) {
        for (const Layer& layer : layers) {
            if (layer.name.empty()) unnamed_alpha = layer.map.alpha;
        }
    }
    return Unnamed(n, unnamed_alpha);
}

bool HoldsColour(const std::vector<std::string>& names, const std::vector<std::string>& asked) {
    if (!asked.empty()) {
        return std::all_of(asked.begin(), asked.end(),
                           [&](const std::string& name) { return IndexOf(names, name) >= 0; });
    }
    const std::vector<Layer> layers = LayersOf(names);
    return std::any_of(layers.begin(), layers.end(), [](const Layer& l) { return l.HasColour(); });
}

}  // namespace render
