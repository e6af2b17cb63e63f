// FFmpeg's log as the tool takes it, with several threads logging at once
// through av_log, as a codec's worker threads do: run under ThreadSanitizer
// too. A watched object's messages reach its watch and no note; every other
// distinct warning becomes one note; nothing quieter than a warning is kept.
#include "tools/vemra-render/io/ffmpeg_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace render {
namespace {

/// An object FFmpeg's log can name, as a demuxer or a codec context is.
struct Logger {
    const AVClass* type;
};

/// A class of the given name, as FFmpeg's objects have.
AVClass ClassNamed(const char* name, AVClassCategory category) {
    AVClass type{};
    type.class_name = name;
    type.item_name = av_default_item_name;
    type.version = LIBAVUTIL_VERSION_INT;
    type.category = category;
    return type;
}

const AVClass kDemuxer = ClassNamed("demuxer", AV_CLASS_CATEGORY_DEMUXER);
const AVClass kCodec = ClassNamed("codec", AV_CLASS_CATEGORY_DECODER);

TEST(FfmpegLog, ThreadsLoggingAtOnceFeedTheWatchAndOneNoteForEachText) {
    InstallFfmpegLog();
    TakeLibraryNotes();
    Logger demuxer{&kDemuxer}, codec{&kCodec};
    constexpr int kThreads = 6, kMessages = 200;
    std::vector<LoggedMessage> watched;
    {
        LogWatch watch(&demuxer);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kMessages; ++i) {
                    // A line in two pieces, as FFmpeg sometimes logs one.
                    av_log(&demuxer, AV_LOG_WARNING, "packet %d ", i);
                    av_log(&demuxer, AV_LOG_WARNING, "of thread %d\n", t);
                    av_log(&codec, i % 2 == 0 ? AV_LOG_WARNING : AV_LOG_ERROR,
                           "concealing %d errors\n", i % 3);
                    av_log(&codec, AV_LOG_INFO, "statistics nobody asked for\n");
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        av_log(&demuxer, AV_LOG_ERROR, "the last error\n");
        watched = watch.Take();
        EXPECT_EQ(watch.LastError(), "FFmpeg (demuxer): the last error");
    }
    ASSERT_EQ(watched.size(), std::size_t(kThreads * kMessages + 1));
    // Every line whole: the pieces of one thread never mix with another's.
    for (const LoggedMessage& message : watched) {
        EXPECT_EQ(message.text.rfind("FFmpeg (demuxer): ", 0), 0u) << message.text;
        if (message.severity == LogSeverity::kWarning) {
            EXPECT_NE(message.text.find(" of thread "), std::string::npos) << message.text;
        }
    }
    std::vector<std::string> notes = TakeLibraryNotes();
    std::sort(notes.begin(), notes.end());
    EXPECT_EQ(notes, (std::vector<std::string>{"FFmpeg (codec): concealing 0 errors",
                                               "FFmpeg (codec): concealing 1 errors",
                                               "FFmpeg (codec): concealing 2 errors"}));
    // Noted once a run: the same text later adds no note.
    av_log(&codec, AV_LOG_WARNING, "concealing 1 errors\n");
    EXPECT_TRUE(TakeLibraryNotes().empty());
}

}  // namespace
}  // namespace render
