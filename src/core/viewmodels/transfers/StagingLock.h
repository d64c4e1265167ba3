#pragma once

#include <QString>

namespace quillbarrow {

class LocalFolder;

// The lock a running transfer holds on the hidden item it writes before the item takes its final
// name (a download's ".partial" file, a local copy's ".copying" folder), so that no sweep removes
// it. It ends with the object, and with the process: an item left by a transfer killed with its
// process is held by nobody, and the next transfer into that folder removes it.
class StagingLock {
public:
    StagingLock() = default;
    explicit StagingLock(int descriptor, int error = 0) : m_descriptor(descriptor), m_error(error) {}
    StagingLock(StagingLock&& other) noexcept;
    StagingLock& operator=(StagingLock&& other) noexcept;
    StagingLock(const StagingLock&) = delete;
    StagingLock& operator=(const StagingLock&) = delete;
    ~StagingLock();

    bool isHeld() const { return m_descriptor >= 0; }
    int descriptor() const { return m_descriptor; }
    // Why the item could not be made, when it was not: the system's error number.
    int error() const { return m_error; }

    // Creates the file `name` in `folder` (never over anything, never through a link) and locks it.
    static StagingLock file(const LocalFolder& folder, const QString& name);
    // Removes the staging items in `folder` that no transfer holds: ".partial" files and
    // ".copying" files and folders of the hidden staging names only; links are never followed.
    static void removeStale(const LocalFolder& folder);

private:
    int m_descriptor = -1;
    int m_error = 0;
};

} // namespace quillbarrow
