#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace chm {

// The temporary space a conversion of the file takes at most, from its headers: the float
// sample stores (4 bytes per sample of each channel: about 8 bytes per stereo frame, 1.3 GB
// for an hour at 44.1 kHz) and the temporary mono WAV that the encoders read. 0 when the
// headers tell nothing.
uint64_t TemporaryBytesFor(const std::string& path);

// Free bytes in the temporary folder for this user; 0 when it cannot be told.
uint64_t TemporaryFolderFreeBytes();

// How many files may convert at once: `processors`, lowered so that that many of the largest
// conversions' temporary files fit into `free_bytes`; never below 1. With `free_bytes` 0
// (unknown) the processors are the answer.
int JobsThatFit(int processors, uint64_t largest_bytes, uint64_t free_bytes);

// The largest of the files' temporary needs, probing the largest file of each type only (the
// files of a type take room in proportion to their size, near enough).
uint64_t LargestTemporaryBytes(const std::vector<std::string>& files);

}  // namespace chm
