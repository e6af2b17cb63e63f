// Which channels of an image file the effect renders as colour, and which
// it leaves untouched for the writer to carry: depth, render passes,
// mattes, IDs. The colour is one layer's R, G and B (OpenImageIO's reading
// of channel names, "diffuse.R" being layer "diffuse"), with the alpha the
// library names or the layer's own A.
#pragma once

#include <string>
#include <vector>

namespace render {

/// Which channels become red, green, blue and alpha (-1: none). Grey has
/// one channel in all three colours.
struct ChannelMap {
    int red = -1, green = -1, blue = -1, alpha = -1;

    /// Channel `c` is one of the four.
    bool IsColour(int c) const { return c == red || c == green || c == blue || c == alpha; }
};

/// The colour of a part with channels `names`, whose alpha the image library
/// reads as `alpha_channel` (-1: none), chosen as follows. With `asked`
/// (--channels: three names, or four with alpha) those channels, alpha
/// otherwise the layer's own A. Else the layer holding `alpha_channel` when
/// it has R, G and B; else the one layer that has them. Else, in a file
/// without such names: grey (one channel, or two with alpha), or the first
/// three channels besides alpha. Throws InputRefused naming `file`: a name
/// of `asked` that the part lacks, or several layers with R, G and B and
/// nothing to choose between them.
ChannelMap ChooseColour(const std::vector<std::string>& names, int alpha_channel,
                        const std::vector<std::string>& asked, const std::string& file);

/// Whether a part with channels `names` holds colour to render: every name
/// of `asked` when given, else a layer with R, G and B. A multi-part file's
/// other parts are copied as they are.
bool HoldsColour(const std::vector<std::string>& names, const std::vector<std::string>& asked);

}  // namespace render
