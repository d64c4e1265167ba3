#include "BridgeSupport.h"

#include <cstring>

namespace quillbarrow::mtpbridge {

namespace {

const char* const kGeneralFailureText = "libmtp reported a general failure.";

// Indexed by code minus 2.
const char* const kFixedErrorTexts[] = {
    "The device returned an invalid MTP/PTP response.",
    "The USB interface could not be claimed. Another process may be using the phone, or macOS denied "
    "access to the interface.",
    "libmtp could not allocate memory.",
    "No MTP device is attached.",
    "The device storage is full.",
    "The MTP device could not be opened. Unlock the phone, choose File Transfer / MTP mode, and close "
    "other apps that may be using the device.",
    "The MTP operation was cancelled.",
};

} // namespace

void copyText(char* destination, std::size_t capacity, const char* text) noexcept
{
    if (destination == nullptr || capacity == 0) {
        return;
    }
    std::size_t length = 0;
    if (text != nullptr) {
        const std::size_t limit = capacity - 1;
        while (length < limit && text[length] != '\0') {
            ++length;
        }
        std::memcpy(destination, text, length);
    }
    destination[length] = '\0';
}

const char* fixedErrorText(int code) noexcept
{
    if (code < 2 || code > 8) {
        return kGeneralFailureText;
    }
    return kFixedErrorTexts[code - 2];
}

std::mutex& discoveryMutex() noexcept
{
    static std::mutex mutex;
    return mutex;
}

} // namespace quillbarrow::mtpbridge
