#include "async/Allocator.h"

#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace quillbarrow {

bool tunablesSetFastBins(std::string_view tunables)
{
    constexpr std::string_view fastBins = "glibc.malloc.mxfast";
    while (!tunables.empty()) {
        const std::size_t end = tunables.find(':');
        const std::string_view entry = tunables.substr(0, end);
        // glibc takes an entry only with a value; a bare name sets nothing.
        const std::size_t equals = entry.find('=');
        if (equals != std::string_view::npos && entry.substr(0, equals) == fastBins) {
            return true;
        }
        tunables = end == std::string_view::npos ? std::string_view() : tunables.substr(end + 1);
    }
    return false;
}

void configureAllocator()
{
#ifdef __GLIBC__
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables == nullptr || !tunablesSetFastBins(tunables)) {
        mallopt(M_MXFAST, 0);
    }
#endif
}

} // namespace quillbarrow
