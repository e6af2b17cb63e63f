// Which files the tool reads as movies, through FFmpeg, rather than as
// images, through the image library: the one table of movie containers,
// their file endings and FFmpeg's names for them, from which the movie
// reader's list of allowed demuxers and --help's list are both made.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace render {

/// True when `path` names a file the movie reader takes rather than the image
/// library: by its extension, one of the movie containers' (in any case).
bool IsMoviePath(std::string_view path);

/// FFmpeg's demuxers the movie reader may open, comma-separated, for its
/// `format_whitelist`: those of the movie containers, and GIF and APNG. No
/// playlist, script or image-sequence demuxer, so no file leads to another.
std::string MovieDemuxers();

/// FFmpeg's demuxers a sound file (--audio-file) may be opened with: those
/// of the sound formats, and the movie reader's.
std::string SoundDemuxers();

/// The sound formats read besides the movie containers, as --help names
/// them: "WAV (.wav), ...".
std::string SoundFileNames();

/// The demuxers of MovieDemuxers() that read movie containers, those with
/// file endings: without the animated images (GIF, APNG).
std::string MovieContainerDemuxers();

/// The movie containers with their file endings, as --help names them:
/// "QuickTime/MP4 (.mov .mp4 .m4v), Matroska/WebM (.mkv .webm), ...".
std::string MovieContainerNames();

/// When `path` is a PNG file with an animation control chunk (acTL) before
/// its image data, the frame count that chunk declares; nullopt for any
/// other file. The image library shows such a file's first frame alone.
std::optional<long> AnimatedPngFrames(const std::string& path);

/// When `path` is a GIF file of two frames or more, its frame count (its
/// image blocks, read up to its trailer); nullopt for any other file.
std::optional<long> AnimatedGifFrames(const std::string& path);

/// True when `path` is a GIF file (by its signature). Every GIF's frames
/// come from the movie reader, whose GIF decoder applies each frame's
/// disposal as the ffmpeg program does, and which fails a cut file as it
/// fails a cut movie.
bool IsGifFile(const std::string& path);

/// The frame size a GIF (its logical screen), PNG (its header chunk) or
/// YUV4MPEG file (its stream header) declares, read before any library
/// opens the file, which would allocate for it; nullopt for other files
/// and for a header that does not say.
std::optional<std::pair<long, long>> DeclaredFrameSize(const std::string& path);

/// For a GIF or an animated PNG, what shows it was cut, read before any
/// library opens it: a GIF without its trailer after its last image, an
/// animated PNG without its IEND chunk whole, or with fewer frame control
/// chunks than its animation control chunk declares. Empty for a whole file
/// and for any other kind of file.
std::string AnimationCut(const std::string& path);

}  // namespace render
