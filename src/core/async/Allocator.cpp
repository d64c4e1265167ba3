#include "async/Allocator.h"

#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace quillbarrow {

namespace {

// The allocator's own starting threshold for mapping a block apart.
constexpr int mappedApartFrom = 128 * 1024;

} // namespace

bool tunablesSet(std::string_view tunables, std::string_view name)
{
    while (!tunables.empty()) {
        const std::size_t end = tunables.find(':');
        const std::string_view entry = tunables.substr(0, end);
        // glibc takes an entry only with a value; a bare name sets nothing.
        const std::size_t equals = entry.find('=');
        if (equals != std::string_view::npos && entry.substr(0, equals) == name) {
            return true;
        }
        tunables = end == std::string_view::npos ? std::string_view() : tunables.substr(end + 1);
    }
    return false;
}

void configureAllocator()
{
#ifdef __GLIBC__
    const char* set = std::getenv("GLIBC_TUNABLES");
    const std::string_view tunables = set != nullptr ? set : "";
    if (!tunablesSet(tunables, "glibc.malloc.mxfast")) {
        mallopt(M_MXFAST, 0);
    }
    if (!tunablesSet(tunables, "glibc.malloc.mmap_threshold")) {
        mallopt(M_MMAP_THRESHOLD, mappedApartFrom);
    }
#endif
}

} // namespace quillbarrow
