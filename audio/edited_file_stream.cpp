#include "audio/edited_file_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/file_mapping.h"

namespace chm {

namespace {

// The copy buffer: large enough that a long file copies at the disk's pace, small enough to
// keep the memory of a tag write flat.
constexpr size_t kCopyBuffer = 1 << 20;

int64_t Clamped(unsigned long value) {
    return static_cast<int64_t>(std::min<unsigned long>(value, std::numeric_limits<int64_t>::max()));
}

}  // namespace

EditedFileStream::EditedFileStream(int fd, int64_t size, std::string name)
    : fd_(fd), original_size_(size), name_(std::move(name)), length_(size) {
    if (size > 0) pieces_.push_back(Piece{0, size, {}});
}

TagLib::FileName EditedFileStream::name() const { return name_.c_str(); }

bool EditedFileStream::readOnly() const { return false; }

bool EditedFileStream::isOpen() const { return fd_ >= 0; }

long EditedFileStream::tell() const { return position_; }

long EditedFileStream::length() { return length_; }

void EditedFileStream::seek(long offset, Position p) {
    int64_t base = 0;
    if (p == Current) base = position_;
    if (p == End) base = length_;
    // As a file does: a position before the start is refused, one past the end is allowed.
    if (offset < -base) return;
    position_ = base + offset;
}

TagLib::ByteVector EditedFileStream::readBlock(unsigned long length) {
    if (position_ >= length_ || length == 0) return {};
    // A block is at most what a TagLib vector can hold.
    const int64_t n = std::min({Clamped(length), length_ - position_,
                                static_cast<int64_t>(std::numeric_limits<unsigned int>::max())});
    TagLib::ByteVector block(static_cast<unsigned int>(n), 0);
    int64_t done = 0;
    int64_t start = 0;
    for (const Piece& piece : pieces_) {
        const int64_t end = start + piece.length;
        const int64_t at = position_ + done;
        if (at < end) {
            const int64_t offset = at - start;
            const int64_t take = std::min(n - done, piece.length - offset);
            if (piece.source == Piece::kChanged) {
                std::memcpy(block.data() + done, piece.bytes.data() + offset, static_cast<size_t>(take));
            } else if (ReadFileAt(fd_, block.data() + done, static_cast<size_t>(take),
                                  static_cast<uint64_t>(piece.source + offset)) != take) {
                broken_ = true;  // the original changed or failed under the stream
                block.resize(static_cast<unsigned int>(done));
                break;
            }
            done += take;
            if (done == n) break;
        }
        start = end;
    }
    position_ += static_cast<int64_t>(block.size());
    return block;
}

void EditedFileStream::writeBlock(const TagLib::ByteVector& data) {
    const int64_t start = position_;
    Replace(start, std::min<int64_t>(data.size(), std::max<int64_t>(length_ - start, 0)), data);
    position_ = start + data.size();
}

void EditedFileStream::insert(const TagLib::ByteVector& data, unsigned long start, unsigned long replace) {
    const int64_t at = Clamped(start);
    Replace(at, std::min(Clamped(replace), std::max<int64_t>(length_ - at, 0)), data);
    position_ = at + data.size();
}

void EditedFileStream::removeBlock(unsigned long start, unsigned long length) {
    const int64_t at = Clamped(start);
    Replace(at, std::min(Clamped(length), std::max<int64_t>(length_ - at, 0)), {});
}

void EditedFileStream::truncate(long length) {
    // Growing would need bytes that nobody wrote; the tag writers only ever cut.
    if (length < 0 || length > length_) {
        broken_ = true;
        return;
    }
    // Split first: splitting may move the pieces, and with them any iterator taken before.
    const size_t first_cut = SplitAt(length);
    pieces_.erase(pieces_.begin() + static_cast<long>(first_cut), pieces_.end());
    length_ = length;
}

void EditedFileStream::Replace(int64_t start, int64_t length, const TagLib::ByteVector& data) {
    // A gap between the end and the new bytes would be bytes that nobody wrote.
    if (start > length_) {
        broken_ = true;
        return;
    }
    const size_t first = SplitAt(start);
    const size_t last = SplitAt(start + length);
    pieces_.erase(pieces_.begin() + static_cast<long>(first), pieces_.begin() + static_cast<long>(last));
    // A copy of only these bytes: TagLib's vectors share their storage, and a few bytes cut from
    // a block it read (an Ogg page's new number) would keep the whole block alive.
    if (!data.isEmpty())
        pieces_.insert(pieces_.begin() + static_cast<long>(first),
                       Piece{Piece::kChanged, data.size(), TagLib::ByteVector(data.data(), data.size())});
    length_ += static_cast<int64_t>(data.size()) - length;
}

size_t EditedFileStream::SplitAt(int64_t position) {
    int64_t start = 0;
    for (size_t i = 0; i < pieces_.size(); ++i) {
        if (position == start) return i;
        Piece& piece = pieces_[i];
        const int64_t end = start + piece.length;
        if (position < end) {
            const int64_t head = position - start;
            Piece tail{piece.source, piece.length - head, {}};
            if (piece.source == Piece::kChanged) {
                tail.bytes = piece.bytes.mid(static_cast<unsigned int>(head));
                piece.bytes.resize(static_cast<unsigned int>(head));
            } else {
                tail.source = piece.source + head;
            }
            piece.length = head;
            pieces_.insert(pieces_.begin() + static_cast<long>(i) + 1, std::move(tail));
            return i + 1;
        }
        start = end;
    }
    return pieces_.size();
}

int64_t EditedFileStream::ChangedBytes() const {
    int64_t bytes = 0;
    for (const Piece& piece : pieces_) bytes += piece.bytes.size();
    return bytes;
}

bool EditedFileStream::WriteTo(int out) const {
    // The new file is sized first: the holes of a sparse original stay holes in it.
    if (broken_ || FileSize(fd_) != original_size_ || ::ftruncate(out, static_cast<off_t>(length_)) != 0)
        return false;
    std::vector<char> buffer;
    int64_t at = 0;
    for (const Piece& piece : pieces_) {
        const bool written = piece.source == Piece::kChanged
                                 ? WriteFileAt(out, piece.bytes.data(), piece.bytes.size(), static_cast<uint64_t>(at))
                                 : CopyOriginal(piece, out, at, buffer);
        if (!written) return false;
        at += piece.length;
    }
    // An original cut short while it was copied would have given holes instead of its bytes.
    return FileSize(fd_) == original_size_;
}

bool EditedFileStream::CopyOriginal(const Piece& piece, int out, int64_t at, std::vector<char>& buffer) const {
    if (buffer.empty()) buffer.resize(kCopyBuffer);
    const int64_t end = piece.source + piece.length;
    int64_t from = piece.source;
    while (from < end) {
        // Only the data is copied; where the system cannot say where data lies, all of it is.
        off_t data = ::lseek(fd_, from, SEEK_DATA);
        if (data < 0 && errno == ENXIO) return true;  // nothing but a hole up to the end
        if (data < 0) data = from;
        if (data >= end) return true;
        off_t hole = ::lseek(fd_, data, SEEK_HOLE);
        if (hole <= data || hole > end) hole = end;
        for (int64_t copied = data; copied < hole;) {
            const auto n = static_cast<size_t>(std::min<int64_t>(hole - copied, static_cast<int64_t>(buffer.size())));
            if (ReadFileAt(fd_, buffer.data(), n, static_cast<uint64_t>(copied)) != static_cast<int64_t>(n) ||
                !WriteFileAt(out, buffer.data(), n, static_cast<uint64_t>(at + (copied - piece.source))))
                return false;
            copied += static_cast<int64_t>(n);
        }
        from = hole;
    }
    return true;
}

}  // namespace chm
