// The player on real GStreamer pipelines playing generated WAV files to fakesink.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "player.h"
#include "test_audio.h"

namespace fs = std::filesystem;
using namespace kestrane::media;

namespace {

fs::path dir;

std::string url(const fs::path& p) { return "file://" + p.string(); }

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("KESTRANE_AUDIO_SINK", "fakesink", 1);
        std::string pattern = (fs::temp_directory_path() / "playerXXXXXX").string();
        dir = mkdtemp(pattern.data());
        kestrane::test::writeTestWav(dir / "tone.wav", 2.5);
        std::ofstream(dir / "notes.txt") << "This is not audio at all, just some text.\n";
    }
    void TearDown() override { fs::remove_all(dir); }
};
const auto* registered = ::testing::AddGlobalTestEnvironment(new Environment);

template <class Pred>
bool eventually(Pred pred, int millis = 3000) {
    for (int waited = 0; waited < millis; waited += 10) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
}

long countEntries(const char* path) {
    long n = 0;
    if (DIR* d = opendir(path)) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
    }
    return n;
}

std::int64_t ms(Time t) { return scaleTime(t.value, 1000, t.timescale); }

}  // namespace

TEST(Player, NotPlayableTextsGiveNoPlayer) {
    EXPECT_EQ(Player::create("not a uri"), nullptr);
    EXPECT_EQ(Player::create("/bare/path/tone.wav"), nullptr);
    EXPECT_EQ(Player::create("nosuchscheme://x/y"), nullptr);
}

TEST(Player, LoadsAFileWithItsExactDuration) {
    auto p = Player::create(url(dir / "tone.wav"));
    ASSERT_NE(p, nullptr);
    p->waitWhileLoading(100, 0.1);
    EXPECT_EQ(p->status(), Status::readyToPlay);
    EXPECT_EQ(ms(p->duration()), 2500);
    EXPECT_EQ(ms(p->currentTime()), 0);
    EXPECT_EQ(p->rate(), 0.0f);
    EXPECT_EQ(p->timeControlStatus(), TimeControl::paused);
    EXPECT_FALSE(p->reasonForWaitingToPlay().has_value());
    EXPECT_FALSE(p->playerError().has_value());
}

TEST(Player, MissingFileAndNonMediaFail) {
    auto missing = Player::create(url(dir / "missing.wav"));
    ASSERT_NE(missing, nullptr);
    missing->waitWhileLoading(100, 0.1);
    EXPECT_EQ(missing->status(), Status::failed);
    ASSERT_TRUE(missing->itemError().has_value());
    EXPECT_EQ(missing->itemError()->code, kFileNotFound);
    EXPECT_FALSE(missing->itemError()->reason.empty());

    auto text = Player::create(url(dir / "notes.txt"));
    text->waitWhileLoading(100, 0.1);
    EXPECT_EQ(text->status(), Status::failed);
    ASSERT_TRUE(text->itemError().has_value());
    EXPECT_NE(text->itemError()->code, 0);
    EXPECT_NE(text->itemError()->code, kFileNotFound);
    EXPECT_FALSE(text->itemError()->reason.empty());
}

TEST(Player, SeekPlayPauseAndTheEnd) {
    auto p = Player::create(url(dir / "tone.wav"));
    p->waitWhileLoading(100, 0.1);
    p->seek({250, 1000, Time::kValid});
    EXPECT_TRUE(eventually([&] { return ms(p->currentTime()) == 250; }));
    p->play();
    EXPECT_EQ(p->rate(), 1.0f);
    EXPECT_TRUE(eventually([&] { return p->timeControlStatus() == TimeControl::playing; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto t = ms(p->currentTime());
    EXPECT_GT(t, 250 + 300);
    EXPECT_LT(t, 250 + 900);
    p->pause();
    EXPECT_EQ(p->rate(), 0.0f);
    EXPECT_EQ(p->timeControlStatus(), TimeControl::paused);

    p->seek({2300, 1000, Time::kValid});
    EXPECT_TRUE(eventually([&] { return ms(p->currentTime()) == 2300; }));
    p->play();
    EXPECT_TRUE(eventually([&] { return p->rate() == 0.0f; }, 3000));  // paused at the end
    EXPECT_EQ(ms(p->currentTime()), 2500);
    EXPECT_EQ(p->timeControlStatus(), TimeControl::paused);
    p->play();  // nothing left to play
    EXPECT_EQ(p->rate(), 0.0f);
}

TEST(Player, FasterRateVolumeAndMute) {
    auto p = Player::create(url(dir / "tone.wav"));
    p->waitWhileLoading(100, 0.1);
    p->playImmediatelyAtRate(2.0f);
    EXPECT_EQ(p->rate(), 2.0f);
    EXPECT_TRUE(eventually([&] { return p->timeControlStatus() == TimeControl::playing; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_GT(ms(p->currentTime()), 500);  // twice as fast as real time
    p->playImmediatelyAtRate(0.0f);
    EXPECT_EQ(p->rate(), 0.0f);
    p->setVolume(0.25f);
    EXPECT_FLOAT_EQ(p->volume(), 0.25f);
    p->setMuted(true);
    EXPECT_TRUE(p->muted());
    p->setMuted(false);
    EXPECT_FALSE(p->muted());
}

TEST(Player, ClosingLeavesNoThreadsOrFilesBehind) {
    auto cycle = [] {
        auto p = Player::create(url(dir / "tone.wav"));
        p->waitWhileLoading(100, 0.1);
        ASSERT_EQ(p->status(), Status::readyToPlay);
    };
    for (int i = 0; i < 3; ++i) cycle();  // GStreamer's registry and pools settle
    const long threads = countEntries("/proc/self/task"), fds = countEntries("/proc/self/fd");
    for (int i = 0; i < 50; ++i) cycle();
    EXPECT_TRUE(eventually([&] { return countEntries("/proc/self/task") <= threads; }));
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
}
