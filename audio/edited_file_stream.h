#pragma once
#include <taglib/tbytevector.h>
#include <taglib/tiostream.h>

#include <cstdint>
#include <string>
#include <vector>

namespace chm {

// An existing file seen through TagLib's stream interface with every change kept aside: reads
// see the file as changed so far, while the file itself is never written. Only the bytes that
// TagLib writes are held in memory, so a tag of a few kilobytes in front of audio of any length
// costs a few kilobytes; WriteTo then makes the changed file, copying the unchanged ranges
// through a buffer of fixed size.
class EditedFileStream : public TagLib::IOStream {
public:
    // `fd` is a readable descriptor of the file, kept open by the caller for the stream's life;
    // `size` is the file's length.
    EditedFileStream(int fd, int64_t size, std::string name);

    TagLib::FileName name() const override;
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    void insert(const TagLib::ByteVector& data, unsigned long start = 0, unsigned long replace = 0) override;
    void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
    bool readOnly() const override;
    bool isOpen() const override;
    void seek(long offset, Position p = Beginning) override;
    long tell() const override;
    long length() override;
    void truncate(long length) override;

    // Writes the changed file into `out`, an empty regular file. False when the original could
    // not be read as it was when the stream was made, a change could not be kept, or `out`
    // refused a byte.
    bool WriteTo(int out) const;
    // The bytes the changes hold in memory.
    int64_t ChangedBytes() const;

private:
    // A run of the changed file: `length` bytes of the original from `source`, or, when source
    // is kChanged, the bytes themselves.
    struct Piece {
        static constexpr int64_t kChanged = -1;
        int64_t source = kChanged;
        int64_t length = 0;
        TagLib::ByteVector bytes;
    };

    // Replaces [start, start + length) with `data`; a start beyond the end is refused.
    void Replace(int64_t start, int64_t length, const TagLib::ByteVector& data);
    // The index of the piece that starts at `position`, splitting the one across it.
    size_t SplitAt(int64_t position);
    bool CopyOriginal(const Piece& piece, int out, int64_t at, std::vector<char>& buffer) const;

    int fd_;
    int64_t original_size_;
    std::string name_;
    std::vector<Piece> pieces_;
    int64_t length_;
    int64_t position_ = 0;
    // A read of the original or a change that failed: the result must not be written.
    bool broken_ = false;
};

}  // namespace chm
