#include "core/data_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_system.h"

namespace quorbel {

namespace {
// A read after a seek fetches a page; reading on where the last one ended doubles that, so
// that probing a large file stays cheap and reading it through takes few calls.
constexpr size_t kFirstFill = 4096;
constexpr size_t kLargestFill = 65536;

thread_local SharedReading* g_shared_reading = nullptr;
}  // namespace

namespace detail {
struct SharedFile {
    std::string path;
    int fd = -1;
    bool active = true;  // while its SharedReading lives: the status and the head stand
    struct stat status{};
    uint8_t head[kFirstFill];
    int64_t head_length = -1;  // not read yet

    ~SharedFile() {
        if (fd >= 0) close(fd);
    }
    // Serves a read of [offset, offset + n) from the first page when it lies there (or the
    // whole file does); -2 when it does not.
    int64_t ReadHead(uint8_t* destination, size_t n, int64_t offset) {
        if (!active || offset < 0) return -2;
        if (head_length < 0) {
            const int64_t got = quorbel::ReadAt(fd, head, sizeof head, 0);
            if (got < 0) return -2;
            head_length = got;
        }
        if (offset > head_length) return -2;
        const uint64_t available = uint64_t(head_length - offset);
        const bool whole_file = head_length < int64_t(sizeof head);
        if (n > available && !whole_file) return -2;
        const size_t take = size_t(std::min<uint64_t>(n, available));
        std::memcpy(destination, head + offset, take);
        return int64_t(take);
    }
};
}  // namespace detail

SharedReading::SharedReading(const std::string& path)
    : file_(std::make_shared<detail::SharedFile>()), outer_(g_shared_reading) {
    file_->path = path;
    g_shared_reading = this;
}

SharedReading::~SharedReading() {
    file_->active = false;
    g_shared_reading = outer_;
}

bool DataStream::OpenFile(const std::string& path, bool for_reading) {
    Close();
    if (for_reading) {
        if (g_shared_reading && g_shared_reading->file_->path == path) {
            detail::SharedFile& shared = *g_shared_reading->file_;
            if (shared.fd < 0) {
                const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0) return false;
                if (fstat(fd, &shared.status) != 0) {
                    close(fd);
                    return false;
                }
                shared.fd = fd;
            }
            shared_ = g_shared_reading->file_;
            fd_ = shared.fd;
        } else {
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return false;
            fd_ = fd;
        }
    } else {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        file_ = f;
    }
    reading_ = for_reading;
    bit_position_ = for_reading ? -1 : 7;
    name_ = path;
    return true;
}

bool DataStream::AttachMemory(const uint8_t* block, size_t size) {
    Close();
    memory_mode_ = true;
    reading_ = true;
    // The block stays the caller's; a reading stream never writes through the pointer.
    memory_ = const_cast<uint8_t*>(block);
    capacity_ = size;
    owns_block_ = false;
    bit_position_ = -1;
    name_ = "Memory";
    return true;
}

bool DataStream::CreateMemory(size_t initial_size) {
    Close();
    uint8_t* block = nullptr;
    if (initial_size > 0) {
        block = static_cast<uint8_t*>(std::calloc(initial_size, 1));
        if (!block) return false;
    }
    memory_mode_ = true;
    reading_ = false;
    memory_ = block;
    capacity_ = initial_size;
    owns_block_ = true;
    bit_position_ = 7;
    name_ = "Memory";
    return true;
}

void DataStream::EndBitGroup() {
    if (!reading_ && bit_position_ != 7) {
        uint8_t byte = bit_byte_;
        bit_position_ = 7;  // keeps Write from flushing again
        bit_byte_ = 0;
        Write(&byte, 1);
    }
    bit_position_ = reading_ ? -1 : 7;
    bit_byte_ = 0;
}

size_t DataStream::Read(void* destination, size_t n) {
    if (bit_position_ != -1 && reading_) EndBitGroup();
    size_t count = 0;
    if (memory_mode_) {
        size_t remain = position_ < capacity_ ? capacity_ - position_ : 0;
        count = n < remain ? n : remain;
        if (count) std::memcpy(destination, memory_ + position_, count);
        if (n > remain) end_of_data_ = true;
        position_ += count;
    } else if (fd_ >= 0) {
        count = ReadFromFile(static_cast<uint8_t*>(destination), n);
    } else if (file_) {
        count = std::fread(destination, 1, n, file_);
    }
    last_count_ = count;
    running_count_ += count;
    return count;
}

size_t DataStream::ReadFromFile(uint8_t* destination, size_t n) {
    size_t done = 0;
    while (done < n) {
        const int64_t buffer_end = buffer_start_ + int64_t(buffer_length_);
        if (file_position_ >= buffer_start_ && file_position_ < buffer_end) {
            const size_t offset = size_t(file_position_ - buffer_start_);
            const size_t take = std::min(n - done, buffer_length_ - offset);
            std::memcpy(destination + done, buffer_ + offset, take);
            done += take;
            file_position_ += int64_t(take);
            continue;
        }
        next_fill_ = file_position_ == buffer_end && next_fill_ ? std::min(next_fill_ * 2, kLargestFill)
                                                                : kFirstFill;
        const size_t wanted = n - done;
        // A read at least as large as a fill goes straight to the caller; the empty buffer
        // then ends where it did, so that the next read counts as reading on.
        const bool direct = wanted >= next_fill_;
        if (!direct && !buffer_) {
            buffer_ = static_cast<uint8_t*>(std::malloc(kLargestFill));
            if (!buffer_) {
                read_error_ = true;
                break;
            }
        }
        const int64_t got = direct ? ReadAt(destination + done, wanted, file_position_)
                                   : ReadAt(buffer_, next_fill_, file_position_);
        if (got < 0) {
            if (errno == EINTR) continue;
            read_error_ = true;
            break;
        }
        if (got == 0) {
            file_end_ = true;
            break;
        }
        if (direct) {
            done += size_t(got);
            file_position_ += got;
            buffer_start_ = file_position_;
            buffer_length_ = 0;
        } else {
            buffer_start_ = file_position_;
            buffer_length_ = size_t(got);
        }
    }
    return done;
}

int64_t DataStream::ReadAt(uint8_t* destination, size_t n, int64_t offset) {
    if (shared_) {
        const int64_t got = shared_->ReadHead(destination, n, offset);
        if (got != -2) return got;
    }
    return pread(fd_, destination, n, off_t(offset));
}

int64_t DataStream::FileLength() const {
    struct stat st{};
    return FileStatus(st) ? int64_t(st.st_size) : -1;
}

bool DataStream::FileStatus(struct stat& st) const {
    if (fd_ < 0) return false;
    if (shared_ && shared_->active) {
        st = shared_->status;
        return true;
    }
    return fstat(fd_, &st) == 0;
}

size_t DataStream::Write(const void* source, size_t n) {
    if (!reading_ && bit_position_ != 7) EndBitGroup();
    if (memory_mode_) {
        if (reading_) return 0;
        if (position_ + n < position_) return 0;
        if (position_ + n > capacity_) {
            // Grow by whole 1 MB steps in one reallocation, so that a failure leaves the
            // stream exactly as it was.
            size_t steps = (position_ + n - capacity_ + kGrowStep - 1) / kGrowStep;
            if (!GrowBy(steps)) return 0;
        }
        if (n) std::memcpy(memory_ + position_, source, n);
        position_ += n;
        if (position_ > written_end_) written_end_ = position_;
        running_count_ += n;
        return n;
    }
    if (!file_) return 0;
    size_t count = std::fwrite(source, 1, n, file_);
    running_count_ += count;
    return count;
}

bool DataStream::Grow() { return GrowBy(1); }

bool DataStream::GrowBy(size_t steps) {
    if (!memory_mode_ || !owns_block_) return false;
    if (steps > (SIZE_MAX - capacity_) / kGrowStep) return false;
    size_t new_capacity = capacity_ + steps * kGrowStep;
    auto* block = static_cast<uint8_t*>(std::realloc(memory_, new_capacity));
    if (!block) return false;
    std::memset(block + capacity_, 0, new_capacity - capacity_);
    memory_ = block;
    capacity_ = new_capacity;
    return true;
}

int64_t DataStream::Seek(int64_t offset, Origin origin) {
    EndBitGroup();
    if (memory_mode_) {
        int64_t base = origin == Origin::Start ? 0
                       : origin == Origin::Current ? int64_t(position_)
                                                   : int64_t(capacity_);
        int64_t target = base + offset;
        if (target < 0) return -1;
        end_of_data_ = false;
        // The end itself is a position like any other (a file seeks there too): an empty
        // member can sit at the very end of the data. Only a seek beyond it is clamped.
        if (uint64_t(target) > capacity_ && reading_) {
            end_of_data_ = true;
            target = capacity_ ? int64_t(capacity_) - 1 : 0;
        }
        position_ = size_t(target);
        return target;
    }
    if (fd_ >= 0) {
        const int64_t base = origin == Origin::Start ? 0
                             : origin == Origin::Current ? file_position_
                                                         : FileLength();
        if (base < 0 || (offset > 0 && base > INT64_MAX - offset)) return -1;
        const int64_t target = base + offset;
        if (target < 0) return -1;
        file_position_ = target;
        file_end_ = false;
        return target;
    }
    if (!file_) return -1;
    int whence = origin == Origin::Start ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
    if (fseeko(file_, off_t(offset), whence) != 0) return -1;
    return ftello(file_);
}

int64_t DataStream::Tell() const {
    if (memory_mode_) return int64_t(position_);
    if (fd_ >= 0) return file_position_;
    if (!file_) return -1;
    return ftello(file_);
}

void DataStream::Rewind() {
    if (memory_mode_) {
        position_ = 0;
    } else if (fd_ >= 0) {
        file_position_ = 0;
        file_end_ = false;
        read_error_ = false;
    } else if (file_) {
        std::rewind(file_);
    }
    end_of_data_ = false;
    bit_byte_ = 0;
    bit_position_ = reading_ ? -1 : 7;
}

int64_t DataStream::Size() {
    if (memory_mode_) return int64_t(capacity_);
    if (fd_ >= 0) return FileLength();
    if (!file_) return -1;
    off_t here = ftello(file_);
    if (fseeko(file_, 0, SEEK_END) != 0) return -1;
    off_t size = ftello(file_);
    fseeko(file_, here, SEEK_SET);
    return size;
}

bool DataStream::AtEnd() const {
    if (memory_mode_) return end_of_data_;
    if (fd_ >= 0) return file_end_;
    return file_ && std::feof(file_);
}

bool DataStream::Flush(bool durable) {
    if (fd_ >= 0) return !durable || fsync(fd_) == 0;
    if (!file_) return true;
    if (std::fflush(file_) != 0) return false;
    return !durable || fsync(fileno(file_)) == 0;
}

int DataStream::ReadBit() {
    if (bit_position_ < 0) {
        uint8_t byte = 0;
        size_t got;
        if (memory_mode_) {
            got = position_ < capacity_ ? 1 : 0;
            if (got) byte = memory_[position_++];
            else end_of_data_ = true;
        } else if (fd_ >= 0) {
            got = ReadFromFile(&byte, 1);
        } else {
            got = file_ ? std::fread(&byte, 1, 1, file_) : 0;
        }
        if (!got) return -1;
        bit_byte_ = byte;
        bit_position_ = 7;
    }
    return (bit_byte_ >> bit_position_--) & 1;
}

bool DataStream::WriteBit(int bit) {
    if (reading_) return false;
    if (bit) bit_byte_ |= uint8_t(1u << bit_position_);
    if (--bit_position_ < 0) {
        uint8_t byte = bit_byte_;
        bit_byte_ = 0;
        bit_position_ = 7;
        return Write(&byte, 1) == 1;
    }
    return true;
}

void DataStream::Close() {
    if (!reading_ && bit_position_ != 7 && IsOpen()) EndBitGroup();
    if (memory_mode_ && owns_block_ && memory_) {
        // Members unpacked into memory may be secret (decrypted data): wipe before freeing.
        // Only what was written can hold a secret; the rest is still the zeroed block, and
        // touching it would fault in every page of a large, mostly unused block.
        volatile uint8_t* p = memory_;
        for (size_t i = 0; i < written_end_ && i < capacity_; ++i) p[i] = 0;
        std::free(memory_);
    }
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (fd_ >= 0 && !shared_) close(fd_);
    fd_ = -1;
    shared_.reset();
    std::free(buffer_);
    buffer_ = nullptr;
    file_position_ = 0;
    buffer_start_ = 0;
    buffer_length_ = 0;
    next_fill_ = 0;
    file_end_ = false;
    read_error_ = false;
    memory_ = nullptr;
    capacity_ = 0;
    position_ = 0;
    written_end_ = 0;
    last_count_ = 0;
    running_count_ = 0;
    memory_mode_ = false;
    owns_block_ = false;
    end_of_data_ = false;
    bit_byte_ = 0;
    bit_position_ = -1;
    reading_ = true;
    name_.clear();
}

}  // namespace quorbel
