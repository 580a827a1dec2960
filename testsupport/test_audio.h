// Audio files for player tests, written here rather than shipped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace kestrane::test {

// A mono 16-bit 44.1 kHz PCM WAV file of the given length holding a quiet square wave.
inline void writeTestWav(const std::filesystem::path& path, double seconds) {
    const std::uint32_t rate = 44100, frames = static_cast<std::uint32_t>(seconds * rate), bytes = frames * 2;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&out](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&out](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);         // PCM
    u16(1);         // mono
    u32(rate);
    u32(rate * 2);  // bytes per second
    u16(2);         // bytes per frame
    u16(16);        // bits per sample
    out.write("data", 4);
    u32(bytes);
    for (std::uint32_t i = 0; i < frames; ++i) {
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>((i / 50) % 2 ? 1000 : -1000)));
    }
}

}  // namespace kestrane::test
