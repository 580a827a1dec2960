// Makes the demo's sample music folder: a dozen short tones in several formats (MP3 at a
// variable bit rate, as most MP3 files are), tagged as two albums by two artists, a cover
// picture embedded in the first album's tracks and a cover.jpg beside the second's, and an
// .m3u8 playlist.
// Usage: make_sample_music <folder>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "glib_ptr.h"
#include "test_media.h"

namespace fs = std::filesystem;

namespace {

bool encode(const fs::path& path, double hz, const std::string& encoder) {
    return kestrane::test::encodeTone(path, encoder,
                                      "audiotestsrc wave=sine freq=" + std::to_string(hz) +
                                          " num-buffers=130 samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=1");
}

// A cover of side pixels, as an album's sleeve might look: a diagonal gradient between two
// colours with rings about a centre, encoded as type ("png" or "jpeg"); empty on failure.
std::string coverPicture(int side, unsigned from, unsigned to, const char* type) {
    const kestrane::glib::ObjectPtr<GdkPixbuf> picture(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, side, side));
    if (!picture) return {};
    guchar* pixels = gdk_pixbuf_get_pixels(picture.get());
    const int stride = gdk_pixbuf_get_rowstride(picture.get());
    auto channel = [](unsigned rgb, int shift) { return static_cast<double>((rgb >> shift) & 0xff); };
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double t = static_cast<double>(x + y) / (2.0 * side);
            const double ring = 0.85 + 0.15 * std::cos(std::hypot(x - side * 0.62, y - side * 0.38) / side * 40.0);
            guchar* p = pixels + y * stride + x * 3;
            for (int c = 0; c < 3; ++c) {
                const int shift = 16 - 8 * c;
                p[c] = static_cast<guchar>(std::lround(((1 - t) * channel(from, shift) + t * channel(to, shift)) * ring));
            }
        }
    }
    gchar* buffer = nullptr;
    gsize size = 0;
    if (!gdk_pixbuf_save_to_buffer(picture.get(), &buffer, &size, type, nullptr, nullptr)) return {};
    const kestrane::glib::CharPtr owned(buffer);
    return std::string(owned.get(), size);
}

struct Track {
    const char* file;
    const char* encoder;
    double hz;
    const char* title;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    const fs::path partial = folder.string() + ".partial";
    fs::remove_all(partial);
    const std::pair<const char*, const char*> albums[] = {{"Morning Tones", "Ada Lindqvist"}, {"Evening Tones", "The Sine Ensemble"}};
    const Track tracks[2][6] = {
        {{"01 A.wav", "wavenc", 440.0, "A"}, {"02 B.flac", "flacenc", 493.88, "B"}, {"03 C sharp.mp3", "lamemp3enc target=quality quality=2", 554.37, "C Sharp"},
         {"04 D.ogg", "vorbisenc ! oggmux", 587.33, "D"}, {"05 E.opus", "opusenc ! oggmux", 659.26, "E"},
         {"06 F sharp.flac", "flacenc", 739.99, "F Sharp"}},
        {{"01 Low G.flac", "flacenc", 196.0, "Low G"}, {"02 Low A.mp3", "lamemp3enc target=quality quality=2", 220.0, "Low A"},
         {"03 Low B.ogg", "vorbisenc ! oggmux", 246.94, "Low B"}, {"04 Middle C.wav", "wavenc", 261.63, "Middle C"},
         {"05 Middle D.opus", "opusenc ! oggmux", 293.66, "Middle D"}, {"06 Middle E.mp3", "lamemp3enc target=quality quality=2", 329.63, "Middle E"}}};
    const std::string embedded = coverPicture(300, 0xf6d365, 0xc0392b, "png");
    const std::string beside = coverPicture(300, 0x3a7bd5, 0x1d2b64, "jpeg");
    if (embedded.empty() || beside.empty()) {
        std::fprintf(stderr, "the cover pictures could not be made\n");
        return 1;
    }
    std::ofstream playlist;
    fs::create_directories(partial);
    playlist.open(partial / "Favourites.m3u8");
    playlist << "#EXTM3U\n";
    for (int a = 0; a < 2; ++a) {
        const fs::path dir = partial / albums[a].second / albums[a].first;
        fs::create_directories(dir);
        for (int t = 0; t < 6; ++t) {
            const fs::path file = dir / tracks[a][t].file;
            if (!encode(file, tracks[a][t].hz, tracks[a][t].encoder)) return 1;
            kestrane::test::writeTags(file, {{"TITLE", tracks[a][t].title},
                                             {"ARTIST", albums[a].second},
                                             {"ALBUMARTIST", albums[a].second},
                                             {"ALBUM", albums[a].first},
                                             {"GENRE", "Test Tones"},
                                             {"DATE", a == 0 ? "2024" : "2025"},
                                             {"TRACKNUMBER", std::to_string(t + 1) + "/6"}});
            if (a == 0) kestrane::test::attachPicture(file, embedded);
            if (t % 2 == 0) playlist << fs::relative(file, partial).string() << "\n";
        }
    }
    // The second album's cover sits beside its files, as many players keep it.
    std::ofstream(partial / albums[1].second / albums[1].first / "cover.jpg", std::ios::binary) << beside;
    playlist.close();
    fs::remove_all(folder);
    fs::rename(partial, folder);
    std::printf("sample music folder: %s\n", folder.c_str());
    return 0;
}
