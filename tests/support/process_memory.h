#pragma once
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace chm::test {

// A field of this process's memory status ("VmRSS:", "VmHWM:"), in bytes; -1 when missing.
inline int64_t MemoryStatus(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atoll(line.c_str() + field.size()) * 1024;
    }
    return -1;
}

// Starts the peak of resident memory ("VmHWM") again from what is resident now.
inline bool ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

}  // namespace chm::test
