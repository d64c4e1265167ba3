#pragma once

namespace quillbarrow {

// Options for opening a device session. No backend reads the flag today: the libmtp backend
// always opens with helper suppression.
struct OpenSessionOptions {
    explicit OpenSessionOptions(bool allowHelperSuppression) : allowHelperSuppression(allowHelperSuppression) {}

    bool allowHelperSuppression;

    friend bool operator==(const OpenSessionOptions&, const OpenSessionOptions&) = default;
};

} // namespace quillbarrow
