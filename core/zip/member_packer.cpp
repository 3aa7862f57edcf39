#include "core/zip/member_packer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/zip/deflate.h"

namespace quorbel::zip {

namespace {
// How far the workers may run ahead of the writer, in files, whatever their size.
constexpr size_t kMaxAhead = 64;

bool ReadWhole(int fd, uint8_t* out, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, out + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += size_t(r);
    }
    return true;
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// The open file and its length, shared by the two steps of a job.
struct OpenFile {
    int fd = -1;
    struct stat st{};
    ~OpenFile() {
        if (fd >= 0) close(fd);
    }
    bool Open(const std::string& path) {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        return fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    }
};

PackedFile PackOpenFile(OpenFile& file, size_t room, libdeflate_compressor* compressor) {
    PackedFile out;
    out.size = uint64_t(file.st.st_size);
    out.mtime = int64_t(file.st.st_mtime);
    out.mode = uint32_t(file.st.st_mode);
    if (out.size > kStreamingThreshold) {
        out.outcome = PackedFile::Outcome::kTooLarge;
        return out;
    }
    const size_t n = size_t(out.size);
    MemoryBlock raw = MemoryBlock::Allocate(room + n);
    if (!raw) {
        out.outcome = PackedFile::Outcome::kOutOfMemory;
        return out;
    }
    if (!ReadWhole(file.fd, raw.data.get() + room, n)) {
        out.outcome = PackedFile::Outcome::kCannotOpen;
        return out;
    }
    raw.size = room + n;
    out.crc = Crc32(0, raw.data.get() + room, n);
    out.outcome = PackedFile::Outcome::kPacked;
    if (n > 0) {
        if (!compressor) {
            out.outcome = PackedFile::Outcome::kCompressError;
            return out;
        }
        // Only a result smaller than the file is worth keeping, so that is all the room given.
        MemoryBlock packed = MemoryBlock::Allocate(room + n);
        if (!packed) {
            out.outcome = PackedFile::Outcome::kOutOfMemory;
            return out;
        }
        size_t packed_size =
            libdeflate_deflate_compress(compressor, raw.data.get() + room, n, packed.data.get() + room, n);
        if (packed_size > 0 && packed_size < n) {
            packed.size = room + packed_size;
            out.data = std::move(packed);
            out.deflated = true;
            return out;
        }
    }
    out.data = std::move(raw);
    return out;
}
}  // namespace

PackedFile PackFile(const std::string& path, size_t room, libdeflate_compressor* compressor) {
    OpenFile file;
    if (!file.Open(path)) return PackedFile{};
    return PackOpenFile(file, room, compressor);
}

MemberPacker::MemberPacker(std::vector<Job> jobs, unsigned workers, uint64_t budget)
    : jobs_(std::move(jobs)), results_(jobs_.size()), budget_(budget), held_by_(jobs_.size()) {
    if (jobs_.empty()) return;
    workers = std::clamp<unsigned>(workers, 1, unsigned(std::min<size_t>(jobs_.size(), 16)));
    threads_.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

MemberPacker::~MemberPacker() {
    Stop();
    for (std::thread& t : threads_) t.join();
}

void MemberPacker::Stop() {
    std::lock_guard lock(mutex_);
    stop_ = true;
    changed_.notify_all();
}

unsigned MemberPacker::DefaultWorkers() {
    unsigned n = std::thread::hardware_concurrency();
    return std::clamp<unsigned>(n, 1, 8);
}

void MemberPacker::Work() {
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(kPackLevel));
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] {
            return stop_ || (next_job_ < jobs_.size() && next_job_ < next_take_ + kMaxAhead);
        });
        if (stop_ || next_job_ >= jobs_.size()) return;
        const size_t k = next_job_++;
        const Job& job = jobs_[k];
        lock.unlock();

        OpenFile file;
        std::optional<PackedFile> result;
        if (!file.Open(job.path)) result = PackedFile{};
        const uint64_t size = result ? 0 : uint64_t(file.st.st_size);
        const uint64_t weight = size > kStreamingThreshold ? 0 : size;

        lock.lock();
        // The file the writer waits for is always read, so a big file cannot stall the set.
        changed_.wait(lock, [&] { return stop_ || k == next_take_ || held_ + weight <= budget_; });
        if (stop_) return;
        held_ += weight;
        held_by_[k] = weight;
        lock.unlock();

        if (!result) result = PackOpenFile(file, job.room, compressor.get());

        lock.lock();
        results_[k] = std::move(result);
        changed_.notify_all();
    }
}

std::optional<PackedFile> MemberPacker::Take(size_t k, const std::function<bool()>& keep_waiting) {
    std::unique_lock lock(mutex_);
    if (k >= jobs_.size() || k != next_take_) return std::nullopt;
    while (!results_[k]) {
        if (stop_) return std::nullopt;
        if (changed_.wait_for(lock, std::chrono::milliseconds(40), [&] { return results_[k].has_value(); }))
            break;
        lock.unlock();
        bool go_on = keep_waiting();
        lock.lock();
        if (!go_on) {
            stop_ = true;
            changed_.notify_all();
            return std::nullopt;
        }
    }
    std::optional<PackedFile> out = std::move(results_[k]);
    results_[k].reset();
    held_ -= held_by_[k];
    held_by_[k] = 0;
    next_take_ = k + 1;
    changed_.notify_all();
    return out;
}

}  // namespace quorbel::zip
