#pragma once

#include <string_view>

namespace quillbarrow {

// Whether `tunables`, the text of GLIBC_TUNABLES (`name=value` pairs separated by ':'), sets the
// size of the allocator's fast bins (`glibc.malloc.mxfast`).
bool tunablesSetFastBins(std::string_view tunables);

// Sets the allocator up as the program runs with: fast bins off, unless GLIBC_TUNABLES chose their
// size (the user's choice stands). Big listings are freed on the work pool while other threads
// allocate; with fast bins, those hundreds of thousands of small blocks wait in them until a
// thread that needs a large block merges them all, holding the lock that the window's thread
// waits for meanwhile, and leaving a big folder stalls the window for tens of milliseconds.
// Without them each block is merged as it is freed.
//
// Called first thing by the program's entry, and by every benchmark and test program that runs
// the window, before QApplication and before any thread: the setting holds for blocks freed from
// then on, so that no thread has blocks waiting in fast bins by then.
void configureAllocator();

} // namespace quillbarrow
