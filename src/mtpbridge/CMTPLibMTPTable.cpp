#include "CMTPLibMTPTable.h"

#include "BridgeSupport.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {

void freeMemory(void* memory)
{
    std::free(memory);
}

const CMTPLibMTPTable kRealLibMTP = {
    LIBMTP_Init,
    LIBMTP_Detect_Raw_Devices,
    LIBMTP_Open_Raw_Device_Uncached,
    LIBMTP_Release_Device,
    LIBMTP_Get_Friendlyname,
    LIBMTP_Get_Modelname,
    LIBMTP_Get_Manufacturername,
    LIBMTP_Get_Serialnumber,
    LIBMTP_Get_Storage,
    LIBMTP_Get_Files_And_Folders,
    LIBMTP_Get_Filemetadata,
    LIBMTP_new_file_t,
    LIBMTP_destroy_file_t,
    LIBMTP_Create_Folder,
    LIBMTP_Delete_Object,
    LIBMTP_Set_File_Name,
    LIBMTP_Get_File_To_Handler,
    LIBMTP_Send_File_From_Handler,
    LIBMTP_Get_Errorstack,
    LIBMTP_Clear_Errorstack,
    freeMemory,
};

std::atomic<const CMTPLibMTPTable*> g_installed{&kRealLibMTP};

// The real libmtp is initialised once per process; an installed stand-in gets its own flag,
// reset whenever a table is installed.
std::mutex g_initMutex;
bool g_realInitialised = false;
bool g_installedInitialised = false;

} // namespace

namespace quillbarrow::mtpbridge {

const CMTPLibMTPTable& libmtp() noexcept
{
    return *g_installed.load(std::memory_order_acquire);
}

void ensureLibMTPInitialised() noexcept
{
    std::lock_guard lock(g_initMutex);
    const CMTPLibMTPTable* table = g_installed.load(std::memory_order_acquire);
    bool& initialised = table == &kRealLibMTP ? g_realInitialised : g_installedInitialised;
    if (!initialised) {
        table->init();
        initialised = true;
    }
}

} // namespace quillbarrow::mtpbridge

extern "C" const CMTPLibMTPTable* CMTP_DefaultLibMTPTable(void)
{
    return &kRealLibMTP;
}

extern "C" void CMTP_SetLibMTPTable(const CMTPLibMTPTable* table)
{
    std::lock_guard lock(g_initMutex);
    g_installed.store(table != nullptr ? table : &kRealLibMTP, std::memory_order_release);
    g_installedInitialised = false;
}
