#pragma once

#include <QtGlobal>

namespace quillbarrow {

// Whether QEMU 7.2's usb-mtp device takes an upload of `size` bytes. It cannot take one whose data
// container (12 bytes of header, then the file) ends badly for it: it aborts (an assertion in
// usb_mtp_get_data) when the container fills its last 512-byte packet or is a multiple of 64
// bytes long, and stops answering when 1 to 11 bytes are left for the last packet. That is every
// file of 500 to 511 bytes plus a multiple of 512, and every file of 52 bytes plus a multiple of
// 64. Shared by the end-to-end tests and the benchmarks, so that neither crashes the device.
inline bool qemuTakesUploadOf(qint64 size)
{
    constexpr qint64 header = 12;
    constexpr qint64 packet = 512;
    constexpr qint64 shortPacket = 64;
    const qint64 container = size + header;
    return container % packet >= header && container % shortPacket != 0;
}

} // namespace quillbarrow
