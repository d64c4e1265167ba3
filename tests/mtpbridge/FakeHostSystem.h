#pragma once

#include "CMTPHostSystem.h"
#include "Trace.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillbarrow::fakes {

struct FakeProcess {
    int32_t pid = 0;
    uint32_t uid = 0;
    std::optional<std::string> path; // none: the path cannot be read
    bool survivesKill = false;       // a helper that the system keeps restarting
};

// A process table, current user, signal delivery and clock for the helper suppression. Kills and
// sleeps go to the trace ("kill <pid>", "sleep <ms>"); a killed process leaves the table unless it
// survives kills. While alive it is the bridge's installed host.
class FakeHostSystem {
  public:
    explicit FakeHostSystem(Trace* trace, uint32_t currentUid = 501);
    ~FakeHostSystem();
    FakeHostSystem(const FakeHostSystem&) = delete;
    FakeHostSystem& operator=(const FakeHostSystem&) = delete;

    void addProcess(FakeProcess process);
    void setTableReadable(bool readable);
    // Every process leaves the table after this many more process-table reads (for helpers that
    // go away on their own while the throttle checks for them).
    void vanishAfterReads(int reads);

    std::vector<int32_t> killedPids() const;
    std::vector<int32_t> runningPids() const;
    uint64_t sleptMilliseconds() const;

  private:
    struct Hooks;
    friend struct Hooks;

    Trace* m_trace;
    uint32_t m_currentUid;
    bool m_tableReadable = true;
    int m_readsUntilVanish = -1;
    std::vector<FakeProcess> m_processes;
    std::vector<int32_t> m_killed;
    uint64_t m_slept = 0;
};

} // namespace quillbarrow::fakes
