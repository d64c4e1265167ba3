#pragma once

namespace quillbarrow::bench {

// The process's memory as the allocator and the kernel count it, in MiB.
struct MemoryNow {
    // Blocks the allocator has handed out and not taken back, in every arena and mapped apart.
    double heapMiB = 0;
    // Pages of the process in memory.
    double residentMiB = 0;
};

MemoryNow memoryNow();
// Starts the peak of resident memory afresh from what is resident now.
void resetPeakResident();
// The most memory the process has had resident since the last reset (or its start).
double peakResidentMiB();

} // namespace quillbarrow::bench
