#pragma once

#include <QString>
#include <optional>

namespace quillbarrow {

// Where a download is written while it runs, and how it takes its final name. A download goes to
// a hidden name beside its destination and is moved to the destination only once complete, so a
// partial file is never seen under the final name, and an item being replaced stays until the new
// file is in place.
class DownloadStaging {
public:
    // The lock a running download holds on its staging file, so that no sweep removes it; it
    // ends with the object, and with the process, so a download killed with the process leaves
    // a file nobody holds.
    class Hold {
    public:
        Hold() = default;
        explicit Hold(int descriptor, int error = 0) : m_descriptor(descriptor), m_error(error) {}
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold();
        bool isHeld() const { return m_descriptor >= 0; }
        int descriptor() const { return m_descriptor; }
        // Why the file could not be made, when it was not: the system's error number.
        int error() const { return m_error; }

    private:
        int m_descriptor = -1;
        int m_error = 0;
    };

    // A new hidden path in the destination's folder (never listed by the local browser, and on the
    // same file system, so the final move is a rename).
    static QString stagingPath(const QString& destination);
    // Moves the complete download at `staging` to `destination`. Without `replace`, an item that
    // appeared at the destination meanwhile is left alone and the move fails. With it, the old
    // item (a folder too) is moved aside, put back when the move fails, and deleted once the new
    // file is in place. On failure the staged file is removed and a description is returned; it
    // names where the old item is when it could not be put back.
    static std::optional<QString> place(const QString& staging, const QString& destination, bool replace);
    // Creates the staging file (never over anything) and locks it. Not held when it cannot be
    // made: the download then meets the same failure and reports it.
    static Hold hold(const QString& staging);
    // Removes the staging files in `folder` that no download holds: those a download killed with
    // its process left. Only regular files of a staging name are touched; links are not followed.
    // Blocking: reads the folder.
    static void removeStale(const QString& folder);
};

} // namespace quillbarrow
