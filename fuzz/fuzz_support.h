// Shared set-up of the fuzz targets: every target runs with private settings, temp and runtime
// folders, so nothing it does reaches the user's files, and it is quiet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorbel::fuzz {

// Makes the private folders on the first call and points the environment at them; returns the
// scratch folder a target may write into.
const std::string& Scratch();

// Writes bytes to a file, replacing it; false on failure.
bool WriteBytes(const std::string& path, const uint8_t* data, size_t size);

// Removes everything below a folder, keeping the folder.
void EmptyFolder(const std::string& folder);

}  // namespace quorbel::fuzz

namespace quorbel {
class ArchiveHandler;
}

namespace quorbel::fuzz {

// What a person does with an archive once it is open: every text the list, the statistics and
// the exports show, then the Test command without a password and with a wrong one.
void ExerciseOpenArchive(ArchiveHandler& handler);

// Reads the bytes as an archive from memory with `handler`, then exercises it.
void OpenAndExercise(ArchiveHandler& handler, const uint8_t* data, size_t size,
                     const std::string& name);

}  // namespace quorbel::fuzz
