#pragma once

#include <string_view>

namespace quillbarrow {

// Whether `tunables`, the text of GLIBC_TUNABLES (`name=value` pairs separated by ':'), sets the
// allocator's tunable `name` (such as "glibc.malloc.mxfast").
bool tunablesSet(std::string_view tunables, std::string_view name);

// Sets the allocator up as the program runs with, each setting left as the user chose it where
// GLIBC_TUNABLES sets it, or the older variable glibc reads for it (MALLOC_MMAP_THRESHOLD_; there
// is none for the fast bins). Big listings are made on one thread and freed on the work pool while
// other threads allocate:
// - No fast bins (`glibc.malloc.mxfast`). With them, the hundreds of thousands of small blocks of
//   a listing wait in them until a thread that needs a large block merges them all, holding the
//   lock that the window's thread waits for meanwhile: leaving a big folder stalled the window for
//   tens of milliseconds. Without them each block is merged as it is freed.
// - Blocks of 128 KiB and more mapped apart (`glibc.malloc.mmap_threshold`, glibc's own starting
//   value, held). glibc raises that threshold to the largest mapped block freed, so after the
//   first big listing every later array of items came from the heap of the thread that made it,
//   which kept the pages once the pool freed it: each thread's heap held the most its listings
//   ever took. Mapped apart, an array's pages go back when it is freed.
//
// Called first thing by the program's entry, and likewise by every benchmark, the snapshot
// program and the test programs, before QApplication and before any thread: the settings hold for
// blocks allocated and freed from then on, so that no thread holds blocks made under others.
void configureAllocator();

} // namespace quillbarrow
