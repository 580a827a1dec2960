// A file opened for TagLib without letting it block or read without end: opened as
// openRegularFile does (audio_stream.h), its head and tail kept in buffers that serve the many
// small reads and seeks of TagLib's readers there, and every other read counted against a
// budget past which the file reads as ended. A reader that would search a huge file byte by
// byte (a frame search through zeros, a backward search for a last page) so stops within the
// budget instead of reading the whole file. The buffers fill as far as reads reach them (the
// head forwards, the tail backwards), so that a file whose tags and stream headers are a few
// kilobytes costs a few kilobytes of reading, whatever its size; a measurement of its stream
// reads through the same buffers (LoadedBytes).
#pragma once

#include <tiostream.h>

#include <cstdint>
#include <memory>
#include <string>

#include "audio_stream.h"

#include "holders.h"

namespace kestrane::audiofile {

class TagStream final : public TagLib::IOStream, public LoadedBytes {
public:
    // Opens path; isOpen() is false when it is not a regular file or cannot be read.
    explicit TagStream(const std::string& path);
    TagStream(const TagStream&) = delete;
    TagStream& operator=(const TagStream&) = delete;

    // The descriptor (for measuring the stream, audio_stream.h), and the size and modification
    // time (nanoseconds since the epoch) when opened.
    int fd() const { return fd_.get(); }
    std::int64_t size() const { return size_; }
    std::int64_t modified() const { return modified_; }
    std::optional<std::string_view> bytesAt(std::int64_t offset, std::size_t n) override;

    TagLib::FileName name() const override { return path_.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return static_cast<bool>(fd_); }
    void seek(long offset, Position from) override;
    long tell() const override { return position_; }
    long length() override { return size_; }
    void truncate(long) override {}

    // Bytes read outside the head and tail buffers that a stream may read: more than any
    // tag of a real file (large pictures included) needs.
    static constexpr std::int64_t kBudget = 64 * 1024 * 1024;

private:
    bool readAt(std::int64_t offset, char* into, std::int64_t n);
    // Loads the head up to end, the tail down to from (both at least a chunk at a time, within
    // their spans); false when the file ends first.
    bool loadHead(std::int64_t end);
    bool loadTail(std::int64_t from);

    std::string path_;
    UniqueFd fd_;
    std::int64_t size_ = 0, modified_ = 0, position_ = 0, spent_ = 0;
    // The head spans [0, headSpan_), loaded up to headLoaded_; the tail spans [tailStart_,
    // size_), loaded from tailLoaded_. Small files' spans overlap. Left uninitialised: every byte
    // is read into before it is used.
    std::int64_t headSpan_ = 0, headLoaded_ = 0, tailStart_ = 0, tailLoaded_ = 0;
    std::unique_ptr<char[]> head_, tail_;
};

}  // namespace kestrane::audiofile
