#include "CMTPBridge.h"

#include "FakeLibMTP.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace quillbarrow::fakes;

namespace {

const std::string kGeneralText = "libmtp reported a general failure.";
const std::string kNoDeviceText = "No MTP device is attached.";
const std::string kCancelledText = "The MTP operation was cancelled.";

constexpr uint32_t kBus = 3;
constexpr uint8_t kDevnum = 7;
constexpr uint32_t kStorage = 0x10001;
constexpr uint32_t kFolder = 40;

struct ProgressLog {
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    int32_t answerFromCall = -1; // the call (0-based) that answers with `answer`; -1: never
    int32_t answer = 1;
};

int32_t recordProgress(uint64_t sent, uint64_t total, void* context)
{
    auto* log = static_cast<ProgressLog*>(context);
    log->calls.emplace_back(sent, total);
    return static_cast<int32_t>(log->calls.size()) - 1 >= log->answerFromCall && log->answerFromCall >= 0
               ? log->answer
               : 0;
}

class BridgeTest : public ::testing::Test {
  protected:
    BridgeTest()
    {
        m_fake.setRawDevices({FakeRawDevice{0x18d1, 0x4ee1, kBus, kDevnum, "Google", "Pixel"}});
        const char* temporary = std::getenv("TMPDIR");
        std::string pattern = std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
                              "/bridge-test-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            // As the system names it, links resolved.
            m_folder = std::filesystem::canonical(pattern).string();
        }
    }

    void TearDown() override
    {
        if (!m_folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_folder, ignored);
        }
        CMTP_CloseDevice(m_handle);
        EXPECT_EQ(m_fake.openDevices(), 0);
        EXPECT_EQ(m_fake.outstandingAllocations(), 0u) << "libmtp memory the bridge did not release";
        EXPECT_EQ(m_fake.badReleases(), 0);
    }

    ~BridgeTest() override { std::filesystem::remove_all(m_sources); }

    // A local file of `size` bytes to upload, in a folder of the test's own.
    std::string source(const std::string& name, uint64_t size, char fill = 'x')
    {
        const std::string path = m_sources + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(size, fill);
        return path;
    }

    CMTPDeviceHandle* open()
    {
        if (m_handle != nullptr) {
            return m_handle;
        }
        const CMTPOpenResult result = CMTP_OpenDevice(kBus, kDevnum);
        EXPECT_EQ(result.error_code, 0) << result.error_message;
        m_handle = result.handle;
        return m_handle;
    }

    CMTPMutationResult failDeleteWith(const std::string& text)
    {
        m_fake.failNext(FakeOperation::Delete, FakeFailure{true, text});
        return CMTP_DeleteObject(open(), 1);
    }

    // A path in the test's own folder, where downloads may create files.
    std::string local(const std::string& name) const { return m_folder + "/" + name; }

    std::string m_folder;
    Trace m_trace;
    FakeLibMTP m_fake{&m_trace};
    std::string m_sources = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "bridge-sources-XXXXXX").string();
        return std::string(::mkdtemp(pattern.data()) != nullptr ? pattern.c_str() : "");
    }();
    CMTPDeviceHandle* m_handle = nullptr;
};

// --- messages ---------------------------------------------------------------------------------

TEST_F(BridgeTest, MessagesKeepAtMost511BytesAndAreAlwaysTerminated)
{
    const std::string longText(600, 'x');
    const CMTPMutationResult result = failDeleteWith(longText);
    EXPECT_EQ(result.error_code, 1);
    EXPECT_EQ(std::strlen(result.error_message), 511u);
    EXPECT_EQ(std::string(result.error_message), longText.substr(0, 511));

    const std::string exact(511, 'y');
    EXPECT_EQ(std::string(failDeleteWith(exact).error_message), exact);
    const std::string oneOver(512, 'z');
    EXPECT_EQ(std::string(failDeleteWith(oneOver).error_message), oneOver.substr(0, 511));
}

TEST_F(BridgeTest, MultiByteCharacterAtTheLimitIsCutAtTheByteLimit)
{
    // "é" is two bytes: its first byte is byte 511, the second would be byte 512.
    const std::string twoByte = std::string(510, 'a') + "\xC3\xA9" + "tail";
    const CMTPMutationResult cutTwo = failDeleteWith(twoByte);
    ASSERT_EQ(std::strlen(cutTwo.error_message), 511u);
    EXPECT_EQ(std::string(cutTwo.error_message), twoByte.substr(0, 511));
    EXPECT_EQ(static_cast<unsigned char>(cutTwo.error_message[510]), 0xC3);
    EXPECT_EQ(cutTwo.error_message[511], '\0');

    // "€" is three bytes starting at byte 510: two of them fit.
    const std::string threeByte = std::string(509, 'b') + "\xE2\x82\xAC";
    const CMTPMutationResult cutThree = failDeleteWith(threeByte);
    EXPECT_EQ(std::string(cutThree.error_message), threeByte.substr(0, 511));

    // Ending exactly at the limit, the character stays whole.
    const std::string whole = std::string(509, 'c') + "\xC3\xA9";
    EXPECT_EQ(std::string(failDeleteWith(whole).error_message), whole);
}

TEST_F(BridgeTest, NameFieldsAreCutAtTheirOwnLimits)
{
    const std::string longName = std::string(509, 'n') + "\xE2\x82\xAC" + ".jpg";
    m_fake.addObject(FakeObject{11, kFolder, kStorage, longName, 5, 0, LIBMTP_FILETYPE_JPEG});
    m_fake.setIdentity(std::string(300, 'f'), "Pixel 8", std::nullopt, "");
    CMTPDeviceHandle* handle = open();

    CMTPObjectList list = CMTP_ListDirectory(handle, kStorage, kFolder);
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(std::string(list.entries[0].filename), longName.substr(0, 511));
    CMTP_FreeObjectList(&list);

    const CMTPDeviceIdentity identity = CMTP_GetDeviceIdentity(handle);
    EXPECT_EQ(std::string(identity.friendly_name), std::string(255, 'f'));
    EXPECT_EQ(std::string(identity.model_name), "Pixel 8");
    EXPECT_EQ(std::string(identity.manufacturer), "");
    EXPECT_EQ(std::string(identity.serial_number), "");
    EXPECT_EQ(identity.error_code, 0);
}

// --- detection ---------------------------------------------------------------------------------

TEST_F(BridgeTest, DetectionCopiesEveryRawDeviceInLibMTPOrder)
{
    m_fake.setRawDevices({FakeRawDevice{0x18d1, 0x4ee1, 3, 7, "Google", "Pixel"},
                          FakeRawDevice{0x04e8, 0x6860, 1, 2, std::nullopt, std::string(200, 'p')}});
    CMTPDeviceList list = CMTP_DetectDevices();
    ASSERT_EQ(list.error_code, 0);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.entries[0].vendor_id, 0x18d1);
    EXPECT_EQ(list.entries[0].product_id, 0x4ee1);
    EXPECT_EQ(list.entries[0].bus_location, 3u);
    EXPECT_EQ(list.entries[0].devnum, 7);
    EXPECT_STREQ(list.entries[0].vendor, "Google");
    EXPECT_STREQ(list.entries[0].product, "Pixel");
    EXPECT_EQ(list.entries[1].vendor_id, 0x04e8);
    EXPECT_STREQ(list.entries[1].vendor, "");
    EXPECT_EQ(std::string(list.entries[1].product), std::string(127, 'p'));
    EXPECT_STREQ(list.error_message, "");

    CMTP_FreeDeviceList(&list);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.entries, nullptr);
    CMTP_FreeDeviceList(&list); // a second free is harmless
    CMTP_FreeDeviceList(nullptr);
}

TEST_F(BridgeTest, DetectionWithoutDeviceIsAnEmptySuccess)
{
    // libmtp answers "no device attached" (5) when nothing is plugged in.
    m_fake.scriptDetections({FakeDetection{LIBMTP_ERROR_NO_DEVICE_ATTACHED, {}}, FakeDetection{0, {}}});
    for (int i = 0; i < 2; ++i) {
        CMTPDeviceList list = CMTP_DetectDevices();
        EXPECT_EQ(list.error_code, 0);
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(list.entries, nullptr);
        EXPECT_STREQ(list.error_message, "");
    }
}

TEST_F(BridgeTest, DetectionErrorsCarryTheirCodeAndFixedText)
{
    const std::vector<std::pair<int, std::string>> cases = {
        {1, kGeneralText},
        {2, "The device returned an invalid MTP/PTP response."},
        {3, "The USB interface could not be claimed. Another process may be using the phone, or macOS denied "
            "access to the interface."},
        {4, "libmtp could not allocate memory."},
        {6, "The device storage is full."},
        {7,
         "The MTP device could not be opened. Unlock the phone, choose File Transfer / MTP mode, and close "
         "other apps that may be using the device."},
        {8, kCancelledText},
        {9, kGeneralText},
    };
    for (const auto& [code, text] : cases) {
        m_fake.scriptDetections({FakeDetection{code, {}}});
        CMTPDeviceList list = CMTP_DetectDevices();
        EXPECT_EQ(list.error_code, code);
        EXPECT_EQ(std::string(list.error_message), text) << "code " << code;
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(list.entries, nullptr);
    }
}

TEST(BridgeInitialisation, LibMTPIsInitialisedOnceEvenWhenDetectionAndOpenRace)
{
    FakeLibMTP fake;
    fake.setRawDevices({FakeRawDevice{1, 2, kBus, kDevnum, std::nullopt, std::nullopt}});

    // Operations on a handle never initialise libmtp.
    CMTPStorageList storages = CMTP_GetStorages(nullptr);
    CMTP_FreeStorageList(&storages);
    EXPECT_EQ(fake.initCount(), 0);

    std::vector<std::thread> threads;
    std::vector<CMTPDeviceHandle*> handles(4, nullptr);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([i, &handles] {
            if (i % 2 == 0) {
                CMTPDeviceList list = CMTP_DetectDevices();
                CMTP_FreeDeviceList(&list);
            } else {
                handles[i / 2] = CMTP_OpenDevice(kBus, kDevnum).handle;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(fake.initCount(), 1);
    EXPECT_EQ(fake.detectionCount(), 8);
    for (CMTPDeviceHandle* handle : handles) {
        EXPECT_NE(handle, nullptr);
        CMTP_CloseDevice(handle);
    }
    EXPECT_EQ(fake.openDevices(), 0);
    EXPECT_EQ(fake.outstandingAllocations(), 0u);
}

// --- null handles --------------------------------------------------------------------------------

TEST_F(BridgeTest, MissingHandleOrTextIsAnsweredWithCode5)
{
    auto expectNoDevice = [](const auto& result, const char* what) {
        EXPECT_EQ(result.error_code, 5) << what;
        EXPECT_EQ(std::string(result.error_message), kNoDeviceText) << what;
    };
    CMTPStorageList storages = CMTP_GetStorages(nullptr);
    expectNoDevice(storages, "storages");
    EXPECT_EQ(storages.count, 0);
    CMTPObjectList objects = CMTP_ListDirectory(nullptr, kStorage, kFolder);
    expectNoDevice(objects, "listing");
    EXPECT_EQ(objects.entries, nullptr);
    expectNoDevice(CMTP_CreateFolder(nullptr, "New", kFolder, kStorage), "create");
    expectNoDevice(CMTP_DeleteObject(nullptr, 1), "delete");
    expectNoDevice(CMTP_RenameObject(nullptr, 1, "b"), "rename");
    expectNoDevice(CMTP_DownloadFile(nullptr, 1, "/tmp/x", nullptr, nullptr), "download");
    expectNoDevice(CMTP_UploadFile(nullptr, "/tmp/x", kFolder, kStorage, "x", 1, nullptr, nullptr), "upload");

    CMTPDeviceHandle* handle = open();
    expectNoDevice(CMTP_CreateFolder(handle, nullptr, kFolder, kStorage), "create without name");
    expectNoDevice(CMTP_RenameObject(handle, 1, nullptr), "rename without name");
    expectNoDevice(CMTP_DownloadFile(handle, 1, nullptr, nullptr, nullptr), "download without path");
    expectNoDevice(CMTP_UploadFile(handle, nullptr, kFolder, kStorage, "x", 1, nullptr, nullptr),
                   "upload without path");
    expectNoDevice(CMTP_UploadFile(handle, source("x", 1).c_str(), kFolder, kStorage, nullptr, 1, nullptr, nullptr),
                   "upload without name");
    EXPECT_TRUE(m_fake.uploads().empty());
    EXPECT_TRUE(m_fake.createdFolderNames().empty());

    const CMTPDeviceIdentity identity = CMTP_GetDeviceIdentity(nullptr);
    EXPECT_EQ(identity.error_code, 5);
    EXPECT_STREQ(identity.friendly_name, "");
    EXPECT_STREQ(identity.model_name, "");
    EXPECT_STREQ(identity.manufacturer, "");
    EXPECT_STREQ(identity.serial_number, "");

    CMTP_CloseDevice(nullptr);
    CMTP_FreeStorageList(nullptr);
    CMTP_FreeObjectList(nullptr);
    EXPECT_EQ(CMTP_RootParentID(), 0xFFFFFFFFu);
}

// --- identity and storages -----------------------------------------------------------------------

TEST_F(BridgeTest, IdentityOfADeviceThatAnswersNothingIsEmptySuccess)
{
    const CMTPDeviceIdentity identity = CMTP_GetDeviceIdentity(open());
    EXPECT_EQ(identity.error_code, 0);
    EXPECT_STREQ(identity.friendly_name, "");
    EXPECT_STREQ(identity.serial_number, "");
}

TEST_F(BridgeTest, StoragesFollowTheDeviceChain)
{
    m_fake.setStorages({FakeStorage{0x10001, 64'000'000'000, 12'345, "Internal shared storage", "vol-1"},
                        FakeStorage{0x20001, 0, UINT64_MAX, std::nullopt, std::nullopt}});
    CMTPStorageList list = CMTP_GetStorages(open());
    ASSERT_EQ(list.error_code, 0);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.entries[0].storage_id, 0x10001u);
    EXPECT_EQ(list.entries[0].max_capacity, 64'000'000'000u);
    EXPECT_EQ(list.entries[0].free_space_bytes, 12'345u);
    EXPECT_STREQ(list.entries[0].description, "Internal shared storage");
    EXPECT_STREQ(list.entries[0].volume_identifier, "vol-1");
    EXPECT_EQ(list.entries[1].free_space_bytes, UINT64_MAX);
    EXPECT_STREQ(list.entries[1].description, "");
    EXPECT_STREQ(list.entries[1].volume_identifier, "");
    CMTP_FreeStorageList(&list);
    EXPECT_EQ(list.entries, nullptr);
}

TEST_F(BridgeTest, StorageFailuresReportLibMTPTextOrTheGeneralText)
{
    CMTPDeviceHandle* handle = open();
    m_fake.failNext(FakeOperation::Storage, FakeFailure{true, "Could not get storage IDs."});
    CMTPStorageList failed = CMTP_GetStorages(handle);
    EXPECT_EQ(failed.error_code, 1);
    EXPECT_STREQ(failed.error_message, "Could not get storage IDs.");
    EXPECT_EQ(failed.count, 0);
    EXPECT_EQ(m_fake.errorStackSize(), 0u) << "the stack is cleared after a failure";

    m_fake.failNext(FakeOperation::Storage, FakeFailure{false, std::nullopt});
    EXPECT_EQ(std::string(CMTP_GetStorages(handle).error_message), kGeneralText);
    m_fake.failNext(FakeOperation::Storage, FakeFailure{true, std::nullopt});
    EXPECT_EQ(std::string(CMTP_GetStorages(handle).error_message), kGeneralText);

    CMTPStorageList none = CMTP_GetStorages(handle);
    EXPECT_EQ(none.error_code, 0);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(none.entries, nullptr);
}

// --- listing -------------------------------------------------------------------------------------

TEST_F(BridgeTest, ListingCopiesEachObject)
{
    m_fake.addObject(FakeObject{50, kFolder, kStorage, "DCIM", 4096, 1'700'000'000, LIBMTP_FILETYPE_FOLDER});
    m_fake.addObject(FakeObject{51, kFolder, kStorage, "a.jpg", 5'000'000'000, 0, LIBMTP_FILETYPE_JPEG});
    m_fake.addObject(FakeObject{52, kFolder, kStorage, std::nullopt, 1, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_fake.addObject(FakeObject{53, kFolder + 1, kStorage, "elsewhere", 1, 0, LIBMTP_FILETYPE_UNKNOWN});

    CMTPObjectList list = CMTP_ListDirectory(open(), kStorage, kFolder);
    ASSERT_EQ(list.error_code, 0);
    ASSERT_EQ(list.count, 3);
    const CMTPObjectEntry& folder = list.entries[0];
    EXPECT_EQ(folder.item_id, 50u);
    EXPECT_EQ(folder.parent_id, kFolder);
    EXPECT_EQ(folder.storage_id, kStorage);
    EXPECT_EQ(folder.modification_date, 1'700'000'000);
    EXPECT_EQ(folder.file_type, 0u);
    EXPECT_EQ(folder.is_folder, 1u);
    EXPECT_STREQ(folder.filename, "DCIM");
    EXPECT_EQ(list.entries[1].file_size, 5'000'000'000u);
    EXPECT_EQ(list.entries[1].file_type, static_cast<uint32_t>(LIBMTP_FILETYPE_JPEG));
    EXPECT_EQ(list.entries[1].is_folder, 0u);
    EXPECT_EQ(list.entries[1].modification_date, 0);
    EXPECT_STREQ(list.entries[2].filename, "");
    CMTP_FreeObjectList(&list);
    EXPECT_EQ(list.count, 0);
}

TEST_F(BridgeTest, FailedListingIsAnErrorNotAnEmptyFolder)
{
    CMTPDeviceHandle* handle = open();
    m_fake.failNext(FakeOperation::Listing, FakeFailure{true, "PTP: could not get object handles."});
    CMTPObjectList failed = CMTP_ListDirectory(handle, kStorage, kFolder);
    EXPECT_EQ(failed.error_code, 1);
    EXPECT_STREQ(failed.error_message, "PTP: could not get object handles.");
    EXPECT_EQ(failed.count, 0);
    EXPECT_EQ(failed.entries, nullptr);
    EXPECT_EQ(m_fake.errorStackSize(), 0u);

    m_fake.failNext(FakeOperation::Listing, FakeFailure{true, std::nullopt});
    CMTPObjectList untold = CMTP_ListDirectory(handle, kStorage, kFolder);
    EXPECT_EQ(untold.error_code, 1);
    EXPECT_EQ(std::string(untold.error_message), kGeneralText);
}

TEST_F(BridgeTest, EmptyFolderIsAnEmptySuccessEvenAfterAnEarlierError)
{
    CMTPDeviceHandle* handle = open();
    // An entry left on the stack by an earlier call is not this listing's failure.
    m_fake.pushError(FakeFailure{true, "stale error"});
    CMTPObjectList list = CMTP_ListDirectory(handle, kStorage, kFolder);
    EXPECT_EQ(list.error_code, 0);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.entries, nullptr);
    EXPECT_STREQ(list.error_message, "");
}

// --- folder creation, delete, rename -------------------------------------------------------------

TEST_F(BridgeTest, CreateFolderReturnsTheNewIdOrLibMTPText)
{
    CMTPDeviceHandle* handle = open();
    m_fake.setNextObjectId(77);
    const CMTPMutationResult created = CMTP_CreateFolder(handle, "Holiday", kFolder, kStorage);
    EXPECT_EQ(created.error_code, 0);
    EXPECT_EQ(created.new_object_id, 77u);
    ASSERT_TRUE(m_fake.object(77));
    EXPECT_EQ(m_fake.object(77)->parentId, kFolder);
    EXPECT_EQ(m_fake.object(77)->storageId, kStorage);
    EXPECT_EQ(m_fake.object(77)->name, "Holiday");

    m_fake.failNext(FakeOperation::CreateFolder, FakeFailure{true, "Folder exists."});
    const CMTPMutationResult failed = CMTP_CreateFolder(handle, "Holiday", kFolder, kStorage);
    EXPECT_EQ(failed.error_code, 1);
    EXPECT_EQ(failed.new_object_id, 0u);
    EXPECT_STREQ(failed.error_message, "Folder exists.");
}

TEST_F(BridgeTest, DeleteReportsLibMTPFailure)
{
    m_fake.addObject(FakeObject{60, kFolder, kStorage, "old.txt", 3, 0, LIBMTP_FILETYPE_TEXT});
    CMTPDeviceHandle* handle = open();
    const CMTPMutationResult deleted = CMTP_DeleteObject(handle, 60);
    EXPECT_EQ(deleted.error_code, 0);
    EXPECT_FALSE(m_fake.object(60));
    const CMTPMutationResult missing = CMTP_DeleteObject(handle, 60);
    EXPECT_EQ(missing.error_code, 1);
    EXPECT_STREQ(missing.error_message, "Object not found.");
}

TEST_F(BridgeTest, RenameOfAnObjectWithUnreadableMetadataIsCode5)
{
    m_fake.addObject(FakeObject{61, kFolder, kStorage, "a.txt", 3, 0, LIBMTP_FILETYPE_TEXT});
    CMTPDeviceHandle* handle = open();

    const CMTPMutationResult renamed = CMTP_RenameObject(handle, 61, "b.txt");
    EXPECT_EQ(renamed.error_code, 0);
    EXPECT_EQ(m_fake.object(61)->name, "b.txt");

    const CMTPMutationResult gone = CMTP_RenameObject(handle, 999, "c.txt");
    EXPECT_EQ(gone.error_code, 5);
    EXPECT_STREQ(gone.error_message, "Could not get object info.");
    EXPECT_EQ(m_fake.errorStackSize(), 0u);

    m_fake.failNext(FakeOperation::Metadata, FakeFailure{false, std::nullopt});
    const CMTPMutationResult untold = CMTP_RenameObject(handle, 61, "c.txt");
    EXPECT_EQ(untold.error_code, 5);
    EXPECT_EQ(std::string(untold.error_message), kNoDeviceText);

    m_fake.failNext(FakeOperation::SetName, FakeFailure{true, "Could not set filename."});
    const CMTPMutationResult refused = CMTP_RenameObject(handle, 61, "c.txt");
    EXPECT_EQ(refused.error_code, 1);
    EXPECT_STREQ(refused.error_message, "Could not set filename.");
    EXPECT_EQ(m_fake.object(61)->name, "b.txt");
}

// --- download ------------------------------------------------------------------------------------

TEST_F(BridgeTest, DownloadForwardsProgressWithTheCallersContext)
{
    m_fake.setTransfer(FakeTransfer{{0, 512, 1024}, 1024});
    ProgressLog log;
    const CMTPMutationResult result = CMTP_DownloadFile(open(), 61, local("dest.bin").c_str(), recordProgress, &log);
    EXPECT_EQ(result.error_code, 0);
    EXPECT_EQ(result.new_object_id, 0u);
    // libmtp's counts, of a size it was not told, then the bytes written (this object has none).
    EXPECT_EQ(log.calls,
              (std::vector<std::pair<uint64_t, uint64_t>>{{0, 1024}, {512, 1024}, {1024, 1024}, {0, 0}}));
    EXPECT_EQ(m_fake.downloadedObjects(), std::vector<uint32_t>{61});
    EXPECT_TRUE(std::filesystem::exists(local("dest.bin")));
}

// libmtp 1.1.20 counts the GetObject request (16 bytes) before the file's bytes, and the
// SendObject data header (12 bytes) with them: its counts run past the file's size.
TEST_F(BridgeTest, TransfersReportTheFilesOwnBytesNotLibMTPsProtocolOverhead)
{
    CMTPDeviceHandle* handle = open();
    m_fake.addObject(FakeObject{62, kFolder, kStorage, "photo.jpg", 500, 0, LIBMTP_FILETYPE_JPEG});
    m_fake.setTransfer(FakeTransfer{{16, 272, 516}, 516});
    ProgressLog download;
    EXPECT_EQ(CMTP_DownloadFile(handle, 62, local("photo.jpg").c_str(), recordProgress, &download).error_code, 0);
    EXPECT_EQ(download.calls, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 500}, {256, 500}, {500, 500}}));
    // libmtp's counts stopping short of the bytes written: the last count is those written.
    m_fake.setTransfer(FakeTransfer{{16, 272}, 516});
    ProgressLog shortCounts;
    EXPECT_EQ(CMTP_DownloadFile(handle, 62, local("short.jpg").c_str(), recordProgress, &shortCounts).error_code, 0);
    EXPECT_EQ(shortCounts.calls, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 500}, {256, 500}, {500, 500}}));

    m_fake.setTransfer(FakeTransfer{{12, 512, 524}, 524});
    ProgressLog upload;
    EXPECT_EQ(CMTP_UploadFile(handle, source("up.bin", 512).c_str(), kFolder, kStorage, "up.bin", 512, recordProgress, &upload).error_code,
              0);
    EXPECT_EQ(upload.calls, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 512}, {500, 512}, {512, 512}}));

    // An empty file: everything libmtp counts is overhead.
    m_fake.setTransfer(FakeTransfer{{12, 12}, 12});
    ProgressLog empty;
    EXPECT_EQ(CMTP_UploadFile(handle, source("e", 0).c_str(), kFolder, kStorage, "e", 0, recordProgress, &empty).error_code, 0);
    EXPECT_EQ(empty.calls, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 0}, {0, 0}}));

    // Counts beyond a total that does not even cover the file never pass the file's size.
    m_fake.setTransfer(FakeTransfer{{100, 900}, 400});
    ProgressLog odd;
    EXPECT_EQ(CMTP_DownloadFile(handle, 62, local("photo.jpg").c_str(), recordProgress, &odd).error_code, 0);
    EXPECT_EQ(odd.calls, (std::vector<std::pair<uint64_t, uint64_t>>{{100, 500}, {500, 500}}));
}

// A downloaded file is a new file of the user's: 0666 less the umask, never executable.
TEST_F(BridgeTest, DownloadedFilesGetTheModeOfTheUsersNewFiles)
{
    CMTPDeviceHandle* handle = open();
    const struct {
        mode_t umask;
        mode_t mode;
    } cases[] = {{022, 0644}, {002, 0664}, {077, 0600}, {0, 0666}};
    for (const auto& c : cases) {
        const std::string path = local("photo-" + std::to_string(c.umask) + ".jpg");
        const mode_t before = ::umask(c.umask);
        const CMTPMutationResult result = CMTP_DownloadFile(handle, 61, path.c_str(), nullptr, nullptr);
        ::umask(before);
        EXPECT_EQ(result.error_code, 0) << result.error_message;
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
        EXPECT_EQ(info.st_mode & 07777, c.mode) << "umask " << c.umask;
    }
}

// The listing gave the size: the device is not asked for it, and the counts are the file's own
// bytes against that size. Unknown, the device is asked.
TEST_F(BridgeTest, DownloadOfAListedSizeAsksTheDeviceNothingMore)
{
    CMTPDeviceHandle* handle = open();
    m_fake.addObject(FakeObject{62, kFolder, kStorage, "photo.jpg", 500, 0, LIBMTP_FILETYPE_JPEG});
    m_fake.setTransfer(FakeTransfer{{16, 416, 816}, 816, true, -1, 800});
    ProgressLog listed;
    EXPECT_EQ(CMTP_DownloadFileOfSize(handle, 62, local("a.jpg").c_str(), 800, recordProgress, &listed).error_code, 0);
    EXPECT_EQ(listed.calls, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 800}, {400, 800}, {800, 800}}));
    EXPECT_EQ(m_fake.metadataRequests(), 0);

    m_fake.setTransfer(FakeTransfer{{16, 516}, 516});
    ProgressLog unknown;
    EXPECT_EQ(CMTP_DownloadFileOfSize(handle, 62, local("b.jpg").c_str(), -1, recordProgress, &unknown).error_code, 0);
    EXPECT_EQ(unknown.calls, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 500}, {500, 500}}));
    EXPECT_EQ(m_fake.metadataRequests(), 1);
}

// A destination that cannot be made fails with the reason, before anything is asked of the device.
TEST_F(BridgeTest, DownloadIntoAMissingFolderFailsNamingIt)
{
    const std::string path = local("gone/photo.jpg");
    const CMTPMutationResult result = CMTP_DownloadFile(open(), 61, path.c_str(), nullptr, nullptr);
    EXPECT_EQ(result.error_code, 1);
    EXPECT_EQ(std::string(result.error_message), "Could not open " + path + " for writing: No such file or directory");
    EXPECT_TRUE(m_fake.downloadedObjects().empty());
}

// A link found where the file is to be made is never followed, whether it leads to one of the
// user's files (never truncated) or nowhere (nothing is made where it points).
TEST_F(BridgeTest, DownloadNeverFollowsALinkAtItsDestination)
{
    const std::string precious = local("precious.txt");
    std::ofstream(precious, std::ios::binary) << "precious";
    const std::string toFile = local(".to-file");
    const std::string toNothing = local(".to-nothing");
    std::filesystem::create_symlink(precious, toFile);
    std::filesystem::create_symlink(local("made-through-the-link"), toNothing);

    for (const std::string& path : {toFile, toNothing}) {
        const CMTPMutationResult result = CMTP_DownloadFile(open(), 61, path.c_str(), nullptr, nullptr);
        EXPECT_EQ(result.error_code, 1);
        EXPECT_EQ(std::string(result.error_message),
                  "Could not open " + path + " for writing: it is a symbolic link, which is not followed");
    }
    std::ifstream kept(precious, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "precious");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(local("made-through-the-link"))));
    EXPECT_TRUE(std::filesystem::is_symlink(toFile)) << "the link is left for the caller";
    EXPECT_TRUE(m_fake.downloadedObjects().empty());
}

TEST_F(BridgeTest, DownloadFailureAndCancellation)
{
    CMTPDeviceHandle* handle = open();
    m_fake.failNext(FakeOperation::Download, FakeFailure{true, "Could not get file from device."});
    const CMTPMutationResult failed = CMTP_DownloadFile(handle, 61, local("d").c_str(), nullptr, nullptr);
    EXPECT_EQ(failed.error_code, 1);
    EXPECT_STREQ(failed.error_message, "Could not get file from device.");
    EXPECT_EQ(failed.local_error, 0) << "the device's failure, not this computer's";
    struct stat info {};
    EXPECT_NE(::stat(local("d").c_str(), &info), 0) << "a failed download leaves no file";

    // The callback cancels; libmtp nevertheless reports success and leaves an error entry.
    m_fake.setTransfer(FakeTransfer{{0, 10, 20}, 20, true, 0});
    m_fake.pushError(FakeFailure{true, "Cancelled transfer"});
    ProgressLog log{{}, 1, -3};
    const CMTPMutationResult cancelled = CMTP_DownloadFile(handle, 61, local("d").c_str(), recordProgress, &log);
    EXPECT_EQ(cancelled.error_code, 8);
    EXPECT_EQ(std::string(cancelled.error_message), kCancelledText);
    EXPECT_EQ(log.calls.size(), 2u) << "libmtp stops at the first cancel request";
    EXPECT_EQ(m_fake.errorStackSize(), 0u);
    EXPECT_EQ(::stat(local("d").c_str(), &info), 0) << "what libmtp reported complete is the caller's to remove";
}

// libmtp tells a write that failed here as a cancelled transfer: the bridge, which writes the
// file itself, tells its cause instead, and leaves nothing behind.
TEST_F(BridgeTest, AWriteThatFailsHereIsToldByItsCauseAndLeavesNoFile)
{
    CMTPDeviceHandle* handle = open();
    m_fake.addObject(FakeObject{62, kFolder, kStorage, "photo.jpg", 500, 0, LIBMTP_FILETYPE_JPEG});
    const std::string path = local("photo.jpg");
    m_fake.fillDiskUnder(path);
    ProgressLog log;
    const CMTPMutationResult result =
        CMTP_DownloadFileOfSize(handle, 62, path.c_str(), 500, recordProgress, &log);
    EXPECT_EQ(result.error_code, 1);
    EXPECT_EQ(result.local_error, ENOSPC);
    EXPECT_EQ(std::string(result.error_message), "Could not write " + path + ": No space left on device");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
    EXPECT_EQ(m_fake.errorStackSize(), 0u);
}

// A download that libmtp reports complete with fewer bytes than the device listed is whole only
// when the device, asked again, lists no more than arrived.
TEST_F(BridgeTest, ADownloadShorterThanTheDeviceListsFailsUnlessTheDeviceNowListsItSo)
{
    CMTPDeviceHandle* handle = open();
    const std::string shortText = "The download ended after 300 of the 500 bytes the device lists.";
    const struct {
        const char* what;
        std::optional<uint64_t> sizeNow; // none: the device cannot say
        std::string error;
    } rows[] = {
        {"the device still lists more", 500, shortText},
        {"the file shrank since it was listed", 300, ""},
        {"the device cannot say now", std::nullopt, shortText},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        m_fake.addObject(
            FakeObject{62, kFolder, kStorage, "log.txt", row.sizeNow.value_or(500), 0, LIBMTP_FILETYPE_TEXT});
        if (!row.sizeNow) {
            m_fake.failNext(FakeOperation::Metadata, FakeFailure{true, "Could not get object info."});
        }
        m_fake.setTransfer(FakeTransfer{{}, 0, true, -1, 300});
        const std::string path = local("log.txt");
        const CMTPMutationResult result =
            CMTP_DownloadFileOfSize(handle, 62, path.c_str(), 500, nullptr, nullptr);
        EXPECT_EQ(std::string(result.error_message), row.error);
        EXPECT_EQ(result.error_code, row.error.empty() ? 0 : 1);
        EXPECT_EQ(std::filesystem::exists(path), row.error.empty());
        EXPECT_EQ(m_fake.errorStackSize(), 0u);
    }
}

// --- upload --------------------------------------------------------------------------------------

TEST_F(BridgeTest, UploadSendsAFileRecordOfUnknownType)
{
    m_fake.setNextObjectId(300);
    m_fake.setTransfer(FakeTransfer{{4, 8}, 8});
    ProgressLog log;
    const CMTPMutationResult result =
        CMTP_UploadFile(open(), source("p.jpg", 8).c_str(), kFolder, kStorage, "p.jpg", 8, recordProgress, &log);
    EXPECT_EQ(result.error_code, 0);
    EXPECT_EQ(result.new_object_id, 300u);
    ASSERT_EQ(m_fake.uploads().size(), 1u);
    const FakeUpload upload = m_fake.uploads()[0];
    EXPECT_EQ(upload.content, std::string(8, 'x'));
    EXPECT_EQ(upload.name, "p.jpg");
    EXPECT_EQ(upload.parentId, kFolder);
    EXPECT_EQ(upload.storageId, kStorage);
    EXPECT_EQ(upload.size, 8u);
    EXPECT_EQ(upload.fileType, 44);
    EXPECT_TRUE(upload.hadProgress);
    EXPECT_EQ(log.calls.size(), 2u);
    EXPECT_TRUE(m_fake.deletedIds().empty());
}

TEST_F(BridgeTest, FailedUploadReportsTheObjectLibMTPCreatedSoTheCallerCanRemoveIt)
{
    m_fake.setNextObjectId(310);
    m_fake.failNext(FakeOperation::Upload, FakeFailure{true, "Could not send object."});
    const CMTPMutationResult result =
        CMTP_UploadFile(open(), source("s", 1).c_str(), kFolder, kStorage, "s.bin", 1, nullptr, nullptr);
    EXPECT_EQ(result.error_code, 1);
    EXPECT_STREQ(result.error_message, "Could not send object.");
    EXPECT_EQ(result.new_object_id, 310u);
    EXPECT_TRUE(m_fake.object(310)) << "a plain failure leaves the retry decision to the caller";
    EXPECT_TRUE(m_fake.deletedIds().empty());
    EXPECT_FALSE(m_fake.uploads()[0].hadProgress);
}

// The bridge reads the file itself: one that ends before its announced size fails the upload
// naming it, instead of leaving libmtp waiting for bytes that never come, and one that cannot be
// read is never announced to the device.
TEST_F(BridgeTest, AnUploadWhoseFileEndsEarlyOrCannotBeReadFailsNamingIt)
{
    struct Row {
        const char* what;
        std::string path;
        std::string message;
        bool sent;
    };
    const std::string shortFile = source("short.bin", 5);
    const std::vector<Row> rows{
        {"a file shorter than announced", shortFile,
         "Could not send " + shortFile + ": it ended after 5 of its 8 bytes.", true},
        {"a folder", m_sources, "Could not read " + m_sources + ": it is not a regular file", false},
        {"no file", m_sources + "/missing", "Could not read " + m_sources + "/missing: No such file or directory",
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        m_fake.setNextObjectId(320);
        const std::size_t uploadsBefore = m_fake.uploads().size();
        const CMTPMutationResult result =
            CMTP_UploadFile(open(), row.path.c_str(), kFolder, kStorage, "s.bin", 8, nullptr, nullptr);
        EXPECT_EQ(result.error_code, 1);
        EXPECT_EQ(std::string(result.error_message), row.message);
        EXPECT_EQ(result.new_object_id, 0u);
        EXPECT_EQ(m_fake.uploads().size() - uploadsBefore, row.sent ? 1u : 0u);
        EXPECT_FALSE(m_fake.object(320)) << "nothing partial stays";
    }
}

TEST_F(BridgeTest, FileRecordAllocationFailureIsCode4)
{
    m_fake.failNext(FakeOperation::NewFile, FakeFailure{false, std::nullopt});
    const CMTPMutationResult result =
        CMTP_UploadFile(open(), source("s", 1).c_str(), kFolder, kStorage, "s", 1, nullptr, nullptr);
    EXPECT_EQ(result.error_code, 4);
    EXPECT_STREQ(result.error_message, "libmtp could not allocate memory.");
    EXPECT_TRUE(m_fake.uploads().empty());
}

TEST_F(BridgeTest, CancelledUploadIsCode8EvenWhenLibMTPReportsSuccess)
{
    CMTPDeviceHandle* handle = open();
    for (int32_t answer : {1, -1, 42}) {
        m_fake.setTransfer(FakeTransfer{{0, 100}, 100, true, 0});
        ProgressLog log{{}, 0, answer};
        const CMTPMutationResult result =
            CMTP_UploadFile(handle, source("s", 100).c_str(), kFolder, kStorage, "s.bin", 100, recordProgress, &log);
        EXPECT_EQ(result.error_code, 8) << "answer " << answer;
        EXPECT_EQ(std::string(result.error_message), kCancelledText);
        EXPECT_EQ(result.new_object_id, 0u);
    }
    EXPECT_TRUE(m_fake.objectIdsNamed("s.bin").empty());
}

TEST_F(BridgeTest, CancelledUploadWithAnIdRemovesOnlyThatObject)
{
    m_fake.addObject(FakeObject{20, kFolder, kStorage, "report.pdf", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_fake.setNextObjectId(400);
    m_fake.setTransfer(FakeTransfer{{0, 50}, 100, true, -1});
    ProgressLog log{{}, 1, 1};
    const CMTPMutationResult result =
        CMTP_UploadFile(open(), source("r", 100).c_str(), kFolder, kStorage, "report.pdf", 100, recordProgress, &log);
    EXPECT_EQ(result.error_code, 8);
    EXPECT_EQ(m_fake.deletedIds(), std::vector<uint32_t>{400});
    EXPECT_EQ(m_fake.objectIdsNamed("report.pdf"), std::vector<uint32_t>{20});
}

TEST_F(BridgeTest, CancelledUploadWithoutAnIdRemovesThePartObjectByNameButNeverAnOlderOne)
{
    // An older object of the same name has a higher id than the new one: ids are not ordered.
    m_fake.addObject(FakeObject{900, kFolder, kStorage, "report.pdf", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_fake.addObject(FakeObject{901, kFolder, kStorage, "report.PDF", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_fake.addObject(FakeObject{902, kFolder + 1, kStorage, "report.pdf", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_fake.setNextObjectId(410);
    m_fake.setTransfer(FakeTransfer{{0, 50}, 100, false, -1});
    ProgressLog log{{}, 1, 1};
    const CMTPMutationResult result =
        CMTP_UploadFile(open(), source("r", 100).c_str(), kFolder, kStorage, "report.pdf", 100, recordProgress, &log);
    EXPECT_EQ(result.error_code, 8);
    EXPECT_EQ(result.new_object_id, 0u);
    EXPECT_EQ(m_fake.deletedIds(), std::vector<uint32_t>{410});
    EXPECT_EQ(m_fake.objectIdsNamed("report.pdf"), (std::vector<uint32_t>{900, 902}));
    EXPECT_TRUE(m_fake.object(901));
    EXPECT_EQ(m_fake.errorStackSize(), 0u);
}

// uMTP-Responder loses the first request after a cancelled data phase: the clean-up tries again.
TEST_F(BridgeTest, ACancelledUploadsCleanUpThatTheDeviceDidNotCarryOutIsTriedOnceMore)
{
    CMTPDeviceHandle* handle = open();
    m_fake.setNextObjectId(420);
    m_fake.setTransfer(FakeTransfer{{0, 50}, 100, true, -1});
    m_fake.failNext(FakeOperation::Delete, FakeFailure{true, "PTP Layer error 02ff: Could not delete object."});
    ProgressLog byID{{}, 1, 1};
    EXPECT_EQ(CMTP_UploadFile(handle, source("r", 100).c_str(), kFolder, kStorage, "a.pdf", 100, recordProgress, &byID).error_code, 8);
    EXPECT_EQ(m_fake.deletedIds(), (std::vector<uint32_t>{420, 420}));
    EXPECT_FALSE(m_fake.object(420));

    // By name: on a handle that has not yet seen libmtp report an upload's id, so that the folder
    // is listed before sending.
    CMTP_CloseDevice(handle);
    m_handle = nullptr;
    handle = open();
    m_fake.setNextObjectId(430);
    m_fake.setTransfer(FakeTransfer{{0, 50}, 100, false, -1});
    m_fake.failNext(FakeOperation::Delete, FakeFailure{true, "PTP Layer error 02ff: Could not delete object."});
    ProgressLog byName{{}, 1, 1};
    EXPECT_EQ(CMTP_UploadFile(handle, source("r", 100).c_str(), kFolder, kStorage, "b.pdf", 100, recordProgress, &byName).error_code, 8);
    EXPECT_EQ(m_fake.deletedIds(), (std::vector<uint32_t>{420, 420, 430, 430}));
    EXPECT_FALSE(m_fake.object(430));

    // A removal that succeeds, or a device that has nothing left, is not repeated.
    m_fake.setNextObjectId(440);
    ProgressLog once{{}, 1, 1};
    EXPECT_EQ(CMTP_UploadFile(handle, source("r", 100).c_str(), kFolder, kStorage, "c.pdf", 100, recordProgress, &once).error_code, 8);
    EXPECT_EQ(m_fake.deletedIds().size(), 5u);
    EXPECT_EQ(m_fake.errorStackSize(), 0u);
}

TEST_F(BridgeTest, CancelledUploadRemovesNothingByNameWhenTheFolderCouldNotBeListedBefore)
{
    m_fake.addObject(FakeObject{900, kFolder, kStorage, "report.pdf", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_fake.failNext(FakeOperation::Listing, FakeFailure{true, "could not list"});
    m_fake.setTransfer(FakeTransfer{{0}, 100, false, -1});
    ProgressLog log{{}, 0, 1};
    const CMTPMutationResult result =
        CMTP_UploadFile(open(), source("r", 100).c_str(), kFolder, kStorage, "report.pdf", 100, recordProgress, &log);
    EXPECT_EQ(result.error_code, 8);
    EXPECT_TRUE(m_fake.deletedIds().empty());
    EXPECT_TRUE(m_fake.object(900));
}

TEST_F(BridgeTest, UploadWithoutProgressDoesNotListTheFolderFirst)
{
    CMTP_UploadFile(open(), source("s", 1).c_str(), kFolder, kStorage, "s.bin", 1, nullptr, nullptr);
    for (const std::string& event : m_trace.events()) {
        EXPECT_NE(event.rfind("list", 0), 0u) << event;
    }
}

// The folder listings the fake was asked for since the trace was last cleared.
std::size_t listingsIn(const Trace& trace)
{
    std::size_t count = 0;
    for (const std::string& event : trace.events()) {
        count += event.rfind("list", 0) == 0 ? 1 : 0;
    }
    return count;
}

TEST_F(BridgeTest, UploadsListTheFolderFirstOnlyUntilLibMTPHasReportedTheIdOfAnUploadedObject)
{
    CMTPDeviceHandle* handle = open();
    ProgressLog log;
    m_fake.setTransfer(FakeTransfer{{0, 10}, 10});
    m_trace.clear();
    EXPECT_EQ(CMTP_UploadFile(handle, source("a", 10).c_str(), kFolder, kStorage, "a.bin", 10, recordProgress, &log).error_code, 0);
    EXPECT_EQ(listingsIn(m_trace), 1u) << "nothing is known of the device yet";

    // A large folder costs a request per object to list: later uploads go without it, and a
    // cancelled one is still removed by the id libmtp reports.
    m_fake.addObject(FakeObject{20, kFolder, kStorage, "b.bin", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_fake.setNextObjectId(500);
    m_trace.clear();
    EXPECT_EQ(CMTP_UploadFile(handle, source("b", 10).c_str(), kFolder, kStorage, "b.bin", 10, recordProgress, &log).error_code, 0);
    ProgressLog cancelling{{}, 0, 1};
    m_fake.setTransfer(FakeTransfer{{0, 10}, 10, true, -1});
    EXPECT_EQ(CMTP_UploadFile(handle, source("b", 10).c_str(), kFolder, kStorage, "b.bin", 10, recordProgress, &cancelling).error_code,
              8);
    EXPECT_EQ(listingsIn(m_trace), 0u);
    EXPECT_EQ(m_fake.deletedIds(), std::vector<uint32_t>{501});
    EXPECT_EQ(m_fake.objectIdsNamed("b.bin"), (std::vector<uint32_t>{20, 500}));
}

TEST_F(BridgeTest, ADeviceWhoseUploadsReportNoIdKeepsListingFirstAndCleansUpByName)
{
    CMTPDeviceHandle* handle = open();
    ProgressLog log;
    m_fake.setTransfer(FakeTransfer{{0, 10}, 10, false, -1});
    m_fake.setNextObjectId(600);
    EXPECT_EQ(CMTP_UploadFile(handle, source("c", 10).c_str(), kFolder, kStorage, "c.bin", 10, recordProgress, &log).error_code, 0);
    m_trace.clear();
    ProgressLog cancelling{{}, 0, 1};
    EXPECT_EQ(CMTP_UploadFile(handle, source("c", 10).c_str(), kFolder, kStorage, "c.bin", 10, recordProgress, &cancelling).error_code,
              8);
    EXPECT_EQ(listingsIn(m_trace), 2u) << "once before sending, once to find the part object";
    EXPECT_EQ(m_fake.deletedIds(), std::vector<uint32_t>{601}) << "the older c.bin stays";
    EXPECT_EQ(m_fake.objectIdsNamed("c.bin"), std::vector<uint32_t>{600});
}

TEST_F(BridgeTest, ACancelledUploadWithoutAnIdOnADeviceThatReportedIdsRemovesNothingByNameAndListsFirstAgain)
{
    CMTPDeviceHandle* handle = open();
    ProgressLog log;
    m_fake.addObject(FakeObject{20, kFolder, kStorage, "d.bin", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_fake.setTransfer(FakeTransfer{{0, 10}, 10});
    EXPECT_EQ(CMTP_UploadFile(handle, source("x", 10).c_str(), kFolder, kStorage, "x.bin", 10, recordProgress, &log).error_code, 0);

    // Without a listing from before, no object of that name can be told from an older one.
    m_fake.setTransfer(FakeTransfer{{0, 10}, 10, false, -1});
    ProgressLog cancelling{{}, 0, 1};
    EXPECT_EQ(CMTP_UploadFile(handle, source("d", 10).c_str(), kFolder, kStorage, "d.bin", 10, recordProgress, &cancelling).error_code,
              8);
    EXPECT_TRUE(m_fake.deletedIds().empty());
    EXPECT_TRUE(m_fake.object(20));

    m_trace.clear();
    m_fake.setTransfer(FakeTransfer{{0, 10}, 10});
    EXPECT_EQ(CMTP_UploadFile(handle, source("e", 10).c_str(), kFolder, kStorage, "e.bin", 10, recordProgress, &log).error_code, 0);
    EXPECT_EQ(listingsIn(m_trace), 1u);
}

// A caller that knows the folder's objects of the upload's name spares the bridge the listing
// before sending; the clean-up of a cancelled upload without an id then removes the new object
// by name and never one the caller named, nor one of another name or folder.
TEST_F(BridgeTest, AnUploadAmongKnownObjectsListsNothingFirstAndItsCleanUpSparesThem)
{
    struct Case {
        const char* name;
        std::vector<uint32_t> older; // every object named "p.jpg" in the folder, as the caller says
        bool reportsId;
        std::size_t listings; // before sending and after the cancel
    };
    const std::vector<Case> cases{
        {"the name is free, no id", {}, false, 1},
        {"two older objects of that name (one with a higher id), no id", {900, 20}, false, 1},
        {"an id from libmtp", {901, 23}, true, 0},
    };
    uint32_t folder = kFolder;
    uint32_t next = 700;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++folder;
        for (const uint32_t id : c.older) {
            m_fake.addObject(FakeObject{id + folder * 1000, folder, kStorage, "p.jpg", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
        }
        m_fake.addObject(FakeObject{folder * 1000 + 1, folder, kStorage, "p.JPG", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
        m_fake.addObject(FakeObject{folder * 1000 + 2, folder + 100, kStorage, "p.jpg", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
        std::vector<uint32_t> older;
        for (const uint32_t id : c.older) {
            older.push_back(id + folder * 1000);
        }
        m_fake.setNextObjectId(next);
        m_fake.setTransfer(FakeTransfer{{0, 50}, 100, c.reportsId, -1});
        const std::size_t deletedBefore = m_fake.deletedIds().size();
        m_trace.clear();
        ProgressLog log{{}, 1, 1};
        const CMTPMutationResult result =
            CMTP_UploadFileAmong(open(), source("p", 100).c_str(), folder, kStorage, "p.jpg", 100, older.data(),
                                 static_cast<int32_t>(older.size()), recordProgress, &log);
        EXPECT_EQ(result.error_code, 8);
        EXPECT_EQ(listingsIn(m_trace), c.listings);
        const std::vector<uint32_t> all = m_fake.deletedIds();
        const std::vector<uint32_t> deleted(all.begin() + static_cast<long>(deletedBefore), all.end());
        EXPECT_EQ(deleted, std::vector<uint32_t>{next});
        for (const uint32_t id : older) {
            EXPECT_TRUE(m_fake.object(id)) << id;
        }
        EXPECT_TRUE(m_fake.object(folder * 1000 + 1));
        EXPECT_TRUE(m_fake.object(folder * 1000 + 2));
        ++next;
    }
}

// Without the caller's knowledge (a count below 0) the bridge lists the folder itself, as before.
TEST_F(BridgeTest, AnUploadAmongUnknownObjectsListsTheFolderFirst)
{
    m_fake.addObject(FakeObject{900, kFolder, kStorage, "q.jpg", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_fake.setNextObjectId(710);
    m_fake.setTransfer(FakeTransfer{{0, 50}, 100, false, -1});
    m_trace.clear();
    ProgressLog log{{}, 1, 1};
    const uint32_t ignored = 900;
    EXPECT_EQ(CMTP_UploadFileAmong(open(), source("q", 100).c_str(), kFolder, kStorage, "q.jpg", 100, &ignored, -1, recordProgress, &log)
                  .error_code,
              8);
    EXPECT_EQ(listingsIn(m_trace), 2u);
    EXPECT_EQ(m_fake.deletedIds(), std::vector<uint32_t>{710});
    EXPECT_EQ(m_fake.objectIdsNamed("q.jpg"), std::vector<uint32_t>{900});
}

} // namespace
