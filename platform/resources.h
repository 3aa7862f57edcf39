// Byte blobs carried inside the executable (the resources of type "ZIP", "JPEG", "TGA"), looked
// up by type and id. tools/embed_resources.py writes the blobs scrambled into a generated source
// that registers them here, so that the program file does not show plain archives to a scanner
// or to an archiver looking for ZIP records inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorbel {

// One row of a generated table: the blob stays where the compiler put it (static storage), in
// scrambled form.
struct EmbeddedResource {
    const char* type;
    int id;
    const uint8_t* data;
    size_t size;
};

// Registers a generated table; called while static objects are initialised. A later
// registration of the same type and id replaces the earlier one. Returns true (so the generated
// source can keep the call in a constant).
bool RegisterEmbeddedResources(const EmbeddedResource* table, size_t count);

// Registers a copy of plain (unscrambled) bytes under type and id, replacing any earlier one.
void AddResource(const std::string& type, int id, std::vector<uint8_t> plain);

// The unscrambled bytes of a resource; none when no resource of that type and id is registered.
// Types compare as written ("ZIP" is not "zip").
std::optional<std::vector<uint8_t>> LoadResource(const std::string& type, int id);

// The scrambling is its own inverse: XOR with a keystream that depends on type and id only, so a
// blob registered under another id does not come out as plain bytes. The generator implements
// the same keystream; keep the two in step.
void ScrambleResource(const std::string& type, int id, uint8_t* data, size_t size);

}  // namespace quorbel
