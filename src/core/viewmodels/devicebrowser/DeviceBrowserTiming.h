#pragma once

#include "platform/SteadyWaitClock.h"
#include "platform/WaitClock.h"

#include <chrono>
#include <memory>

namespace quillbarrow {

// Every limit and pause of the device browser, in one place so that tests can run them in
// milliseconds. The defaults are the application's.
struct DeviceBrowserTiming {
    // Opening a device session.
    std::chrono::milliseconds openSessionLimit{25'000};
    // Reading the storages of a new session.
    std::chrono::milliseconds storagesLimit{8'000};
    // One folder listing while no transfer is active, and the first root listing of a connection.
    std::chrono::milliseconds listingLimit{12'000};
    // The pause after a failed connection attempt is this times the attempt number.
    std::chrono::milliseconds retryPauseUnit{600};
    // The delay before the automatic folder-size pass after a page is shown.
    std::chrono::milliseconds automaticFolderSizeDelay{350};
    // How many levels below a measured folder its size walk goes before it gives up.
    int maximumFolderDepth = 256;
    // How often a reload asks the transfer queue whether it is idle yet.
    std::chrono::milliseconds reloadPollInterval{100};
    // While folders go on being measured, how often at most the rows of a big page take the new
    // sizes (each time the work pool fills them into a copy of the rows).
    std::chrono::milliseconds measuredRowsInterval{100};
    // Takes the pauses and polls above (the time limits run on precise timers of their own).
    std::shared_ptr<WaitClock> clock = std::make_shared<SteadyWaitClock>();
};

} // namespace quillbarrow
