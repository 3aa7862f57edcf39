// Reading and deflating the files of new members ahead of the writer, on worker threads. The
// writer takes the results strictly in order, so the archive is the same whatever the number
// of workers; only the bytes held in memory at once are bounded.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/archive_handler.h"

struct libdeflate_compressor;

namespace quorbel::zip {

// libdeflate's level for new members: closest to zlib's default level in size, still faster.
inline constexpr int kPackLevel = 7;

struct PackedFile {
    enum class Outcome { kPacked, kCannotOpen, kOutOfMemory, kCompressError, kTooLarge };
    Outcome outcome = Outcome::kCannotOpen;
    // `room` bytes left free in front (for an encryption header), then the deflated data when
    // `deflated`, else the file's own bytes. data.size counts the room.
    MemoryBlock data;
    bool deflated = false;
    uint32_t crc = 0;
    uint64_t size = 0;  // the file's length
    int64_t mtime = 0;
    uint32_t mode = 0;
};

// One file read whole and deflated when that makes it smaller. A file above
// kStreamingThreshold is not read: the outcome is kTooLarge and the caller streams it.
// Safe on any thread that owns its `compressor`.
PackedFile PackFile(const std::string& path, size_t room, libdeflate_compressor* compressor);

class MemberPacker {
public:
    struct Job {
        std::string path;
        size_t room = 0;
    };

    // Starts `workers` threads (at least one) on `jobs`; at most `budget` bytes of files are
    // held at once, except that the file the writer waits for is always read.
    MemberPacker(std::vector<Job> jobs, unsigned workers, uint64_t budget);
    ~MemberPacker();
    MemberPacker(const MemberPacker&) = delete;
    MemberPacker& operator=(const MemberPacker&) = delete;

    // The result of job `k`, taken in order 0, 1, 2, ...; while it is not ready `keep_waiting`
    // is called about every 40 ms and stops the wait (and the workers) by returning false.
    std::optional<PackedFile> Take(size_t k, const std::function<bool()>& keep_waiting);

    // Workers finish the file in hand and quit; results not taken are dropped.
    void Stop();

    // Worker threads for this machine.
    static unsigned DefaultWorkers();

private:
    void Work();

    std::vector<Job> jobs_;
    std::vector<std::optional<PackedFile>> results_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_job_ = 0;   // first job no worker has taken
    size_t next_take_ = 0;  // the job the writer waits for
    uint64_t budget_;
    uint64_t held_ = 0;     // bytes of files being packed or waiting to be taken
    std::vector<uint64_t> held_by_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace quorbel::zip
