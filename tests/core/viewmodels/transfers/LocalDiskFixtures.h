#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <sys/types.h>

namespace quillbarrow::testing {

// Runs `work` in a child process, which must end by calling killedNow() where the program is to be
// killed: as in a program killed in the middle of a transfer, no destructor runs, so its locks end
// with the process and its notes stay in the staging record. True when the child ended with
// killedNow(true).
bool inKilledProgram(const std::function<void()>& work);
// Ends the child process of inKilledProgram at once; `ready` says whether it made what it was to.
[[noreturn]] void killedNow(bool ready);

// A small file system (tmpfs) mounted at a folder for as long as the object lives, for what only a
// real disk shows: one that is full, one mounted inside a folder. Mounting needs root; elsewhere
// the object is not mounted and whyNot() says why (for GTEST_SKIP).
class ScratchDisk {
public:
    ScratchDisk(const QString& folder, qint64 bytes);
    ~ScratchDisk();
    ScratchDisk(const ScratchDisk&) = delete;
    ScratchDisk& operator=(const ScratchDisk&) = delete;

    bool isMounted() const { return m_mounted; }
    const QString& whyNot() const { return m_whyNot; }
    // The bytes free on it now.
    qint64 freeBytes() const;

private:
    QString m_folder;
    bool m_mounted = false;
    QString m_whyNot;
};

// The paths this program holds open on hidden staging items (".quillbarrow-…"), removed or not,
// as the system lists its open descriptors.
QStringList openStagingItems();

// Sets the process's umask for as long as it lives, then puts the one before back.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask);
    ~UmaskScope();
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    mode_t m_before;
};

} // namespace quillbarrow::testing
