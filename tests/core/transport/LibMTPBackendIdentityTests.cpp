#include "LibMTPBackendFakes.h"
#include "domain/QuillbarrowError.h"
#include "transport/DynamicLibraryProbe.h"
#include "transport/LibMTPBackend.h"
#include "transport/LibMTPDeviceScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

using namespace quillbarrow;
using namespace quillbarrow::backendtest;

namespace {

std::string text(const QString& value)
{
    return value.toStdString();
}

std::string text(const std::optional<QString>& value)
{
    return value ? '"' + value->toStdString() + '"' : std::string("absent");
}

// Every field of a record, readable in a failure message.
std::string describe(const AndroidDevice& device)
{
    return text(device.id.rawValue()) + " \"" + text(device.displayName) + "\" " + text(device.manufacturer) +
           " " + text(device.model) + " " + text(device.serialNumber);
}

LibMTPDeviceEntry entry(const char* id)
{
    return LibMTPDeviceEntry(AndroidDevice(DeviceID(QString::fromLatin1(id)), QStringLiteral("Phone"),
                                           std::nullopt, std::nullopt, std::nullopt,
                                           DeviceConnectionKind::usb),
                             0, 0);
}

std::string matched(const char* wanted, const QList<LibMTPDeviceEntry>& entries)
{
    const std::optional<LibMTPDeviceEntry> found =
        LibMTPBackend::matchEntry(DeviceID(QString::fromLatin1(wanted)), entries);
    return found ? text(found->device.id.rawValue()) : std::string("nothing");
}

} // namespace

// ---- Scanning ----

TEST(LibMTPDeviceScanner, IdentifiersAreVendorProductBusLocationAndDeviceNumberZeroPadded)
{
    EXPECT_EQ(LibMTPDeviceScanner::deviceIdentifier(0x04e8, 0x6860, 0x00100000, 5).rawValue(),
              QStringLiteral("mtp-04e8-6860-00100000-005"));
    EXPECT_EQ(LibMTPDeviceScanner::deviceIdentifier(0xFFFF, 0xABCD, 0xFFFFFFFF, 255).rawValue(),
              QStringLiteral("mtp-ffff-abcd-ffffffff-255"));
    EXPECT_EQ(LibMTPDeviceScanner::deviceIdentifier(0, 1, 0, 0).rawValue(),
              QStringLiteral("mtp-0000-0001-00000000-000"));
}

TEST(LibMTPDeviceScanner, NamesComeFromTheLibrarysDeviceTable)
{
    FakeLibMTPBridge bridge;
    bridge.attach({rawDevice(0x04e8, 0x6860, 0x00100000, 5, "Samsung", "Galaxy S10/S20/S21 (MTP)"),
                   rawDevice(0x18d1, 0x4ee1, 0x00200000, 7),
                   rawDevice(0x2717, 0xff40, 0x00300000, 9, "", "Mi Note"),
                   rawDevice(0x12d1, 0x107e, 0x00400000, 11, "Huawei", "")});

    const QList<LibMTPDeviceEntry> entries = LibMTPDeviceScanner::scan(bridge);
    ASSERT_EQ(entries.size(), 4);
    std::vector<std::string> records;
    for (const LibMTPDeviceEntry& scanned : entries) {
        records.push_back(describe(scanned.device));
        EXPECT_EQ(scanned.device.connection, DeviceConnectionKind::usb);
    }
    EXPECT_EQ(records, (std::vector<std::string>{
                           "mtp-04e8-6860-00100000-005 \"Samsung Galaxy S10/S20/S21 (MTP)\" \"Samsung\" "
                           "\"Galaxy S10/S20/S21 (MTP)\" absent",
                           "mtp-18d1-4ee1-00200000-007 \"Android MTP device\" absent absent absent",
                           "mtp-2717-ff40-00300000-009 \"Mi Note\" absent \"Mi Note\" absent",
                           "mtp-12d1-107e-00400000-011 \"Huawei\" \"Huawei\" absent absent",
                       }));
    EXPECT_EQ(entries[0].busLocation, 0x00100000u);
    EXPECT_EQ(entries[0].deviceNumber, 5);
    EXPECT_EQ(entries[3].busLocation, 0x00400000u);
    EXPECT_EQ(entries[3].deviceNumber, 11);
    EXPECT_EQ(bridge.unfreedLists(), 0);
}

TEST(LibMTPDeviceScanner, FixedSizeFieldsAreReadToTheirFirstNulOrTheirEnd)
{
    char full[4] = {'a', 'b', 'c', 'd'}; // no NUL anywhere
    EXPECT_EQ(LibMTPDeviceScanner::fieldText(full, sizeof full), QStringLiteral("abcd"));
    const char cut[8] = {'P', 'i', 'x', '\0', 'e', 'l', '\0', '\0'};
    EXPECT_EQ(LibMTPDeviceScanner::fieldText(cut, sizeof cut), QStringLiteral("Pix"));
    // A name cut inside a multi-byte character keeps what can be read.
    const char partial[4] = {'X', '\xC3', '\0', '\0'};
    EXPECT_TRUE(LibMTPDeviceScanner::fieldText(partial, sizeof partial).startsWith(QLatin1Char('X')));
}

TEST(LibMTPDeviceScanner, ADetectionFailureIsThrownMappedAndDevicesGivesNone)
{
    FakeLibMTPBridge bridge;
    bridge.attach({rawDevice(0x04e8, 0x6860, 1, 1, "Samsung", "Galaxy")});
    bridge.failDetection(2, "The device returned an invalid MTP/PTP response.");
    try {
        LibMTPDeviceScanner::scan(bridge);
        ADD_FAILURE() << "the scan did not fail";
    } catch (const QuillbarrowError& error) {
        EXPECT_EQ(error, QuillbarrowError::backendProtocolError(
                             QStringLiteral("The device returned an invalid MTP/PTP response.")));
    }
    EXPECT_TRUE(LibMTPDeviceScanner::devices(bridge).isEmpty());
    EXPECT_EQ(bridge.unfreedLists(), 0);

    bridge.attach({});
    EXPECT_TRUE(LibMTPDeviceScanner::scan(bridge).isEmpty());
    EXPECT_EQ(bridge.unfreedLists(), 0);
}

// ---- Matching a wanted identifier ----

TEST(LibMTPBackendMatchEntry, TheExactIdentifierWinsOverAnEarlierEntryOnTheSamePort)
{
    const QList<LibMTPDeviceEntry> entries{entry("mtp-04e8-6860-00100000-007"),
                                           entry("mtp-04e8-6860-00100000-005")};
    EXPECT_EQ(matched("mtp-04e8-6860-00100000-005", entries), "mtp-04e8-6860-00100000-005");
}

TEST(LibMTPBackendMatchEntry, ThenTheSamePortThenTheSameModel)
{
    const QList<LibMTPDeviceEntry> entries{
        entry("mtp-18d1-4ee1-00100000-003"), entry("mtp-04e8-6860-00300000-002"),
        entry("mtp-04e8-6860-00100000-007"), entry("mtp-04e8-6860-00200000-009")};
    // Re-enumerated on the same port: the same port beats an earlier entry of the same model.
    EXPECT_EQ(matched("mtp-04e8-6860-00100000-005", entries), "mtp-04e8-6860-00100000-007");
    // Moved to a port none of them is on: the first of the same model.
    EXPECT_EQ(matched("mtp-04e8-6860-00900000-005", entries), "mtp-04e8-6860-00300000-002");
    // Another model, or another vendor with the same product number: nothing.
    EXPECT_EQ(matched("mtp-04e8-6861-00100000-005", entries), "nothing");
    EXPECT_EQ(matched("mtp-04e9-6860-00100000-005", entries), "nothing");
    EXPECT_EQ(matched("mtp-04e8-6860-00100000-005", {}), "nothing");
}

TEST(LibMTPBackendMatchEntry, PiecesAreExactTextsAndShortIdentifiersMatchOnlyExactly)
{
    const QList<LibMTPDeviceEntry> entries{entry("mtp-04e8-6860-00100000-007"), entry("mock-pixel-8"),
                                           entry("18d1-4ee1")};
    EXPECT_EQ(matched("mtp-04E8-6860-00100000-005", entries), "nothing"); // letter case counts
    EXPECT_EQ(matched("mock-pixel-8", entries), "mock-pixel-8");
    EXPECT_EQ(matched("mock-pixel", entries), "nothing");
    EXPECT_EQ(matched("18d1-4ee1", entries), "18d1-4ee1");
    EXPECT_EQ(matched("18d1-4ee1-", entries), "nothing");   // two pieces: only the exact text would do
    EXPECT_EQ(matched("mock-pixel-9", entries), "nothing"); // three pieces, none of them alike
    EXPECT_EQ(matched("mtp--04e8-6860", entries), "mtp-04e8-6860-00100000-007"); // empty pieces dropped
}

// ---- Names an opened device reports ----

TEST(LibMTPBackendDisplayName, TheFriendlyNameThenTheModelWithItsMakerThenTheFallback)
{
    using Row = std::tuple<const char*, const char*, const char*, const char*, const char*>;
    const std::vector<Row> rows{
        // friendly, model, manufacturer, fallback -> shown
        {"Anna's Phone", "Pixel 8", "Google", "F", "Anna's Phone"},
        {"  My_Phone_\n", "Pixel 8", "Google", "F", "My Phone"},
        {"Android", "Pixel 8", "Google", "F", "Google Pixel 8"},
        {"ANDROID", "Pixel 8", "Google", "F", "Google Pixel 8"},
        {"   ", "Pixel 8", "Google", "F", "Google Pixel 8"},
        {"mtp", "SM-G991B", "Samsung", "F", "Samsung SM-G991B"},
        {"Samsung Android", "Galaxy_S21", "", "F", "Galaxy S21"},
        {"unknown", "Samsung Galaxy", "SAMSUNG", "F", "Samsung Galaxy"},
        {"Unknown Device", "Pixel_8", "google_", "F", "google Pixel 8"},
        {"", "Android", "Google", "Samsung_Galaxy ", "Samsung_Galaxy "},
        {"", " ", "Google", " fallback_", " fallback_"},
        {"", "MTP", "", "F", "F"},
        {"Unknown_Device", "", "", "F", "F"},
        {"Android Phone", "", "", "F", "Android Phone"},
    };
    for (const auto& [friendly, model, manufacturer, fallback, shown] : rows) {
        EXPECT_EQ(text(LibMTPBackend::bestDisplayName(QString::fromUtf8(friendly), QString::fromUtf8(model),
                                                      QString::fromUtf8(manufacturer),
                                                      QString::fromUtf8(fallback))),
                  shown)
            << friendly << " | " << model << " | " << manufacturer;
    }
}

TEST(LibMTPBackendEnrichedDevice, TheDevicesOwnStringsCompleteTheScannedRecord)
{
    FakeLibMTPBridge bridge;
    const AndroidDevice scanned(DeviceID(QStringLiteral("mtp-04e8-6860-00100000-005")),
                                QStringLiteral("Samsung Galaxy"), QStringLiteral("Samsung"),
                                QStringLiteral("Galaxy"), std::nullopt, DeviceConnectionKind::usb);

    bridge.reportIdentity("Android", "SM-G991B", "SAMSUNG_Electronics ", "R58N_12 34\n");
    const AndroidDevice enriched = LibMTPBackend::enrichedDevice(scanned, fakeHandle(3), bridge);
    EXPECT_EQ(describe(enriched), "mtp-04e8-6860-00100000-005 \"SAMSUNG Electronics SM-G991B\" "
                                  "\"SAMSUNG Electronics\" \"SM-G991B\" \"R58N 12 34\"");
    EXPECT_EQ(bridge.identityQueries(), std::vector<CMTPDeviceHandle*>{fakeHandle(3)});

    // Nothing reported: the scanned record stays as it was, display name included.
    bridge.reportIdentity("", "", "", "");
    EXPECT_EQ(LibMTPBackend::enrichedDevice(scanned, fakeHandle(3), bridge), scanned);

    // Only a model: it replaces the table's model; the maker stays the table's.
    bridge.reportIdentity("", "Galaxy_S21", " ", "");
    EXPECT_EQ(describe(LibMTPBackend::enrichedDevice(scanned, fakeHandle(3), bridge)),
              "mtp-04e8-6860-00100000-005 \"Galaxy S21\" \"Samsung\" \"Galaxy S21\" absent");
}

// ---- The library search ----

TEST(DynamicLibraryProbe, LooksBesideTheProgramThenInTheSystemFolders)
{
    const QString system = DynamicLibraryProbe::multiarchLibraryFolder();
    const QStringList withProgram =
        DynamicLibraryProbe::standardCandidates(QStringLiteral("/opt/quillbarrow/bin/quillbarrow"));
    EXPECT_EQ(withProgram,
              (QStringList{QStringLiteral("/opt/quillbarrow/lib/libmtp.so.9"),
                           QStringLiteral("/opt/quillbarrow/lib/libmtp.so"),
                           system + QStringLiteral("/libmtp.so.9"), system + QStringLiteral("/libmtp.so"),
                           QStringLiteral("/usr/local/lib/libmtp.so.9"),
                           QStringLiteral("/usr/local/lib/libmtp.so")}));
    EXPECT_EQ(DynamicLibraryProbe::standardCandidates(std::nullopt), withProgram.mid(2));
    EXPECT_TRUE(system.startsWith(QStringLiteral("/usr/lib"))) << text(system);

    // This program's own lib folder comes first.
    const QString programLib =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../lib"));
    EXPECT_EQ(DynamicLibraryProbe().candidates().value(0), programLib + QStringLiteral("/libmtp.so.9"));
}

TEST(DynamicLibraryProbe, TheFirstCandidateThatExistsIsTheAnswer)
{
    const QStringList candidates =
        DynamicLibraryProbe::standardCandidates(QStringLiteral("/app/bin/quillbarrow"));
    const auto probeWith = [&candidates](QSet<QString> present) {
        return DynamicLibraryProbe(candidates,
                                   [present](const QString& path) { return present.contains(path); });
    };
    const QString bundled = QStringLiteral("/app/lib/libmtp.so.9");
    const QString local = QStringLiteral("/usr/local/lib/libmtp.so.9");
    const QString system = DynamicLibraryProbe::multiarchLibraryFolder() + QStringLiteral("/libmtp.so");

    EXPECT_EQ(probeWith({local, system, bundled}).findLibMTP(), bundled);
    EXPECT_EQ(probeWith({local, system}).findLibMTP(), system);
    EXPECT_EQ(probeWith({local}).findLibMTP(), local);
    EXPECT_EQ(probeWith({}).findLibMTP(), std::nullopt);
    EXPECT_EQ(probeWith({QStringLiteral("/usr/lib/libmtp.so.9")}).findLibMTP(),
              std::nullopt); // not a candidate
}

TEST(DynamicLibraryProbe, TheRealExistenceTestSeesFilesAndLinks)
{
    const QString here = QCoreApplication::applicationFilePath();
    EXPECT_TRUE(DynamicLibraryProbe::fileExists(here));
    EXPECT_FALSE(DynamicLibraryProbe::fileExists(here + QStringLiteral(".missing")));
    EXPECT_EQ(DynamicLibraryProbe::executablePath(), QFileInfo(here).canonicalFilePath());
}
