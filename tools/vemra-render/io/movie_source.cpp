#include "tools/vemra-render/io/movie_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cctype>
#include <new>
#include <utility>

namespace render {

namespace {

AVCodecParameters* NewParameters() {
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (parameters == nullptr) throw std::bad_alloc();
    return parameters;
}

void CopyInto(AVCodecParameters* to, const AVCodecParameters& from) {
    if (avcodec_parameters_copy(to, &from) < 0) throw std::bad_alloc();
}

}  // namespace

CodecParameters::CodecParameters() : parameters_(NewParameters()) {}

CodecParameters::CodecParameters(const AVCodecParameters& from) : CodecParameters() {
    CopyInto(parameters_, from);
}

CodecParameters::~CodecParameters() {
    avcodec_parameters_free(&parameters_);
}

CodecParameters::CodecParameters(const CodecParameters& other) : CodecParameters() {
    CopyInto(parameters_, *other.parameters_);
}

CodecParameters& CodecParameters::operator=(const CodecParameters& other) {
    if (this != &other) CopyInto(parameters_, *other.parameters_);
    return *this;
}

// A moved-from value keeps a blank set of parameters, so every value has one.
CodecParameters::CodecParameters(CodecParameters&& other) noexcept
    : parameters_(std::exchange(other.parameters_, avcodec_parameters_alloc())) {}

CodecParameters& CodecParameters::operator=(CodecParameters&& other) noexcept {
    std::swap(parameters_, other.parameters_);
    return *this;
}

int SourceStream::SampleRate() const {
    return kind == StreamKind::kAudio ? parameters.get().sample_rate : 0;
}

std::string SourceStream::Tag(std::string_view key) const {
    const auto same = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    };
    for (const auto& [name, value] : metadata) {
        if (same(name, key)) return value;
    }
    return {};
}

std::uint64_t SourceDescription::OtherStreamsBytesPerFrame() const {
    const Rational rate = video.frame_rate;
    if (!rate.valid()) return 0;
    std::int64_t bits_per_second = 0;
    for (const SourceStream& stream : streams) {
        const std::int64_t bit_rate = stream.parameters.get().bit_rate;
        if (stream.index != video.index && bit_rate > 0) bits_per_second += bit_rate;
    }
    return std::uint64_t(av_rescale_q(bits_per_second / 8, AVRational{rate.den, rate.num}, {1, 1}));
}

}  // namespace render
