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
    // Each setting by its tunable's name and, where glibc also reads one, the older environment
    // variable that sets it (any value of it counts, an empty one too: glibc takes that as 0).
    // glibc reads no older variable for the fast bins: a MALLOC_MXFAST_ sets nothing.
    struct Setting {
        int option;
        int value;
        std::string_view tunable;
        const char* variable;
    };
    const Setting settings[] = {
        {M_MXFAST, 0, "glibc.malloc.mxfast", nullptr},
        {M_MMAP_THRESHOLD, mappedApartFrom, "glibc.malloc.mmap_threshold", "MALLOC_MMAP_THRESHOLD_"},
    };
    const char* set = std::getenv("GLIBC_TUNABLES");
    const std::string_view tunables = set != nullptr ? set : "";
    for (const Setting& setting : settings) {
        if (!tunablesSet(tunables, setting.tunable) &&
            (setting.variable == nullptr || std::getenv(setting.variable) == nullptr)) {
            mallopt(setting.option, setting.value);
        }
    }
#endif
}

} // namespace quillbarrow
