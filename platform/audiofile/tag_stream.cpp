#include "tag_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "audio_stream.h"

namespace kestrane::audiofile {

namespace {
constexpr std::int64_t kHead = 256 * 1024;
constexpr std::int64_t kTail = 64 * 1024;
}  // namespace

TagStream::TagStream(const std::string& path) : path_(path) {
    Expected<UniqueFd> fd = openRegularFile(path, &size_);
    if (!fd) return;
    fd_ = std::move(fd).value();
    headSize_ = std::min(size_, kHead);
    tailStart_ = std::max(headSize_, size_ - kTail);
    head_ = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(headSize_));
    tail_ = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size_ - tailStart_));
    if (!readAt(0, head_.get(), headSize_) || !readAt(tailStart_, tail_.get(), size_ - tailStart_)) fd_.reset();
}

bool TagStream::readAt(std::int64_t offset, char* into, std::int64_t n) {
    std::int64_t done = 0;
    while (done < n) {
        const ssize_t got = pread(fd_.get(), into + done, static_cast<std::size_t>(n - done), offset + done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += got;
    }
    return true;
}

TagLib::ByteVector TagStream::readBlock(unsigned long length) {
    const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(std::min<unsigned long>(length, 1ul << 30)), size_ - position_);
    if (n <= 0 || !fd_) return TagLib::ByteVector();
    TagLib::ByteVector block(static_cast<unsigned>(n), '\0');
    std::int64_t done = 0;
    while (done < n) {
        const std::int64_t at = position_ + done;
        std::int64_t piece;
        if (at < headSize_) {
            piece = std::min(n - done, headSize_ - at);
            std::memcpy(block.data() + done, head_.get() + at, static_cast<std::size_t>(piece));
        } else if (at >= tailStart_) {
            piece = std::min(n - done, size_ - at);
            std::memcpy(block.data() + done, tail_.get() + (at - tailStart_), static_cast<std::size_t>(piece));
        } else {
            piece = std::min({n - done, tailStart_ - at, kBudget - spent_});
            if (piece <= 0) break;  // the budget is spent: the file reads as ended here
            const ssize_t got = pread(fd_.get(), block.data() + done, static_cast<std::size_t>(piece), at);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            piece = got;
            spent_ += got;
        }
        done += piece;
    }
    block.resize(static_cast<unsigned>(done));
    position_ += done;
    return block;
}

void TagStream::seek(long offset, Position from) {
    const std::int64_t base = from == Beginning ? 0 : from == Current ? position_ : size_;
    position_ = std::clamp<std::int64_t>(base + offset, 0, size_);
}

}  // namespace kestrane::audiofile
