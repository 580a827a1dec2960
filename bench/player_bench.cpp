// The media player: how long opening a local file takes until it is ready to play (median of
// 20, for WAV, FLAC and MP3 made by GStreamer's own encoders), and the processor time used
// while one minute of audio plays to fakesink in real time.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_row.h"
#include "player.h"

namespace fs = std::filesystem;
namespace bench = kestrane::bench;
using kestrane::media::Player;
using kestrane::media::Status;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool encode(const fs::path& out, const std::string& encoder, int seconds) {
    // audiotestsrc makes 1024-sample buffers at 44.1 kHz.
    const int buffers = seconds * 44100 / 1024;
    const std::string cmd = "gst-launch-1.0 -q audiotestsrc wave=sine freq=440 num-buffers=" + std::to_string(buffers) +
                            " ! audioconvert ! " + encoder + " ! filesink location=\"" + out.string() + "\" >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 && fs::exists(out);
}

}  // namespace

int main(int argc, char** argv) {
    // --short plays 10 seconds instead of a minute, for the benchmark table.
    const bool isShort = argc > 1 && std::strcmp(argv[1], "--short") == 0;
    const int playSeconds = isShort ? 10 : 60;
    setenv("KESTRANE_AUDIO_SINK", "fakesink", 1);
    std::string pattern = (fs::temp_directory_path() / "playerbenchXXXXXX").string();
    const fs::path dir = mkdtemp(pattern.data());
    const std::vector<std::pair<std::string, std::string>> formats = {
        {"wav", "wavenc"}, {"flac", "flacenc"}, {"mp3", "lamemp3enc"}};
    std::printf("Opening a local 10-second file until ready to play (median of 20, fakesink)\n");
    std::printf("%-6s %10s %10s %10s\n", "format", "median ms", "min ms", "max ms");
    for (const auto& [ext, encoder] : formats) {
        const fs::path file = dir / ("tone." + ext);
        if (!encode(file, encoder, 10)) {
            std::printf("%-6s could not be made (encoder %s missing)\n", ext.c_str(), encoder.c_str());
            continue;
        }
        std::vector<double> times;
        for (int i = 0; i < 21; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const auto p = Player::open("file://" + file.string(), std::chrono::seconds(10));
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (!p) std::printf("  %s did not load: %s\n", ext.c_str(), p.error().message.c_str());
            if (i > 0) times.push_back(ms);  // the first run loads GStreamer's plugins
        }
        std::sort(times.begin(), times.end());
        std::printf("%-6s %10.2f %10.2f %10.2f\n", ext.c_str(), times[times.size() / 2], times.front(), times.back());
        bench::row("player, open a local " + ext + " until ready (median)", bench::format("%.2f ms", times[times.size() / 2]), "-", "-",
                   "-", std::nullopt);
    }

    const fs::path minute = dir / "minute.mp3";
    if (encode(minute, "lamemp3enc", playSeconds)) {
        auto opened = Player::open("file://" + minute.string(), std::chrono::seconds(10));
        if (!opened) {
            std::printf("minute.mp3 did not load: %s\n", opened.error().message.c_str());
            return 1;
        }
        const std::unique_ptr<Player> p = std::move(opened).value();
        const double cpu0 = cpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        p->play();
        while (p->rate() > 0.0f) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        const double cpu = cpuSeconds() - cpu0;
        std::printf("\nPlaying %d s of MP3 to fakesink: %.1f s of wall time, %.3f s of processor time (%.2f%% of one core)\n",
                    playSeconds, wall, cpu, 100.0 * cpu / wall);
        bench::row("player, processor while playing MP3", bench::format("%.2f%% of a core", 100.0 * cpu / wall), "-", "-", "-",
                   std::nullopt);
    }
    fs::remove_all(dir);
    return 0;
}
