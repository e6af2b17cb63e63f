#include "tools/vemra-render/io/movie_data_type.h"

#include <algorithm>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/movie_source.h"

namespace render {

DataType MovieDataType(const SourceDescription& source) {
    const AVPixFmtDescriptor* desc =
        av_pix_fmt_desc_get(AVPixelFormat(source.video_stream().parameters.get().format));
    if (desc == nullptr) return DataType::kUint8;
    if ((desc->flags & AV_PIX_FMT_FLAG_FLOAT) != 0) return DataType::kFloat;
    int bits = 0;
    for (int c = 0; c < desc->nb_components; ++c) bits = std::max(bits, desc->comp[c].depth);
    if (bits <= 8) return DataType::kUint8;
    if (bits <= 10) return DataType::kUint10;
    if (bits <= 12) return DataType::kUint12;
    return bits <= 16 ? DataType::kUint16 : DataType::kFloat;
}

}  // namespace render
