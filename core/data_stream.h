// A byte stream over a file or a growable memory block: every archive and picture byte goes
// through it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct stat;

namespace quorbel {

namespace detail {
struct SharedFile;
}

// While one lives, the streams its thread opens for reading on `path` share one open file, its
// status and its first page, instead of each opening, checking and reading the file again: the
// opener tries every format on the same file. Streams that outlive it keep the file open and
// ask the system again from then on.
class SharedReading {
public:
    explicit SharedReading(const std::string& path);
    ~SharedReading();
    SharedReading(const SharedReading&) = delete;
    SharedReading& operator=(const SharedReading&) = delete;

private:
    friend class DataStream;
    std::shared_ptr<detail::SharedFile> file_;
    SharedReading* outer_;
};

class DataStream {
public:
    enum class Origin { Start, Current, End };
    static constexpr size_t kGrowStep = 1048576;  // memory blocks grow in fixed 1 MB steps

    DataStream() = default;
    ~DataStream() { Close(); }
    DataStream(const DataStream&) = delete;
    DataStream& operator=(const DataStream&) = delete;

    // Opens a file for reading ("rb") or writing ("wb"); the path becomes the name.
    bool OpenFile(const std::string& path, bool for_reading);
    // Reading from a block the caller keeps owning.
    bool AttachMemory(const uint8_t* block, size_t size);
    // Writing into a new zero-filled block owned by the stream.
    bool CreateMemory(size_t initial_size);

    size_t Read(void* destination, size_t n);
    size_t Write(const void* source, size_t n);
    // New position, or -1 when the seek failed. In memory mode a seek past the end sets the end
    // flag and leaves the position on the last byte; the end itself is a valid position.
    int64_t Seek(int64_t offset, Origin origin);
    int64_t Tell() const;
    void Rewind();
    // Enlarges the memory block by one step; false (block unchanged) when memory runs out.
    bool Grow();
    // A written memory block that the stream owns is wiped before it is freed.
    void Close();

    // Size of the data: the memory capacity, or the file's length.
    int64_t Size();
    bool IsOpen() const { return file_ || fd_ >= 0 || memory_mode_; }
    bool IsMemory() const { return memory_mode_; }
    bool IsReading() const { return reading_; }
    bool AtEnd() const;
    bool Error() const { return (file_ && std::ferror(file_)) || read_error_; }
    size_t LastCount() const { return last_count_; }
    uint64_t RunningCount() const { return running_count_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    const uint8_t* MemoryData() const { return memory_; }
    size_t MemoryCapacity() const { return capacity_; }
    // The status of a file open for reading; false for memory and written files.
    bool FileStatus(struct stat& st) const;
    // Flushes a written file to the system (fflush), and to the disk (fsync) when `durable`.
    bool Flush(bool durable = true);

    // Bit-level transfer, most significant bit first.
    int ReadBit();
    bool WriteBit(int bit);

private:
    void EndBitGroup();
    bool GrowBy(size_t steps);
    size_t ReadFromFile(uint8_t* destination, size_t n);
    int64_t ReadAt(uint8_t* destination, size_t n, int64_t offset);
    int64_t FileLength() const;

    bool reading_ = true;
    bool memory_mode_ = false;
    std::FILE* file_ = nullptr;  // a written file
    // A read file: positioned reads through a buffer, so that the probing of every format the
    // opener tries costs no seeks (stdio asks the system for each one).
    int fd_ = -1;
    std::shared_ptr<detail::SharedFile> shared_;  // the file of a SharedReading, when opened in one
    int64_t file_position_ = 0;
    uint8_t* buffer_ = nullptr;
    int64_t buffer_start_ = 0;
    size_t buffer_length_ = 0;
    size_t next_fill_ = 0;  // grows while reading goes on where the buffer ended
    bool file_end_ = false;
    bool read_error_ = false;
    uint8_t* memory_ = nullptr;
    size_t capacity_ = 0;
    size_t position_ = 0;
    size_t written_end_ = 0;  // one past the highest byte written into an owned block
    size_t last_count_ = 0;
    std::string name_;
    uint64_t running_count_ = 0;
    uint8_t bit_byte_ = 0;
    int bit_position_ = -1;
    bool end_of_data_ = false;
    bool owns_block_ = false;
};

}  // namespace quorbel
