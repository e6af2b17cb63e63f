// Writing image files: the rendered colour in the chosen type, with the
// source file's other channels, parts and windows as far as the format
// holds them (image_formats.h), and a note for whatever it cannot hold.
#include <OpenImageIO/filesystem.h>
#include <fmt/format.h>

#include <algorithm>
#include <span>

#include "tools/vemra-render/io/compression.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/image_files_oiio.h"
#include "tools/vemra-render/io/image_formats.h"
#include "tools/vemra-render/run/atomic_output.h"
#include "tools/vemra-render/run/interrupt.h"
#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace fs = std::filesystem;

namespace {

/// Sets the compression of `header`, a file of `format_name` (see compression.h).
void SetCompression(OIIO::ImageSpec& header, std::string_view format_name,
                    const std::string& option, bool from_same_format) {
    const std::string value = ChooseCompression(
        format_name, option, from_same_format ? header.get_string_attribute("compression") : "");
    if (value.empty()) return;  // a format with no say here: the library's own default
    if (format_name == "png") {
        const PngCompression png = PngCompressionOf(value);
        header.erase_attribute("compression");
        header.attribute("png:compressionLevel", png.level);
        header.attribute("png:filter", png.filter);
    } else {
        header.attribute("compression", value);
    }
}

/// The file type that stores `type`; 10 and 12 bits are 16-bit samples
/// with oiio:BitsPerSample saying how many count.
OIIO::TypeDesc StorageOf(DataType type) {
    if (type == DataType::kHalf) return OIIO::TypeDesc::HALF;
    return FileTypeOf(SampleTypeOf(type));
}

/// The type OpenEXR stores another channel of `type` in: its own when it is
/// half, float or uint32; else the nearest that holds it.
OIIO::TypeDesc ExrTypeOf(OIIO::TypeDesc type) {
    switch (type.basetype) {
        case OIIO::TypeDesc::HALF:
        case OIIO::TypeDesc::FLOAT:
        case OIIO::TypeDesc::UINT32:
            return type;
        case OIIO::TypeDesc::UINT8:
        case OIIO::TypeDesc::INT8:
            return OIIO::TypeDesc::HALF;
        default:
            return OIIO::TypeDesc::FLOAT;
    }
}

/// Samples of one channel in memory: where the first lies and the steps.
struct ChannelSource {
    const std::byte* data = nullptr;
    OIIO::TypeDesc type;
    std::ptrdiff_t pixel_step = 0;
    std::ptrdiff_t row_step = 0;
};

/// One part as it is written: its header, and its samples as the header
/// packs them (`own`), or the rendered image's when they need no packing.
struct PartOut {
    OIIO::ImageSpec header;
    /// Where the written window lies on the source's picture plane; the
    /// header places it at the origin for a format without windows.
    int window_x = 0, window_y = 0;
    const Image* image = nullptr;  ///< written as it is: the fast path
    std::vector<std::byte> own;
    const std::vector<std::byte>* native = nullptr;  ///< a copied part's samples
};

/// What the writer works from for one file.
struct WriteJob {
    std::string name;  ///< the output, for messages
    std::string format;
    const FormatKeeps* keeps = nullptr;  ///< null: a format the table does not list
    bool alpha = true;                   ///< the format holds alpha
    const WriteSettings* settings = nullptr;
    const LoadedImage* source = nullptr;  ///< null: the image alone
    std::optional<DataType> forced;       ///< the type a test writes in
    std::vector<PendingNote>* notes = nullptr;
};

/// Where the samples of rendered part `part` lie in the source: its own
/// kept samples, or the colour buffer they were read into.
const std::vector<std::byte>& NativeOf(const LoadedImage& source, const KeptPart& part,
                                       int rendered_index) {
    if (!part.native.empty()) return part.native;
    return rendered_index == 0 ? source.buffer
                               : source.further[std::size_t(rendered_index - 1)].buffer;
}

/// The data type of the colour of `part` as its file stores it.
DataType StoredType(const KeptPart& part) {
    return DataTypeOfFile(part.header.channelformat(std::max(0, part.colour.red)),
                          part.header.get_int_attribute("oiio:BitsPerSample", 0));
}

/// The type the colour of `part` (null: the image alone, or a sheet of the
/// source's first rendered part) is written in.
DataType ColourType(const WriteJob& job, const KeptPart* part, const Image& image) {
    if (job.forced) return *job.forced;
    DataType source = job.settings->source_type.value_or(DataTypeOf(image.type));
    if (part == nullptr && job.source != nullptr && job.source->kept != nullptr) {
        const std::vector<KeptPart>& parts = job.source->kept->parts;
        const auto first = std::find_if(parts.begin(), parts.end(),
                                        [](const KeptPart& kept) { return kept.rendered; });
        if (first != parts.end()) part = &*first;
    }
    if (part != nullptr) source = StoredType(*part);
    return ChooseDataType(job.format, job.settings->data_type, source);
}

/// Copies the samples of `from` in the rectangle [x0, x1) x [y0, y1) of
/// the picture plane into channel `c` of `out`, converting the type.
/// `from` starts at (from_x, from_y); `out` covers its header's window.
void CopyChannel(const ChannelSource& from, int from_x, int from_y, PartOut& out, int c, int x0,
                 int y0, int x1, int y1) {
    if (x0 >= x1 || y0 >= y1) return;
    const OIIO::ImageSpec& header = out.header;
    const std::ptrdiff_t pixel = std::ptrdiff_t(header.pixel_bytes(true));
    std::byte* to = out.own.data() + std::ptrdiff_t(y0 - out.window_y) * pixel * header.width +
                    std::ptrdiff_t(x0 - out.window_x) * pixel +
                    std::ptrdiff_t(NativeOffset(header, c));
    const std::byte* at = from.data + std::ptrdiff_t(y0 - from_y) * from.row_step +
                          std::ptrdiff_t(x0 - from_x) * from.pixel_step;
    OIIO::convert_image(1, x1 - x0, y1 - y0, 1, at, from.type, from.pixel_step, from.row_step,
                        OIIO::AutoStride, to, header.channelformat(c), pixel, pixel * header.width,
                        OIIO::AutoStride);
}

/// "Z, diffuse.R, diffuse.G"
std::string Names(const std::vector<std::string>& names) {
    return fmt::format("{}", fmt::join(names, ", "));
}

/// The other channels of `part` that go into the output, with their
/// types there; notes what is lost.
std::vector<int> PlaceExtras(const WriteJob& job, const KeptPart& part, OIIO::ImageSpec& header,
                             std::vector<std::string>& names) {
    std::vector<int> extras;
    std::vector<std::string> extra_names, changed;
    for (int c = 0; c < part.header.nchannels; ++c) {
        if (part.colour.IsColour(c)) continue;
        extras.push_back(c);
        const std::string channel = part.header.channel_name(c);
        extra_names.push_back(channel.empty() ? std::to_string(c) : channel);
    }
    if (extras.empty()) return extras;
    const ExtraChannels kept = job.keeps != nullptr ? job.keeps->extras : ExtraChannels::kNone;
    const std::string label = job.keeps != nullptr ? std::string(job.keeps->label) : job.format;
    if (kept == ExtraChannels::kNone) {
        job.notes->push_back({"channels", fmt::format("{}: channel(s) {} not written ({} files "
                                                      "hold none besides colour and alpha)",
                                                      job.name, Names(extra_names), label)});
        return {};
    }
    for (std::size_t i = 0; i < extras.size(); ++i) {
        const OIIO::TypeDesc own = part.header.channelformat(extras[i]);
        const OIIO::TypeDesc type = kept == ExtraChannels::kNamed ? ExrTypeOf(own) : header.format;
        // Widening keeps every value: only a narrower type is worth a word.
        if (!Holds(DataTypeOfFile(type), DataTypeOfFile(own))) {
            changed.push_back(fmt::format("{} ({} as {})", extra_names[i], own, type));
        }
        names.push_back(extra_names[i]);
        header.channelformats.push_back(type);
    }
    if (kept == ExtraChannels::kUnnamed) {
        job.notes->push_back(
            {"channels", fmt::format("{}: channel(s) {} written without their names ({} files "
                                     "hold none){}",
                                     job.name, Names(extra_names), label,
                                     changed.empty() ? "" : ", in one type: " + Names(changed))});
    } else if (!changed.empty()) {
        job.notes->push_back({"channels", fmt::format("{}: channel(s) {} in types {} files hold",
                                                      job.name, Names(changed), label)});
    }
    return extras;
}

/// Sets the window of `header` for a part read with `source` windows: both
/// kept where the format holds them, else the display window alone (as
/// oiiotool and ffmpeg write it), with a note when pixels are left out.
void PlaceWindow(const WriteJob& job, const OIIO::ImageSpec& source, PartOut& out) {
    OIIO::ImageSpec& header = out.header;
    out.window_x = source.x;
    out.window_y = source.y;
    if (job.keeps != nullptr && job.keeps->windows) {
        header.x = source.x;
        header.y = source.y;
        header.full_x = source.full_x;
        header.full_y = source.full_y;
        header.full_width = source.full_width;
        header.full_height = source.full_height;
        return;
    }
    if (source.full_width <= 0 || source.full_height <= 0) return;  // no display window given
    out.window_x = source.full_x;
    out.window_y = source.full_y;
    header.width = header.full_width = source.full_width;
    header.height = header.full_height = source.full_height;
    if (source.x < source.full_x || source.y < source.full_y ||
        source.x + source.width > source.full_x + source.full_width ||
        source.y + source.height > source.full_y + source.full_height) {
        job.notes->push_back(
            {"window",
             fmt::format("{}: written as the display window, {}x{} at {},{}; the data "
                         "window ({}x{} at {},{}) reaches beyond it and is cut",
                         job.name, source.full_width, source.full_height, source.full_x,
                         source.full_y, source.width, source.height, source.x, source.y)});
    }
}

}  // namespace

namespace {

/// The header of a rendered part written from `image` (its colour) and
/// `part` (what the source file held; null: no source file).
void RenderedHeader(const WriteJob& job, const KeptPart* part, const Image& image, PartOut& out,
                    std::vector<int>& extras) {
    const DataType type = ColourType(job, part, image);
    const bool alpha = image.has_alpha && job.alpha;
    if (image.has_alpha && !alpha) {
        job.notes->push_back({"alpha", fmt::format("{}: alpha not written ({} files hold none)",
                                                   job.name, job.format)});
    }
    out.header = OIIO::ImageSpec(image.width, image.height, alpha ? 4 : 3, StorageOf(type));
    OIIO::ImageSpec& header = out.header;
    const bool same_format = job.source != nullptr && job.source->format_name == job.format;
    if (same_format) {
        header.extra_attribs =
            (part != nullptr ? part->header : job.source->header->fields).extra_attribs;
    }
    header.erase_attribute("oiio:BitsPerSample");
    header.erase_attribute("oiio:subimages");
    if (type == DataType::kUint10 || type == DataType::kUint12) {
        header.attribute("oiio:BitsPerSample", type == DataType::kUint10 ? 10 : 12);
    }
    header.default_channel_names();
    const bool named = job.keeps != nullptr && job.keeps->extras == ExtraChannels::kNamed;
    // The colour's own names, unless it is grey or has a colour missing.
    if (part != nullptr && named && part->colour.blue >= 0 &&
        part->colour.red != part->colour.green) {
        const int colour[4] = {part->colour.red, part->colour.green, part->colour.blue,
                               part->colour.alpha};
        for (int c = 0; c < header.nchannels; ++c)
            header.channelnames[std::size_t(c)] = part->header.channel_name(colour[c]);
    }
    header.alpha_channel = alpha ? 3 : -1;
    // Alpha exactly as held: no un-premultiplying on the way out.
    header.attribute("oiio:UnassociatedAlpha", 1);
    SetCompression(header, job.format, job.settings->compression, same_format);
    if (part == nullptr) return;
    PlaceWindow(job, part->header, out);
    std::vector<std::string> names = header.channelnames;
    header.channelformats.assign(std::size_t(header.nchannels), header.format);
    extras = PlaceExtras(job, *part, header, names);
    header.nchannels = int(names.size());
    header.channelnames = names;
    // One type for every channel: the header says it once.
    if (std::all_of(header.channelformats.begin(), header.channelformats.end(),
                    [&](OIIO::TypeDesc t) { return t == header.format; })) {
        header.channelformats.clear();
    }
}

/// A rendered part: `image` is its colour, `part` (null: no source file)
/// what the source held, `rendered_index` its place among the rendered parts.
PartOut RenderedPart(const WriteJob& job, const KeptPart* part, int rendered_index,
                     const Image& image) {
    PartOut out;
    std::vector<int> extras;
    RenderedHeader(job, part, image, out, extras);
    const OIIO::ImageSpec* source = part != nullptr ? &part->header : nullptr;
    const bool same_window =
        source == nullptr ||
        (out.window_x == source->x && out.window_y == source->y &&
         out.header.width == source->width && out.header.height == source->height);
    if (extras.empty() && same_window) {
        out.image = &image;
        return out;
    }
    out.own.assign(std::size_t(out.header.width) * std::size_t(out.header.height) *
                       out.header.pixel_bytes(true),
                   std::byte{0});
    // Pixels outside the data window stay zero, as the image library fills them.
    const int x0 = std::max(out.window_x, source->x);
    const int y0 = std::max(out.window_y, source->y);
    const int x1 = std::min(out.window_x + out.header.width, source->x + source->width);
    const int y1 = std::min(out.window_y + out.header.height, source->y + source->height);
    const auto sample = std::ptrdiff_t(SampleBytes(image.type));
    const int colour_channels = out.header.nchannels - int(extras.size());
    for (int c = 0; c < colour_channels; ++c) {
        const ChannelSource from{image.pixels.data() + c * sample, FileTypeOf(image.type),
                                 std::ptrdiff_t(image.PixelBytes()),
                                 std::ptrdiff_t(image.RowBytes())};
        CopyChannel(from, source->x, source->y, out, c, x0, y0, x1, y1);
    }
    const std::vector<std::byte>& native = NativeOf(*job.source, *part, rendered_index);
    const auto pixel = std::ptrdiff_t(source->pixel_bytes(true));
    for (std::size_t i = 0; i < extras.size(); ++i) {
        const ChannelSource from{native.data() + NativeOffset(*source, extras[i]),
                                 source->channelformat(extras[i]), pixel, pixel * source->width};
        CopyChannel(from, source->x, source->y, out, colour_channels + int(i), x0, y0, x1, y1);
    }
    return out;
}

/// The parts of the output: each rendered part from its image, the others
/// as read, as far as the format holds several; a note names those left out.
std::vector<PartOut> PlanOutput(const WriteJob& job, const Image& image) {
    std::vector<PartOut> parts;
    const KeptData* kept = job.source != nullptr ? job.source->kept.get() : nullptr;
    if (kept == nullptr || kept->parts.empty()) {
        parts.push_back(RenderedPart(job, nullptr, 0, image));
        return parts;
    }
    const bool all = job.keeps != nullptr && job.keeps->parts;
    std::vector<std::string> left_out = kept->unread_parts;
    int rendered = 0;
    for (std::size_t p = 0; p < kept->parts.size(); ++p) {
        const KeptPart& part = kept->parts[p];
        const std::string part_name =
            part.header.get_string_attribute("oiio:subimagename", fmt::format("part {}", p + 1));
        if (!all && (!part.rendered || rendered > 0)) {
            left_out.push_back(part_name);
            rendered += part.rendered ? 1 : 0;
            continue;
        }
        if (!part.rendered) {
            PartOut& copied = parts.emplace_back();
            copied.header = part.header;
            SetCompression(copied.header, job.format, job.settings->compression, true);
            copied.native = &part.native;
            continue;
        }
        const Image& colour =
            rendered == 0 ? image : job.settings->further[std::size_t(rendered - 1)];
        parts.push_back(RenderedPart(job, &part, rendered++, colour));
    }
    if (!left_out.empty()) {
        job.notes->push_back(
            {"parts", fmt::format("{}: one part written ({} files hold one); part(s) {} of {} "
                                  "left out",
                                  job.name, job.keeps != nullptr ? job.keeps->label : job.format,
                                  Names(left_out), kept->file)});
    }
    return parts;
}

/// Opens `out` on `open_name` for `parts` and writes them. Success is what
/// the calls return: the TIFF writer leaves a message about its (empty)
/// Exif directory behind even when all went well.
void Encode(OIIO::ImageOutput& out, const std::string& open_name, bool by_name,
            const std::vector<PartOut>& parts, const std::string& name) {
    const QuietStderr quiet;
    std::vector<OIIO::ImageSpec> headers;
    for (const PartOut& part : parts) headers.push_back(part.header);
    auto open_first = [&] {
        return headers.size() == 1 ? out.open(open_name, headers[0])
                                   : out.open(open_name, int(headers.size()), headers.data());
    };
    bool ok = false;
    if (by_name) {
        // The writer creates the file itself: the interrupt's sweep must
        // not run between its creation and the writer's open.
        const std::unique_lock files = LockOutputFiles();
        ok = open_first();
    } else {
        ok = open_first();
    }
    for (std::size_t p = 0; ok && p < parts.size(); ++p) {
        const PartOut& part = parts[p];
        if (p > 0) ok = out.open(open_name, headers[p], OIIO::ImageOutput::AppendSubimage);
        if (!ok) break;
        if (part.image != nullptr) {
            ok = out.write_image(FileTypeOf(part.image->type), part.image->pixels.data(),
                                 OIIO::stride_t(part.image->PixelBytes()));
        } else {
            const std::vector<std::byte>& samples = part.native ? *part.native : part.own;
            ok = out.write_image(OIIO::TypeUnknown, samples.data());
        }
    }
    if (!ok || !out.close()) {
        throw OutputError(
            fmt::format("{}: cannot write: {}", name,
                        OneLine(out.geterror(), "the image library gives no reason")));
    }
}

std::unique_ptr<AtomicFile> EncodeWith(const fs::path& target, const Image& image,
                                       const WriteSettings& settings,
                                       std::optional<DataType> forced,
                                       std::vector<PendingNote>& notes) {
    const std::string name = target.string();
    CheckOutputPath(target);
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(name);
    if (!out) {
        throw OutputError(
            fmt::format("{}: cannot write: {}", name,
                        OneLine(OIIO::geterror(), "the image library gives no reason")));
    }
    WriteJob job{name,
                 out->format_name(),
                 FindFormatKeeps(out->format_name()),
                 out->supports("alpha") != 0,
                 &settings,
                 settings.source,
                 forced,
                 &notes};
    if (job.keeps != nullptr) job.alpha = job.keeps->alpha;
    std::vector<PartOut> parts;
    if (settings.image_only) {
        // A sheet: the source's type and metadata, none of its layout.
        parts.push_back(RenderedPart(job, nullptr, 0, image));
    } else {
        parts = PlanOutput(job, image);
    }

    auto file = std::make_unique<AtomicFile>(target);
    // OpenImageIO's OpenEXR writer takes no proxy for a file of several parts.
    if (out->supports("ioproxy") && parts.size() == 1) {
        // Encoded in memory, then written by us, so that every write error
        // is seen and the file appears only when complete.
        std::vector<unsigned char> own;
        std::vector<unsigned char>& bytes = settings.encoded != nullptr ? *settings.encoded : own;
        bytes.clear();
        OIIO::Filesystem::IOVecOutput proxy(bytes);
        out->set_ioproxy(&proxy);
        Encode(*out, name, false, parts, name);
        out.reset();
        file->Write(std::as_bytes(std::span(bytes)));
    } else {
        Encode(*out, file->temp_path(), true, parts, name);
        out.reset();
    }
    file->Flush();
    return file;
}

std::vector<std::string> Texts(const std::vector<PendingNote>& notes) {
    std::vector<std::string> texts;
    for (const PendingNote& note : notes) texts.push_back(note.text);
    return texts;
}

}  // namespace

std::unique_ptr<AtomicFile> EncodeImage(const fs::path& target, const Image& image,
                                        const WriteSettings& settings,
                                        std::vector<PendingNote>& notes) {
    return EncodeWith(target, image, settings, std::nullopt, notes);
}

std::unique_ptr<AtomicFile> EncodeImageAs(const fs::path& target, const Image& image,
                                          const WriteSettings& settings, OIIO::TypeDesc file_type,
                                          std::vector<PendingNote>& notes) {
    return EncodeWith(target, image, settings, DataTypeOfFile(file_type), notes);
}

std::vector<std::string> WriteImage(const fs::path& target, const Image& image,
                                    const WriteSettings& settings) {
    std::vector<PendingNote> notes;
    EncodeImage(target, image, settings, notes)->Commit();
    return Texts(notes);
}

std::vector<std::string> WriteImageAs(const fs::path& target, const Image& image,
                                      const WriteSettings& settings, OIIO::TypeDesc file_type) {
    std::vector<PendingNote> notes;
    EncodeImageAs(target, image, settings, file_type, notes)->Commit();
    return Texts(notes);
}

}  // namespace render
