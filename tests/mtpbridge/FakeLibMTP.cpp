#include "FakeLibMTP.h"

#include "FakeHostSystem.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace quillbarrow::fakes {

namespace {

FakeLibMTP* s_active = nullptr;

char* duplicate(const std::optional<std::string>& text)
{
    return text ? strdup(text->c_str()) : nullptr;
}

} // namespace

struct FakeLibMTP::Hooks {
    static FakeLibMTP& fake() { return *s_active; }

    static void init() { ++fake().m_initCount; }

    static LIBMTP_error_number_t detect(LIBMTP_raw_device_t** devices, int* count)
    {
        FakeLibMTP& f = fake();
        FakeDetection answer;
        {
            std::lock_guard lock(f.m_mutex);
            ++f.m_detectionCount;
            answer =
                FakeDetection{f.m_rawDevices.empty() ? LIBMTP_ERROR_NO_DEVICE_ATTACHED : 0, f.m_rawDevices};
            if (!f.m_detections.empty()) {
                answer = f.m_detections.front();
                f.m_detections.pop_front();
            }
        }
        if (f.m_trace != nullptr) {
            f.m_trace->add("detect");
        }
        if (answer.status != 0 || answer.devices.empty()) {
            *devices = nullptr;
            *count = 0;
            return static_cast<LIBMTP_error_number_t>(answer.status);
        }
        auto* array = static_cast<LIBMTP_raw_device_t*>(
            f.track(std::calloc(answer.devices.size(), sizeof(LIBMTP_raw_device_t))));
        // Vendor and product names point into libmtp's static device table: keep them alive here.
        static std::mutex namesMutex;
        static std::set<std::string> names;
        std::lock_guard namesLock(namesMutex);
        for (std::size_t i = 0; i < answer.devices.size(); ++i) {
            const FakeRawDevice& device = answer.devices[i];
            array[i].device_entry.vendor_id = device.vendorId;
            array[i].device_entry.product_id = device.productId;
            array[i].device_entry.vendor =
                device.vendor ? const_cast<char*>(names.insert(*device.vendor).first->c_str()) : nullptr;
            array[i].device_entry.product =
                device.product ? const_cast<char*>(names.insert(*device.product).first->c_str()) : nullptr;
            array[i].bus_location = device.busLocation;
            array[i].devnum = device.devnum;
        }
        *devices = array;
        *count = static_cast<int>(answer.devices.size());
        return LIBMTP_ERROR_NONE;
    }

    static LIBMTP_mtpdevice_t* open(LIBMTP_raw_device_t* raw)
    {
        FakeLibMTP& f = fake();
        std::lock_guard lock(f.m_mutex);
        ++f.m_openCount;
        if (f.m_trace != nullptr) {
            f.m_trace->add("open " + std::to_string(raw->bus_location) + "/" + std::to_string(raw->devnum));
        }
        if (f.m_refusedOpens != 0) {
            if (f.m_refusedOpens > 0) {
                --f.m_refusedOpens;
            }
            return nullptr;
        }
        int fd = -1;
        if (f.m_usbHost != nullptr) {
            fd = f.m_usbHost->openUsbDevice(raw->bus_location, raw->devnum);
            if (!f.m_usbHost->claimUsbInterface(fd, 0)) {
                return nullptr;
            }
            if (f.m_opensFailingAfterClaim > 0) {
                --f.m_opensFailingAfterClaim;
                return nullptr;
            }
        }
        auto* device = static_cast<LIBMTP_mtpdevice_t*>(std::calloc(1, sizeof(LIBMTP_mtpdevice_t)));
        f.m_devices.insert(device);
        if (fd >= 0) {
            f.m_deviceDescriptors[device] = fd;
        }
        return device;
    }

    static void release(LIBMTP_mtpdevice_t* device)
    {
        FakeLibMTP& f = fake();
        std::lock_guard lock(f.m_mutex);
        if (f.m_devices.erase(device) == 0) {
            ++f.m_badReleases;
            return;
        }
        if (const auto descriptor = f.m_deviceDescriptors.find(device); descriptor != f.m_deviceDescriptors.end()) {
            f.m_usbHost->closeUsbDevice(descriptor->second);
            f.m_deviceDescriptors.erase(descriptor);
        }
        f.freeStorageChain(device);
        std::free(device);
    }

    static char* identity(int index)
    {
        FakeLibMTP& f = fake();
        char* text = duplicate(f.m_identity[index]);
        return text != nullptr ? static_cast<char*>(f.track(text)) : nullptr;
    }
    static char* friendly(LIBMTP_mtpdevice_t*) { return identity(0); }
    static char* model(LIBMTP_mtpdevice_t*) { return identity(1); }
    static char* manufacturer(LIBMTP_mtpdevice_t*) { return identity(2); }
    static char* serial(LIBMTP_mtpdevice_t*) { return identity(3); }

    static int storage(LIBMTP_mtpdevice_t* device, int)
    {
        FakeLibMTP& f = fake();
        f.freeStorageChain(device);
        if (f.takeFailure(FakeOperation::Storage)) {
            return -1;
        }
        LIBMTP_devicestorage_t* previous = nullptr;
        for (const FakeStorage& storage : f.m_storages) {
            auto* node = static_cast<LIBMTP_devicestorage_t*>(std::calloc(1, sizeof(LIBMTP_devicestorage_t)));
            node->id = storage.id;
            node->MaxCapacity = storage.capacity;
            node->FreeSpaceInBytes = storage.freeSpace;
            node->StorageDescription = duplicate(storage.description);
            node->VolumeIdentifier = duplicate(storage.volumeIdentifier);
            node->prev = previous;
            if (previous != nullptr) {
                previous->next = node;
            } else {
                device->storage = node;
            }
            previous = node;
        }
        return 0;
    }

    static LIBMTP_file_t* list(LIBMTP_mtpdevice_t*, uint32_t storageId, uint32_t parentId)
    {
        FakeLibMTP& f = fake();
        if (f.m_trace != nullptr) {
            f.m_trace->add("list " + std::to_string(parentId));
        }
        if (f.takeFailure(FakeOperation::Listing)) {
            return nullptr;
        }
        LIBMTP_file_t* head = nullptr;
        LIBMTP_file_t** tail = &head;
        for (const auto& [id, object] : f.m_objects) {
            if (object.storageId == storageId && object.parentId == parentId) {
                *tail = f.newFileRecord(object);
                tail = &(*tail)->next;
            }
        }
        return head;
    }

    static LIBMTP_file_t* metadata(LIBMTP_mtpdevice_t*, uint32_t id)
    {
        FakeLibMTP& f = fake();
        ++f.m_metadataRequests;
        if (f.takeFailure(FakeOperation::Metadata)) {
            return nullptr;
        }
        const auto found = f.m_objects.find(id);
        if (found == f.m_objects.end()) {
            f.stack(FakeFailure{true, "Could not get object info."});
            return nullptr;
        }
        return f.newFileRecord(found->second);
    }

    static LIBMTP_file_t* newFile()
    {
        FakeLibMTP& f = fake();
        if (f.takeFailure(FakeOperation::NewFile)) {
            return nullptr;
        }
        return static_cast<LIBMTP_file_t*>(f.track(std::calloc(1, sizeof(LIBMTP_file_t))));
    }

    static void destroyFile(LIBMTP_file_t* file)
    {
        if (file == nullptr) {
            return;
        }
        if (!fake().untrack(file)) {
            return;
        }
        std::free(file->filename);
        std::free(file);
    }

    static uint32_t createFolder(LIBMTP_mtpdevice_t*, char* name, uint32_t parentId, uint32_t storageId)
    {
        FakeLibMTP& f = fake();
        f.m_createdFolders.emplace_back(name);
        if (f.takeFailure(FakeOperation::CreateFolder)) {
            return 0;
        }
        const uint32_t id = f.m_nextObjectId++;
        f.m_objects[id] =
            FakeObject{id, parentId, storageId, std::string(name), 0, 0, LIBMTP_FILETYPE_FOLDER};
        return id;
    }

    static int deleteObject(LIBMTP_mtpdevice_t*, uint32_t id)
    {
        FakeLibMTP& f = fake();
        f.m_deleted.push_back(id);
        if (f.takeFailure(FakeOperation::Delete)) {
            return -1;
        }
        if (f.m_objects.erase(id) == 0) {
            f.stack(FakeFailure{true, "Object not found."});
            return -1;
        }
        return 0;
    }

    static int setName(LIBMTP_mtpdevice_t*, LIBMTP_file_t* file, const char* name)
    {
        FakeLibMTP& f = fake();
        if (f.takeFailure(FakeOperation::SetName)) {
            return -1;
        }
        f.m_objects[file->item_id].name = name;
        std::free(file->filename);
        file->filename = strdup(name);
        return 0;
    }

    static int download(LIBMTP_mtpdevice_t*, uint32_t id, MTPDataPutFunc put, void* priv,
                        LIBMTP_progressfunc_t callback, const void* data)
    {
        FakeLibMTP& f = fake();
        f.m_downloads.push_back(id);
        bool cancelled = false;
        f.reportProgress(callback, data, &cancelled);
        if (cancelled) {
            return f.m_transfer.statusWhenCancelled;
        }
        if (!f.m_fullDestination.empty()) {
            pointAtFullDevice(f.m_fullDestination);
            f.m_fullDestination.clear();
        }
        // Like libmtp, the bytes are handed to the sink a piece at a time; a sink that fails ends
        // the transfer with the entry libmtp 1.1.20 stacks for it.
        const auto found = f.m_objects.find(id);
        uint64_t left = f.m_transfer.delivered.value_or(found != f.m_objects.end() ? found->second.size : 0);
        std::string piece(4096, 'd');
        while (left > 0) {
            const auto length = static_cast<uint32_t>(std::min<uint64_t>(left, piece.size()));
            uint32_t taken = 0;
            if (put(nullptr, priv, length, reinterpret_cast<unsigned char*>(piece.data()), &taken) !=
                LIBMTP_HANDLER_RETURN_OK) {
                f.stack(FakeFailure{true, "LIBMTP_Get_File_From_File_Descriptor(): Cancelled transfer."});
                return -1;
            }
            left -= length;
        }
        return f.takeFailure(FakeOperation::Download) ? -1 : 0;
    }

    // Whatever descriptor of this process is open on `path` now writes to /dev/full.
    static void pointAtFullDevice(const std::string& path)
    {
        // Without either, the writes succeed and the test expecting them to fail says so.
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        DIR* descriptors = full >= 0 ? ::opendir("/proc/self/fd") : nullptr;
        while (dirent* entry = descriptors != nullptr ? ::readdir(descriptors) : nullptr) {
            char target[4096] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
            if (length > 0 && path == std::string(target, static_cast<std::size_t>(length))) {
                ::dup3(full, std::atoi(entry->d_name), O_CLOEXEC);
            }
        }
        if (descriptors != nullptr) {
            ::closedir(descriptors);
        }
        if (full >= 0) {
            ::close(full);
        }
    }

    static int upload(LIBMTP_mtpdevice_t*, MTPDataGetFunc get, void* priv, LIBMTP_file_t* file,
                      LIBMTP_progressfunc_t callback, const void* data)
    {
        FakeLibMTP& f = fake();
        // Like libmtp, the declared size is asked of the data source, a piece at a time.
        std::string content;
        bool sourceFailed = false;
        for (uint64_t left = file->filesize; left > 0 && !sourceFailed;) {
            std::string piece(static_cast<std::size_t>(std::min<uint64_t>(left, 4096)), '\0');
            uint32_t got = 0;
            sourceFailed = get(nullptr, priv, static_cast<uint32_t>(piece.size()),
                               reinterpret_cast<unsigned char*>(piece.data()), &got) != LIBMTP_HANDLER_RETURN_OK;
            content.append(piece.data(), got);
            left -= std::min<uint64_t>(left, got);
            if (f.m_transfer.afterSourcePiece && !sourceFailed) {
                f.m_transfer.afterSourcePiece(content.size());
            }
        }
        f.m_uploads.push_back(FakeUpload{content, file->filename != nullptr ? file->filename : "",
                                         file->parent_id, file->storage_id, file->filesize,
                                         static_cast<int>(file->filetype), callback != nullptr});
        // Like libmtp, the object exists on the device as soon as its description is sent.
        const uint32_t id = f.m_nextObjectId++;
        f.m_objects[id] =
            FakeObject{id, file->parent_id,        file->storage_id, f.m_uploads.back().name, file->filesize,
                       0,  LIBMTP_FILETYPE_UNKNOWN};
        if (f.m_transfer.reportsObjectId) {
            file->item_id = id;
        }
        if (sourceFailed) {
            f.m_errorStack.push_back(FakeFailure{true, "Could not send object."});
            return -1;
        }
        bool cancelled = false;
        f.reportProgress(callback, data, &cancelled);
        if (cancelled) {
            return f.m_transfer.statusWhenCancelled;
        }
        return f.takeFailure(FakeOperation::Upload) ? -1 : 0;
    }

    static LIBMTP_error_t* errorStack(LIBMTP_mtpdevice_t*)
    {
        FakeLibMTP& f = fake();
        // Each answer is a fresh chain, kept until the stack is cleared.
        LIBMTP_error_t* head = nullptr;
        LIBMTP_error_t** tail = &head;
        for (const FakeFailure& entry : f.m_errorStack) {
            auto* node = static_cast<LIBMTP_error_t*>(std::calloc(1, sizeof(LIBMTP_error_t)));
            node->errornumber = LIBMTP_ERROR_GENERAL;
            node->error_text = duplicate(entry.text);
            f.m_handedOutErrors.push_back(node);
            *tail = node;
            tail = &node->next;
        }
        return head;
    }

    static void clearErrorStack(LIBMTP_mtpdevice_t*)
    {
        FakeLibMTP& f = fake();
        f.m_errorStack.clear();
        for (LIBMTP_error_t* node : f.m_handedOutErrors) {
            std::free(node->error_text);
            std::free(node);
        }
        f.m_handedOutErrors.clear();
    }

    static void freeMemory(void* memory)
    {
        FakeLibMTP& f = fake();
        {
            std::lock_guard lock(f.m_mutex);
            if (f.m_allocations.erase(memory) == 0) {
                ++f.m_badReleases;
                return;
            }
        }
        std::free(memory);
    }
};

const CMTPLibMTPTable& FakeLibMTP::table()
{
    static const CMTPLibMTPTable fakeTable = {
        Hooks::init,        Hooks::detect,       Hooks::open,         Hooks::release,
        Hooks::friendly,    Hooks::model,        Hooks::manufacturer, Hooks::serial,
        Hooks::storage,     Hooks::list,         Hooks::metadata,     Hooks::newFile,
        Hooks::destroyFile, Hooks::createFolder, Hooks::deleteObject, Hooks::setName,
        Hooks::download,    Hooks::upload,       Hooks::errorStack,   Hooks::clearErrorStack,
        Hooks::freeMemory,
    };
    return fakeTable;
}

FakeLibMTP::FakeLibMTP(Trace* trace) : m_trace(trace)
{
    s_active = this;
    CMTP_SetLibMTPTable(&table());
}

FakeLibMTP::~FakeLibMTP()
{
    CMTP_SetLibMTPTable(nullptr);
    Hooks::clearErrorStack(nullptr);
    for (LIBMTP_mtpdevice_t* device : m_devices) {
        freeStorageChain(device);
        std::free(device);
    }
    for (void* memory : m_allocations) {
        std::free(memory);
    }
    s_active = nullptr;
}

void FakeLibMTP::setRawDevices(std::vector<FakeRawDevice> devices)
{
    std::lock_guard lock(m_mutex);
    m_rawDevices = std::move(devices);
}

void FakeLibMTP::scriptDetections(std::vector<FakeDetection> answers)
{
    std::lock_guard lock(m_mutex);
    m_detections.assign(answers.begin(), answers.end());
}

void FakeLibMTP::refuseOpens(int count)
{
    std::lock_guard lock(m_mutex);
    m_refusedOpens = count;
}

void FakeLibMTP::claimThrough(FakeHostSystem* host)
{
    std::lock_guard lock(m_mutex);
    m_usbHost = host;
}

void FakeLibMTP::failOpensAfterClaim(int count)
{
    std::lock_guard lock(m_mutex);
    m_opensFailingAfterClaim = count;
}

void FakeLibMTP::setIdentity(std::optional<std::string> friendly, std::optional<std::string> model,
                             std::optional<std::string> manufacturer, std::optional<std::string> serial)
{
    m_identity[0] = std::move(friendly);
    m_identity[1] = std::move(model);
    m_identity[2] = std::move(manufacturer);
    m_identity[3] = std::move(serial);
}

void FakeLibMTP::setStorages(std::vector<FakeStorage> storages)
{
    m_storages = std::move(storages);
}

void FakeLibMTP::addObject(FakeObject object)
{
    m_objects[object.id] = std::move(object);
}

void FakeLibMTP::setNextObjectId(uint32_t id)
{
    m_nextObjectId = id;
}

void FakeLibMTP::failNext(FakeOperation operation, FakeFailure failure)
{
    m_failures[operation].push_back(std::move(failure));
}

void FakeLibMTP::pushError(FakeFailure failure)
{
    stack(failure);
}

void FakeLibMTP::setTransfer(FakeTransfer transfer)
{
    m_transfer = std::move(transfer);
}

void FakeLibMTP::fillDiskUnder(std::string path)
{
    m_fullDestination = std::move(path);
}

int FakeLibMTP::initCount() const
{
    return m_initCount.load();
}

int FakeLibMTP::detectionCount() const
{
    std::lock_guard lock(m_mutex);
    return m_detectionCount;
}

int FakeLibMTP::openCount() const
{
    std::lock_guard lock(m_mutex);
    return m_openCount;
}

int FakeLibMTP::openDevices() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_devices.size());
}

std::optional<FakeObject> FakeLibMTP::object(uint32_t id) const
{
    const auto found = m_objects.find(id);
    return found != m_objects.end() ? std::optional<FakeObject>(found->second) : std::nullopt;
}

std::vector<uint32_t> FakeLibMTP::objectIdsNamed(const std::string& name) const
{
    std::vector<uint32_t> ids;
    for (const auto& [id, object] : m_objects) {
        if (object.name == name) {
            ids.push_back(id);
        }
    }
    return ids;
}

std::vector<uint32_t> FakeLibMTP::deletedIds() const
{
    return m_deleted;
}

std::vector<FakeUpload> FakeLibMTP::uploads() const
{
    return m_uploads;
}

int FakeLibMTP::metadataRequests() const
{
    return m_metadataRequests;
}

std::vector<uint32_t> FakeLibMTP::downloadedObjects() const
{
    return m_downloads;
}

std::vector<std::string> FakeLibMTP::createdFolderNames() const
{
    return m_createdFolders;
}

std::size_t FakeLibMTP::errorStackSize() const
{
    return m_errorStack.size();
}

std::size_t FakeLibMTP::outstandingAllocations() const
{
    std::lock_guard lock(m_mutex);
    return m_allocations.size();
}

int FakeLibMTP::badReleases() const
{
    std::lock_guard lock(m_mutex);
    return m_badReleases;
}

bool FakeLibMTP::takeFailure(FakeOperation operation)
{
    auto& pending = m_failures[operation];
    if (pending.empty()) {
        return false;
    }
    const FakeFailure failure = pending.front();
    pending.pop_front();
    if (failure.stacked) {
        stack(failure);
    }
    return true;
}

void FakeLibMTP::stack(const FakeFailure& failure)
{
    m_errorStack.push_back(failure);
}

void* FakeLibMTP::track(void* memory)
{
    std::lock_guard lock(m_mutex);
    m_allocations.insert(memory);
    return memory;
}

bool FakeLibMTP::untrack(void* memory)
{
    std::lock_guard lock(m_mutex);
    if (m_allocations.erase(memory) == 0) {
        ++m_badReleases;
        return false;
    }
    return true;
}

LIBMTP_file_t* FakeLibMTP::newFileRecord(const FakeObject& object)
{
    auto* file = static_cast<LIBMTP_file_t*>(track(std::calloc(1, sizeof(LIBMTP_file_t))));
    file->item_id = object.id;
    file->parent_id = object.parentId;
    file->storage_id = object.storageId;
    file->filename = duplicate(object.name);
    file->filesize = object.size;
    file->modificationdate = static_cast<time_t>(object.modified);
    file->filetype = object.type;
    return file;
}

void FakeLibMTP::freeStorageChain(LIBMTP_mtpdevice_t* device)
{
    LIBMTP_devicestorage_t* storage = device->storage;
    while (storage != nullptr) {
        LIBMTP_devicestorage_t* next = storage->next;
        std::free(storage->StorageDescription);
        std::free(storage->VolumeIdentifier);
        std::free(storage);
        storage = next;
    }
    device->storage = nullptr;
}

void FakeLibMTP::reportProgress(LIBMTP_progressfunc_t callback, const void* data, bool* cancelled)
{
    if (callback == nullptr) {
        return;
    }
    for (uint64_t sent : m_transfer.progress) {
        if (callback(sent, m_transfer.total, data) != 0) {
            *cancelled = true;
            return;
        }
    }
}

} // namespace quillbarrow::fakes
