#include "audio_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrane::audiofile {

namespace {

using Bytes = const unsigned char*;

std::uint32_t be16(Bytes p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }
std::uint32_t be24(Bytes p) { return static_cast<std::uint32_t>(p[0]) << 16 | be16(p + 1); }
std::uint32_t be32(Bytes p) { return static_cast<std::uint32_t>(p[0]) << 24 | be24(p + 1); }
std::uint64_t be64(Bytes p) { return static_cast<std::uint64_t>(be32(p)) << 32 | be32(p + 4); }
std::uint32_t le16(Bytes p) { return static_cast<std::uint32_t>(p[1]) << 8 | p[0]; }
std::uint32_t le32(Bytes p) { return le16(p + 2) << 16 | le16(p); }
std::uint64_t le64(Bytes p) { return static_cast<std::uint64_t>(le32(p + 4)) << 32 | le32(p); }
bool tagIs(Bytes p, const char* tag) { return std::memcmp(p, tag, std::strlen(tag)) == 0; }

Error noStream(const std::string& why) { return Error(StreamError::noStream, why); }

// No stream is longer than this (about 290 days at 44.1 kHz); any sample count a file claims is
// held below it, so that no product of it overflows.
constexpr std::int64_t kMaxSamples = std::int64_t{1} << 40;

// A count of samples computed in floating point, held to what a stream can be.
std::int64_t samplesOf(double samples) {
    return samples > 0 ? static_cast<std::int64_t>(std::min(samples, static_cast<double>(kMaxSamples)) + 0.5) : 0;
}

// Reads of one file, all counted against the read budget: a reader that would pass it gets
// nothing more, so that no content can make a measurement read a file through.
class Reader {
public:
    Reader(int fd, std::int64_t size, LoadedBytes* loaded) : fd_(fd), size_(size), loaded_(loaded) {}
    std::int64_t size() const { return size_; }

    // Up to n bytes at offset (fewer at the end of the file); empty past the budget. Bytes
    // already in memory count against the budget as read ones do, so that what a file may
    // cost does not depend on where its bytes come from.
    std::string_view read(std::int64_t offset, std::size_t n) {
        if (offset < 0 || offset >= size_) return {};
        n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(n), size_ - offset));
        if (spent_ + static_cast<std::int64_t>(n) > kReadBudget) return {};
        spent_ += static_cast<std::int64_t>(n);
        if (loaded_ != nullptr) {
            if (const std::optional<std::string_view> kept = loaded_->bytesAt(offset, n)) return *kept;
        }
        buffer_.resize(n);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(fd_, buffer_.data() + done, n - done, offset + static_cast<std::int64_t>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        return {buffer_.data(), done};
    }
    // Exactly n bytes at offset into out; false when they are not all there.
    bool readExact(std::int64_t offset, void* out, std::size_t n) {
        if (n == 0) return true;
        const std::string_view got = read(offset, n);
        if (got.size() != n) return false;
        std::memcpy(out, got.data(), n);
        return true;
    }

private:
    int fd_;
    std::int64_t size_;
    LoadedBytes* loaded_;
    std::int64_t spent_ = 0;
    std::string buffer_;
};

// A moving window of a file for scans that step forward through it: bytes at an offset come
// from the window when it holds them, else the window moves there, keeping behind bytes
// before it (a look ahead that moved it must not make the next step back read again).
class Window {
public:
    Window(Reader& reader, std::size_t span, std::size_t behind = 0) : reader_(reader), span_(span), behind_(behind) {}
    // n bytes at offset, or null when the file (or the budget) ends first.
    Bytes at(std::int64_t offset, std::size_t n) {
        if (offset < start_ || offset + static_cast<std::int64_t>(n) > start_ + static_cast<std::int64_t>(data_.size())) {
            start_ = std::max<std::int64_t>(0, offset - static_cast<std::int64_t>(behind_));
            data_ = std::string(reader_.read(start_, std::max(span_, n) + static_cast<std::size_t>(offset - start_)));
            if (offset + static_cast<std::int64_t>(n) > start_ + static_cast<std::int64_t>(data_.size())) return nullptr;
        }
        return reinterpret_cast<Bytes>(data_.data()) + (offset - start_);
    }

private:
    Reader& reader_;
    std::size_t span_, behind_;
    std::int64_t start_ = 0;
    std::string data_;
};

// The end of the ID3v2 tags that open a file (several may follow each other); 0 for none.
std::int64_t skipId3v2(Reader& reader) {
    std::int64_t at = 0;
    for (int tags = 0; tags < 8; ++tags) {
        unsigned char h[10];
        if (!reader.readExact(at, h, sizeof h) || !tagIs(h, "ID3") || h[3] == 0xFF || ((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0) break;
        const std::int64_t length = (h[6] << 21) | (h[7] << 14) | (h[8] << 7) | h[9];
        at += 10 + length + ((h[5] & 0x10) != 0 ? 10 : 0);
    }
    return at;
}

// --- MPEG audio -----------------------------------------------------------------------------

struct MpegFrame {
    std::uint32_t header = 0;
    int version = 0;  // 1, 2, or 25 for MPEG 2.5
    int layer = 0;
    int bitRate = 0;  // kbit/s
    int sampleRate = 0;
    int channels = 0;
    int samples = 0;  // per frame
    int length = 0;   // bytes
};

std::optional<MpegFrame> mpegFrame(Bytes p) {
    static constexpr short kBitRates[5][16] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // MPEG 1, layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // MPEG 1, layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // MPEG 1, layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // MPEG 2 and 2.5, layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // MPEG 2 and 2.5, layers II, III
    };
    static constexpr int kRates[3] = {44100, 48000, 32000};
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
    const int versionBits = (p[1] >> 3) & 3, layerBits = (p[1] >> 1) & 3;
    const int bitRateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3;
    // Reserved values, free format (index 0) and the reserved emphasis are not audio we count.
    if (versionBits == 1 || layerBits == 0 || bitRateIndex == 0 || bitRateIndex == 15 || rateIndex == 3 || (p[3] & 3) == 2) {
        return std::nullopt;
    }
    MpegFrame f;
    f.header = be32(p);
    f.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    f.layer = 4 - layerBits;
    f.bitRate = kBitRates[f.version == 1 ? f.layer - 1 : (f.layer == 1 ? 3 : 4)][bitRateIndex];
    f.sampleRate = kRates[rateIndex] / (f.version == 1 ? 1 : f.version == 2 ? 2 : 4);
    f.channels = (p[3] >> 6) == 3 ? 1 : 2;
    f.samples = f.layer == 1 ? 384 : (f.layer == 3 && f.version != 1) ? 576 : 1152;
    const int padding = (p[2] >> 1) & 1;
    f.length = f.layer == 1 ? (12 * f.bitRate * 1000 / f.sampleRate + padding) * 4
                            : f.samples / 8 * f.bitRate * 1000 / f.sampleRate + padding;
    return f;
}

// Frames of one stream keep their version, layer and sample rate.
bool sameStream(std::uint32_t a, std::uint32_t b) { return (a & 0xFFFE0C00u) == (b & 0xFFFE0C00u); }

// A frame at offset whose next `following` frames (as far as end allows) are of its stream:
// one matching header alone is too easily found in junk.
std::optional<MpegFrame> chainedFrame(Window& w, std::int64_t offset, std::int64_t end, int following) {
    // (w is a window of its own, so that looking ahead does not move the caller's.)
    Bytes p = w.at(offset, 4);
    if (p == nullptr) return std::nullopt;
    const std::optional<MpegFrame> first = mpegFrame(p);
    if (!first || offset + first->length > end) return std::nullopt;
    std::int64_t at = offset + first->length;
    for (int i = 0; i < following && at + 4 <= end; ++i) {
        p = w.at(at, 4);
        const std::optional<MpegFrame> next = p != nullptr ? mpegFrame(p) : std::nullopt;
        if (!next || !sameStream(first->header, next->header)) return std::nullopt;
        at += next->length;
    }
    return first;
}

// Where trailing tags (ID3v1, Lyrics3, APE) leave the audio's end.
std::int64_t mpegAudioEnd(Reader& reader) {
    std::int64_t end = reader.size();
    unsigned char b[32];
    if (end >= 128 && reader.readExact(end - 128, b, 3) && tagIs(b, "TAG")) end -= 128;
    if (end >= 15 && reader.readExact(end - 15, b, 15) && tagIs(b + 6, "LYRICS200")) {
        std::int64_t n = 0;
        for (int i = 0; i < 6; ++i) n = n * 10 + (b[i] >= '0' && b[i] <= '9' ? b[i] - '0' : 0);
        if (n + 15 <= end) end -= n + 15;
    }
    if (end >= 32 && reader.readExact(end - 32, b, 32) && tagIs(b, "APETAGEX")) {
        const std::int64_t n = le32(b + 12) + ((le32(b + 20) & 0x80000000u) != 0 ? 32 : 0);
        if (n <= end) end -= n;
    }
    return end;
}

// A Xing/Info or VBRI header in the first frame: the samples its frame count promises, and
// the encoder's delay and padding that its LAME tag names, which a gapless decoder leaves out.
struct MpegHeaderInfo {
    bool found = false;
    std::optional<std::int64_t> samples;
    std::int64_t trimmed = 0;
};

MpegHeaderInfo mpegHeaderInfo(Window& w, std::int64_t offset, const MpegFrame& f) {
    MpegHeaderInfo info;
    Bytes p = w.at(offset, static_cast<std::size_t>(f.length));
    if (p == nullptr) return info;
    const int sideInfo = f.version == 1 ? (f.channels == 1 ? 17 : 32) : (f.channels == 1 ? 9 : 17);
    for (const int at : {4 + sideInfo, 6 + sideInfo}) {
        if (at + 8 > f.length || !(tagIs(p + at, "Xing") || tagIs(p + at, "Info"))) continue;
        info.found = true;
        const std::uint32_t flags = be32(p + at + 4);
        if ((flags & 1) != 0 && at + 12 <= f.length) info.samples = static_cast<std::int64_t>(be32(p + at + 8)) * f.samples;
        const int lame = at + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
        if (lame + 24 <= f.length && (tagIs(p + lame, "LAME") || tagIs(p + lame, "Lavf") || tagIs(p + lame, "Lavc"))) {
            const std::uint32_t dp = be24(p + lame + 21);
            info.trimmed = (dp >> 12) + (dp & 0xFFF);
        }
        return info;
    }
    if (36 + 18 <= f.length && tagIs(p + 36, "VBRI")) {
        info.found = true;
        info.samples = static_cast<std::int64_t>(be32(p + 36 + 14)) * f.samples;
    }
    return info;
}

// Frames and bytes of a stretch walked frame by frame; unknown bytes are stepped over to the
// next frame of the stream.
struct FrameCount {
    std::int64_t frames = 0, bytes = 0;
};

FrameCount walkFrames(Window& w, std::int64_t from, std::int64_t to, std::uint32_t stream) {
    FrameCount count;
    std::int64_t at = from;
    while (at + 4 <= to) {
        Bytes p = w.at(at, 4);
        if (p == nullptr) break;
        const std::optional<MpegFrame> f = mpegFrame(p);
        if (f && sameStream(stream, f->header) && at + f->length <= to) {
            ++count.frames;
            count.bytes += f->length;
            at += f->length;
        } else if (f && sameStream(stream, f->header)) {
            break;  // a frame cut off at the end
        } else {
            ++at;
        }
    }
    return count;
}

Expected<StreamInfo> measureMpeg(Reader& reader) {
    constexpr std::int64_t kSearch = 4 * 1024 * 1024;  // where the first frame must start
    constexpr std::int64_t kWalkAll = 3 * 1024 * 1024;   // audio up to this size is walked
    const std::int64_t start = skipId3v2(reader);
    const std::int64_t end = mpegAudioEnd(reader);
    Window w(reader, 64 * 1024), probe(reader, 16 * 1024, 4 * 1024);
    std::optional<MpegFrame> first;
    std::int64_t at = start;
    for (; at + 4 <= std::min(end, start + kSearch); ++at) {
        Bytes p = w.at(at, 4);
        if (p == nullptr) break;
        if (p[0] == 0xFF && (first = chainedFrame(probe, at, end, 3))) break;
    }
    if (!first) return noStream("no MPEG audio frames");
    StreamInfo info;
    info.codec = first->layer == 3 ? "mp3" : first->layer == 2 ? "mp2" : "mp1";
    info.sampleRate = first->sampleRate;
    info.channels = first->channels;
    // A Xing/Info/VBRI frame carries no audio. Its frame count is taken only for audio too
    // long to walk: encoders disagree on whether it counts the header frame itself.
    const MpegHeaderInfo header = mpegHeaderInfo(w, at, *first);
    if (header.found) at += first->length;
    if (end - at <= kWalkAll) {
        info.samples = walkFrames(w, at, end, first->header).frames * first->samples - header.trimmed;
    } else if (header.samples) {
        info.samples = *header.samples - header.trimmed;
    } else {
        // Too long to walk: frames sampled in windows spread over the audio give the mean frame
        // size, which a variable bit rate makes the only honest measure. A file whose windows
        // are mostly not audio (a short stream, then junk or zeros) counts the frames found
        // in its first megabytes instead of hours of frames that are not there.
        constexpr int kWindows = 48;
        constexpr std::int64_t kSpan = 32 * 1024;
        FrameCount sampled;
        int audioWindows = 0;
        for (int k = 0; k < kWindows; ++k) {
            std::int64_t from = at + (end - at - kSpan) * k / (kWindows - 1);
            const std::int64_t to = from + kSpan;
            while (from + 4 <= to && !chainedFrame(probe, from, end, 1)) ++from;
            const FrameCount c = walkFrames(w, from, to, first->header);
            if (c.bytes * 2 < kSpan) continue;
            ++audioWindows;
            sampled.frames += c.frames;
            sampled.bytes += c.bytes;
        }
        if (audioWindows * 2 < kWindows) {
            info.samples = walkFrames(w, at, at + kWalkAll, first->header).frames * first->samples - header.trimmed;
        } else {
            const double frames = static_cast<double>(end - at) * static_cast<double>(sampled.frames) / static_cast<double>(sampled.bytes);
            info.samples = std::llround(frames) * first->samples - header.trimmed;
        }
    }
    info.samples = std::max<std::int64_t>(info.samples, 0);
    info.audioBytes = end - at;
    return info;
}

// --- Ogg ------------------------------------------------------------------------------------

// The CRC of a page: its header (with the CRC field taken as zero) and then its body, continued
// from crc. Four bytes a step (a table for each byte's place), as pages' bodies are most of what
// a measurement reads.
std::uint32_t oggCrc(std::string_view bytes, std::uint32_t crc = 0, bool header = false) {
    static const std::array<std::array<std::uint32_t, 256>, 4> tables = [] {
        std::array<std::array<std::uint32_t, 256>, 4> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int b = 0; b < 8; ++b) r = (r & 0x80000000u) != 0 ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[0][i] = r;
        }
        for (std::size_t k = 1; k < 4; ++k) {
            for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
        }
        return t;
    }();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    if (!header) {
        for (; i + 4 <= bytes.size(); i += 4) {
            crc ^= static_cast<std::uint32_t>(p[i]) << 24 | static_cast<std::uint32_t>(p[i + 1]) << 16 | static_cast<std::uint32_t>(p[i + 2]) << 8 | p[i + 3];
            crc = tables[3][crc >> 24] ^ tables[2][(crc >> 16) & 0xFF] ^ tables[1][(crc >> 8) & 0xFF] ^ tables[0][crc & 0xFF];
        }
    }
    for (; i < bytes.size(); ++i) {
        const unsigned char c = (header && i >= 22 && i < 26) ? 0 : p[i];
        crc = (crc << 8) ^ tables[0][((crc >> 24) ^ c) & 0xFF];
    }
    return crc;
}

struct OggPage {
    std::uint64_t granule = 0;
    std::uint32_t serial = 0;
    std::string body;
};

// The whole page at offset, checked against its CRC (so "OggS" inside packet data is not taken
// for a page).
std::optional<OggPage> oggPage(Reader& reader, std::int64_t offset) {
    unsigned char h[27 + 255];
    if (!reader.readExact(offset, h, 27) || !tagIs(h, "OggS") || h[4] != 0) return std::nullopt;
    const int segments = h[26];
    if (!reader.readExact(offset + 27, h + 27, static_cast<std::size_t>(segments))) return std::nullopt;
    std::size_t bodySize = 0;
    for (int i = 0; i < segments; ++i) bodySize += h[27 + i];
    const std::string_view header(reinterpret_cast<const char*>(h), 27 + static_cast<std::size_t>(segments));
    const std::string_view body = reader.read(offset + static_cast<std::int64_t>(header.size()), bodySize);
    if (body.size() != bodySize) return std::nullopt;
    if (oggCrc(body, oggCrc(header, 0, true)) != le32(h + 22)) return std::nullopt;
    return OggPage{le64(h + 6), le32(h + 14), std::string(body)};
}

// The granule position of the last complete page of the stream serial, searched backwards
// from the end through at most the last megabyte, in steps of a few pages (the last page is
// almost always within the first).
std::optional<std::uint64_t> lastGranule(Reader& reader, std::uint32_t serial) {
    constexpr std::int64_t kTail = 1024 * 1024, kStep = 16 * 1024;
    const std::int64_t limit = std::max<std::int64_t>(0, reader.size() - kTail);
    std::int64_t end = reader.size();
    while (end > limit) {
        const std::int64_t from = std::max(limit, end - kStep);
        const std::string chunk(reader.read(from, static_cast<std::size_t>(end - from)));
        if (chunk.empty()) break;
        for (std::size_t at = chunk.rfind("OggS"); at != std::string::npos; at = at == 0 ? std::string::npos : chunk.rfind("OggS", at - 1)) {
            const std::optional<OggPage> page = oggPage(reader, from + static_cast<std::int64_t>(at));
            if (page && page->serial == serial && page->granule != ~std::uint64_t{0}) return page->granule;
        }
        // The next chunk overlaps this one by three bytes, so a capture pattern across the
        // boundary is still seen whole.
        end = from == limit ? limit : from + 3;
    }
    return std::nullopt;
}

Expected<StreamInfo> measureOgg(Reader& reader) {
    const std::int64_t start = skipId3v2(reader);
    const std::optional<OggPage> first = oggPage(reader, start);
    if (!first) return noStream("no Ogg page at the start");
    Bytes p = reinterpret_cast<Bytes>(first->body.data());
    const std::size_t n = first->body.size();
    StreamInfo info;
    std::uint64_t skip = 0;
    if (n >= 30 && tagIs(p, "\x01vorbis")) {
        info.codec = "vorbis";
        info.channels = p[11];
        info.sampleRate = static_cast<int>(le32(p + 12));
    } else if (n >= 19 && tagIs(p, "OpusHead")) {
        info.codec = "opus";
        info.channels = p[9];
        info.sampleRate = 48000;  // Opus always decodes at 48 kHz; the header's rate is the input's
        skip = le16(p + 10);
    } else if (n >= 52 && tagIs(p, "Speex   ")) {
        info.codec = "speex";
        info.sampleRate = static_cast<int>(le32(p + 36));
        info.channels = static_cast<int>(le32(p + 48));
    } else if (n >= 51 && tagIs(p, "\x7F" "FLAC") && tagIs(p + 9, "fLaC")) {
        info.codec = "flac";
        Bytes s = p + 17 + 10;
        info.sampleRate = static_cast<int>(be24(s) >> 4);
        info.channels = ((s[2] >> 1) & 7) + 1;
    } else {
        return noStream("an Ogg stream of no audio codec read here");
    }
    if (info.sampleRate <= 0 || info.channels <= 0) return noStream("an Ogg audio header without a sample rate");
    const std::optional<std::uint64_t> granule = lastGranule(reader, first->serial);
    if (granule && *granule > skip && *granule < (std::uint64_t{1} << 62)) info.samples = static_cast<std::int64_t>(*granule - skip);
    info.audioBytes = reader.size();
    return info;
}

// --- FLAC -----------------------------------------------------------------------------------

Expected<StreamInfo> measureFlac(Reader& reader) {
    std::int64_t at = skipId3v2(reader);
    unsigned char h[4 + 4 + 34];
    if (!reader.readExact(at, h, sizeof h) || !tagIs(h, "fLaC") || (h[4] & 0x7F) != 0 || be24(h + 5) < 34) {
        return noStream("no FLAC stream information");
    }
    Bytes s = h + 8 + 10;
    StreamInfo info;
    info.codec = "flac";
    info.sampleRate = static_cast<int>(be24(s) >> 4);
    info.channels = ((s[2] >> 1) & 7) + 1;
    info.samples = static_cast<std::int64_t>(be64(s) & 0xFFFFFFFFFull);
    if (info.sampleRate <= 0) return noStream("a FLAC stream without a sample rate");
    // The frames begin after the last metadata block; pictures there are not audio.
    at += 4;
    for (int blocks = 0; blocks < 1024; ++blocks) {
        unsigned char b[4];
        if (!reader.readExact(at, b, 4)) break;
        at += 4 + be24(b + 1);
        if ((b[0] & 0x80) != 0) break;
    }
    info.audioBytes = std::max<std::int64_t>(0, reader.size() - at);
    return info;
}

// --- WAV and AIFF ---------------------------------------------------------------------------

// An IEEE 754 80-bit extended number, as AIFF writes its sample rate.
double extended80(Bytes p) {
    const int exponent = static_cast<int>(be16(p) & 0x7FFF);
    const std::uint64_t mantissa = be64(p + 2);
    if (exponent == 0 || mantissa == 0) return 0;
    return std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
}

Expected<StreamInfo> measureWav(Reader& reader) {
    unsigned char h[12];
    if (!reader.readExact(0, h, sizeof h) || !(tagIs(h, "RIFF") || tagIs(h, "RF64")) || !tagIs(h + 8, "WAVE")) {
        return noStream("no RIFF WAVE header");
    }
    std::uint32_t formatTag = 0, byteRate = 0, blockAlign = 0;
    std::int64_t dataSize = -1, dataStart = 0, factSamples = -1, ds64Data = -1;
    StreamInfo info;
    std::int64_t at = 12;
    for (int chunks = 0; chunks < 4096 && at + 8 <= reader.size(); ++chunks) {
        unsigned char c[8 + 28];
        if (!reader.readExact(at, c, 8)) break;
        const std::int64_t size = le32(c + 4);
        if (tagIs(c, "fmt ") && size >= 16 && reader.readExact(at + 8, c + 8, 16)) {
            formatTag = le16(c + 8);
            info.channels = static_cast<int>(le16(c + 10));
            info.sampleRate = static_cast<int>(le32(c + 12));
            byteRate = le32(c + 16);
            blockAlign = le16(c + 20);
        } else if (tagIs(c, "ds64") && size >= 16 && reader.readExact(at + 8, c + 8, 16)) {
            ds64Data = static_cast<std::int64_t>(le64(c + 16) & 0x7FFFFFFFFFFFFFFFull);
        } else if (tagIs(c, "fact") && size >= 4 && reader.readExact(at + 8, c + 8, 4)) {
            factSamples = le32(c + 8);
        } else if (tagIs(c, "data")) {
            dataStart = at + 8;
            dataSize = (size == 0xFFFFFFFF && ds64Data >= 0) ? ds64Data : size;
            break;
        }
        at += 8 + size + (size & 1);
    }
    if (info.sampleRate <= 0 || info.channels <= 0 || blockAlign == 0 || dataSize < 0) return noStream("no WAV format or data chunk");
    // A data chunk that claims more than the file holds ends with the file, as a decoder finds.
    dataSize = std::min(dataSize, reader.size() - dataStart);
    const bool pcm = formatTag == 1 || formatTag == 3 || formatTag == 6 || formatTag == 7 || formatTag == 0xFFFE;
    info.codec = pcm ? "pcm" : "wav";
    if (pcm) info.samples = dataSize / blockAlign;
    else if (factSamples >= 0) info.samples = factSamples;
    else if (byteRate > 0) info.samples = samplesOf(static_cast<double>(dataSize) * info.sampleRate / byteRate);
    info.audioBytes = dataSize;
    return info;
}

Expected<StreamInfo> measureAiff(Reader& reader) {
    unsigned char h[12];
    if (!reader.readExact(0, h, sizeof h) || !tagIs(h, "FORM") || !(tagIs(h + 8, "AIFF") || tagIs(h + 8, "AIFC"))) {
        return noStream("no AIFF header");
    }
    StreamInfo info;
    info.codec = "pcm";
    std::int64_t frames = -1, soundBytes = -1;
    int bits = 0;
    bool compressed = false;
    std::int64_t at = 12;
    for (int chunks = 0; chunks < 4096 && at + 8 <= reader.size(); ++chunks) {
        unsigned char c[8 + 22];
        if (!reader.readExact(at, c, 8)) break;
        const std::int64_t size = be32(c + 4);
        if (tagIs(c, "COMM") && size >= 18 && reader.readExact(at + 8, c + 8, size >= 22 ? 22 : 18)) {
            info.channels = static_cast<int>(be16(c + 8));
            frames = be32(c + 10);
            bits = static_cast<int>(be16(c + 14));
            info.sampleRate = static_cast<int>(std::clamp(extended80(c + 16), 0.0, 1e9) + 0.5);
            compressed = size >= 22 && tagIs(h + 8, "AIFC") && !(tagIs(c + 26, "NONE") || tagIs(c + 26, "sowt") || tagIs(c + 26, "twos"));
        } else if (tagIs(c, "SSND")) {
            soundBytes = std::min<std::int64_t>(size, reader.size() - at - 8) - 8;
        }
        at += 8 + size + (size & 1);
    }
    if (info.sampleRate <= 0 || info.channels <= 0 || frames < 0) return noStream("no AIFF common chunk");
    info.samples = frames;
    const std::int64_t frameBytes = static_cast<std::int64_t>(info.channels) * ((bits + 7) / 8);
    if (!compressed && soundBytes >= 0 && frameBytes > 0) info.samples = std::min(frames, soundBytes / frameBytes);
    info.audioBytes = soundBytes >= 0 ? soundBytes : 0;
    return info;
}

// --- MP4 ------------------------------------------------------------------------------------

struct Mp4Track {
    bool sound = false;
    std::uint32_t timescale = 0;
    std::uint64_t duration = 0;
    std::string entry;  // the sample entry's type
    int channels = 0, sampleRate = 0;
    std::optional<std::uint64_t> edited;  // the edit list's length, in the movie's time scale
};

class Mp4Walk {
public:
    explicit Mp4Walk(Reader& reader) : reader_(reader) {}

    // Visits the atoms in [from, to) at a depth; containers that matter are entered.
    void atoms(std::int64_t from, std::int64_t to, int depth) {
        std::int64_t at = from;
        while (at + 8 <= to && depth < 8 && ++visited_ < 20000) {
            unsigned char h[16];
            if (!reader_.readExact(at, h, 8)) return;
            std::int64_t size = be32(h), header = 8;
            if (size == 1) {
                if (!reader_.readExact(at + 8, h + 8, 8)) return;
                size = static_cast<std::int64_t>(be64(h + 8) & 0x7FFFFFFFFFFFFFFFull);
                header = 16;
            } else if (size == 0) {
                size = to - at;
            }
            if (size < header) return;
            size = std::min(size, to - at);  // an atom never reaches past its parent
            const std::int64_t end = at + size, body = at + header;
            const std::string type(reinterpret_cast<const char*>(h + 4), 4);
            if (type == "moov" || type == "mdia" || type == "minf" || type == "stbl" || type == "edts") {
                atoms(body, end, depth + 1);
            } else if (type == "trak") {
                tracks.emplace_back();
                atoms(body, end, depth + 1);
            } else if (type == "mvhd") {
                const std::string_view d = reader_.read(body, 32);
                if (d.size() >= 24) movieTimescale = be32(reinterpret_cast<Bytes>(d.data()) + (d[0] == 1 ? 20 : 12));
            } else if (!tracks.empty()) {
                trackAtom(type, body, end);
            }
            at = at + size;
        }
    }

    std::vector<Mp4Track> tracks;
    std::uint32_t movieTimescale = 0;

private:
    void trackAtom(const std::string& type, std::int64_t body, std::int64_t end) {
        Mp4Track& t = tracks.back();
        const std::string d(reader_.read(body, static_cast<std::size_t>(std::min<std::int64_t>(end - body, 128))));
        Bytes p = reinterpret_cast<Bytes>(d.data());
        if (type == "hdlr" && d.size() >= 12) {
            // (QuickTime files have a second handler, of the data, below the media's.)
            t.sound = t.sound || tagIs(p + 8, "soun");
        } else if (type == "mdhd" && d.size() >= 24) {
            const bool v1 = p[0] == 1;
            if (v1 && d.size() < 32) return;
            t.timescale = be32(p + (v1 ? 20 : 12));
            t.duration = v1 ? be64(p + 24) : be32(p + 16);
        } else if (type == "stsd" && d.size() >= 8 + 8 + 28) {
            Bytes e = p + 8;
            t.entry.assign(reinterpret_cast<const char*>(e + 4), 4);
            t.channels = static_cast<int>(be16(e + 8 + 16));
            t.sampleRate = static_cast<int>(be32(e + 8 + 24) >> 16);
        } else if (type == "elst" && d.size() >= 8) {
            // Edits that play media (not empty ones) make the presented length; an encoder's
            // priming samples are cut this way.
            const bool v1 = p[0] == 1;
            const std::size_t entry = v1 ? 20 : 12;
            const std::size_t count = std::min<std::size_t>(be32(p + 4), (d.size() - 8) / entry);
            std::uint64_t total = 0;
            for (std::size_t i = 0; i < count; ++i) {
                Bytes e = p + 8 + i * entry;
                const std::uint64_t length = v1 ? be64(e) : be32(e);
                const std::int64_t mediaTime = v1 ? static_cast<std::int64_t>(be64(e + 8)) : static_cast<std::int32_t>(be32(e + 4));
                if (mediaTime >= 0) total += length;
            }
            if (count > 0 && total > 0) t.edited = total;
        }
    }

    Reader& reader_;
    int visited_ = 0;
};

Expected<StreamInfo> measureMp4(Reader& reader) {
    unsigned char h[8];
    if (!reader.readExact(0, h, sizeof h) || !(tagIs(h + 4, "ftyp") || tagIs(h + 4, "moov") || tagIs(h + 4, "mdat") ||
                                               tagIs(h + 4, "free") || tagIs(h + 4, "wide") || tagIs(h + 4, "skip"))) {
        return noStream("no MP4 atoms");
    }
    Mp4Walk walk(reader);
    walk.atoms(0, reader.size(), 0);
    for (const Mp4Track& t : walk.tracks) {
        if (!t.sound || t.timescale == 0) continue;
        StreamInfo info;
        info.codec = t.entry == "mp4a" ? "aac" : t.entry == "alac" ? "alac" : t.entry;
        info.channels = t.channels;
        info.sampleRate = t.sampleRate > 0 ? t.sampleRate : static_cast<int>(t.timescale);
        const double seconds = t.edited && walk.movieTimescale > 0 ? static_cast<double>(*t.edited) / walk.movieTimescale
                                                                    : static_cast<double>(t.duration) / t.timescale;
        info.samples = samplesOf(seconds * info.sampleRate);
        info.audioBytes = reader.size();
        return info;
    }
    return noStream("no sound track in the MP4 file");
}

std::string extensionOf(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

}  // namespace

Container containerOfName(const std::string& name) {
    const std::string ext = extensionOf(name);
    if (ext == "mp3" || ext == "mp2" || ext == "mpga") return Container::mpeg;
    if (ext == "ogg" || ext == "oga" || ext == "opus" || ext == "spx") return Container::ogg;
    if (ext == "flac") return Container::flac;
    if (ext == "wav") return Container::wav;
    if (ext == "aif" || ext == "aiff" || ext == "aifc") return Container::aiff;
    if (ext == "m4a" || ext == "m4b" || ext == "mp4") return Container::mp4;
    return Container::other;
}

Expected<UniqueFd> openRegularFile(const std::string& path, std::int64_t* size, std::int64_t* modified) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return Error(StreamError::notRegular, std::string("cannot be opened: ") + std::strerror(errno));
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Error(StreamError::notRegular, "not a regular file");
    if (size != nullptr) *size = st.st_size;
    if (modified != nullptr) *modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return fd;
}

Expected<StreamInfo> measureStream(int fd, std::int64_t size, Container container, LoadedBytes* loaded) {
    Reader reader(fd, size, loaded);
    Expected<StreamInfo> info = Error(StreamError::notMeasured, "a format measured by its tag reader");
    switch (container) {
        case Container::mpeg: info = measureMpeg(reader); break;
        case Container::ogg: info = measureOgg(reader); break;
        case Container::flac: info = measureFlac(reader); break;
        case Container::wav: info = measureWav(reader); break;
        case Container::aiff: info = measureAiff(reader); break;
        case Container::mp4: info = measureMp4(reader); break;
        case Container::other: break;
    }
    if (!info) return info;
    // Headers can claim anything: rates and channels no audio has are not a stream.
    if (info->sampleRate <= 0 || info->sampleRate > 1536000 || info->channels <= 0 || info->channels > 255) {
        return noStream("a stream header with an impossible sample rate or channel count");
    }
    info->samples = std::clamp<std::int64_t>(info->samples, 0, kMaxSamples);
    if (info->samples > 0) {
        const double kbps = static_cast<double>(info->audioBytes) * 8 * info->sampleRate / static_cast<double>(info->samples) / 1000;
        info->bitRate = static_cast<int>(std::min(kbps, 1e6) + 0.5);
    }
    return info;
}

Expected<StreamInfo> measureFile(const std::string& path) {
    std::int64_t size = 0;
    Expected<UniqueFd> fd = openRegularFile(path, &size);
    if (!fd) return fd.error();
    return measureStream(fd->get(), size, containerOfName(path));
}

}  // namespace kestrane::audiofile
