#pragma once

#include "CMTPBridge.h"
#include "CMTPHostSystem.h"
#include "CMTPLibMTPTable.h"

#include <cstddef>
#include <mutex>

// The box behind the opaque handle.
struct CMTPDeviceHandle {
    LIBMTP_mtpdevice_t* device;
    // Whether libmtp has reported the id of an object that an upload created on this device. Until
    // then an upload with a progress callback lists its folder first, so that a cancelled one can
    // still be found by name.
    bool reportsUploadIDs = false;
};

namespace quillbarrow::mtpbridge {

// Copies at most capacity - 1 bytes of text (a null text counts as empty), cutting at that byte
// even inside a multi-byte character, and always ends the field with a NUL.
void copyText(char* destination, std::size_t capacity, const char* text) noexcept;

template <std::size_t Capacity> void copyText(char (&destination)[Capacity], const char* text) noexcept
{
    copyText(destination, Capacity, text);
}

// The fixed text of a libmtp error code; codes outside 2 to 8 get the general-failure text.
const char* fixedErrorText(int code) noexcept;

// The installed libmtp table and host system.
const CMTPLibMTPTable& libmtp() noexcept;
const CMTPHostSystem& host() noexcept;

// Calls the installed libmtp's init once, however many threads arrive together.
void ensureLibMTPInitialised() noexcept;

// Detections and raw opens touch libmtp's global USB state: they run one at a time.
std::mutex& discoveryMutex() noexcept;

} // namespace quillbarrow::mtpbridge
