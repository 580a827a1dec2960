// The player on real GStreamer pipelines playing generated WAV files to fakesink.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "holders.h"
#include "player.h"
#include "test_audio.h"
#include "test_media.h"

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
        // Three seconds at a variable bit rate, without a Xing header: GStreamer's parser tells
        // no duration until playback has run.
        kestrane::test::encodeTone(dir / "vbr.mp3", "lamemp3enc target=quality quality=2",
                                   "audiotestsrc wave=ticks num-buffers=30 samplesperbuffer=4410 ! audio/x-raw,rate=44100,channels=1");
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
    if (const kestrane::DirPtr d{opendir(path)}) {
        while (readdir(d.get()) != nullptr) ++n;
    }
    return n;
}

std::int64_t ms(Time t) { return scaleTime(t.value, 1000, t.timescale); }

constexpr std::chrono::seconds kTimeout{10};

std::unique_ptr<Player> openReady(const fs::path& file) {
    auto opened = Player::open(url(file), kTimeout);
    EXPECT_TRUE(opened) << opened.error().message;
    return opened ? std::move(opened).value() : nullptr;
}

}  // namespace

TEST(Player, NotPlayableTextsFailAtOnce) {
    // Another machine's file is not this one, though the same path exists here.
    for (const std::string& text : {std::string("not a uri"), std::string("/bare/path/tone.wav"), std::string("nosuchscheme://x/y"),
                                   "file://otherhost.example" + (dir / "tone.wav").string()}) {
        const auto start = std::chrono::steady_clock::now();
        const auto opened = Player::open(text, kTimeout);
        ASSERT_FALSE(opened) << text;
        EXPECT_TRUE(opened.error().is(PlayerError::notPlayable)) << text;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << text;
    }
}

TEST(Player, LoadsAFileWithItsExactDuration) {
    auto p = openReady(dir / "tone.wav");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->status(), Status::readyToPlay);
    EXPECT_EQ(ms(p->duration()), 2500);
    EXPECT_EQ(ms(p->currentTime()), 0);
    EXPECT_EQ(p->rate(), 0.0f);
    EXPECT_EQ(p->timeControlStatus(), TimeControl::paused);
    EXPECT_FALSE(p->reasonForWaitingToPlay().has_value());
    EXPECT_FALSE(p->playerError().has_value());
}

TEST(Player, AnMp3WithoutXingHeaderKnowsItsDurationOnceOpen) {
    auto p = openReady(dir / "vbr.mp3");
    ASSERT_NE(p, nullptr);
    const double decoded = kestrane::test::decodedSeconds(dir / "vbr.mp3") * 1000;
    EXPECT_NEAR(static_cast<double>(ms(p->duration())), decoded, 20.0);
}

TEST(Player, FileUrlsOfThisMachineInEveryForm) {
    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const std::string path = (dir / "tone.wav").string();
    for (const std::string& text : {"FILE://localhost" + path, "file://" + std::string(host) + path, "file:" + path}) {
        const auto opened = Player::open(text, kTimeout);
        ASSERT_TRUE(opened) << text << ": " << opened.error().message;
        EXPECT_EQ(ms((*opened)->duration()), 2500) << text;
    }
}

TEST(Player, MissingFileAndNonMediaFailWithTheMediasError) {
    const auto missing = Player::open(url(dir / "missing.wav"), kTimeout);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is(PlayerError::fileNotFound));
    EXPECT_FALSE(missing.error().message.empty());

    const auto text = Player::open(url(dir / "notes.txt"), kTimeout);
    ASSERT_FALSE(text);
    EXPECT_TRUE(text.error().is(PlayerError::mediaFailed));
    EXPECT_FALSE(text.error().message.empty());
}

TEST(Player, MediaThatNeverAnswersTimesOut) {
    // An HTTP server that accepts the connection and never answers: the source waits for the
    // response, so the media never becomes ready.
    const kestrane::UniqueFd listening(socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_TRUE(listening);
    const int listener = listening.get();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string silent = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/never.wav";

    const auto start = std::chrono::steady_clock::now();
    const auto opened = Player::open(silent, std::chrono::milliseconds(700));
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(opened);
    EXPECT_TRUE(opened.error().is(PlayerError::loadTimedOut));
    EXPECT_GE(waited, std::chrono::milliseconds(700));
    EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST(Player, SeekPlayPauseAndTheEnd) {
    auto p = openReady(dir / "tone.wav");
    ASSERT_NE(p, nullptr);
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
    auto p = openReady(dir / "tone.wav");
    ASSERT_NE(p, nullptr);
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
        auto p = openReady(dir / "tone.wav");
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->status(), Status::readyToPlay);
    };
    for (int i = 0; i < 3; ++i) cycle();  // GStreamer's registry and pools settle
    const long threads = countEntries("/proc/self/task"), fds = countEntries("/proc/self/fd");
    for (int i = 0; i < 50; ++i) cycle();
    EXPECT_TRUE(eventually([&] { return countEntries("/proc/self/task") <= threads; }));
    EXPECT_EQ(countEntries("/proc/self/fd"), fds);
}
