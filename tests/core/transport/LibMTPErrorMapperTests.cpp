#include "transport/LibMTPErrorMapper.h"

#include <gtest/gtest.h>

using namespace quillbarrow;
namespace Mapper = quillbarrow::LibMTPErrorMapper;

namespace {

struct MappingCase {
    const char* label;
    int code;
    QString message;
    QuillbarrowError expected;
};

} // namespace

TEST(LibMTPErrorMapper, MapsEachCodeAndMessageToItsError)
{
    const QString claimed = QStringLiteral("The USB interface could not be claimed. Another process may be using the "
                                           "phone, or macOS denied access to the interface.");
    const QString connecting = QStringLiteral("The MTP device could not be opened. Unlock the phone, choose File "
                                              "Transfer / MTP mode, and close other apps that may be using the device.");
    const QString busy = QStringLiteral("macOS Image Capture is holding exclusive access to the phone.");
    const QString heldElsewhere = QStringLiteral("Another program has claimed the phone's USB interface, so Quillbarrow "
                                                 "cannot open the phone.");
    const std::vector<MappingCase> cases = {
        {"busy PTP code", 1, QStringLiteral("Send failed: PTP Layer error 2019: something"),
         QuillbarrowError::transferFailed(QStringLiteral("The device reported that it is busy (PTP code 0x2019)."))},
        {"lower-case marker", 1, QStringLiteral("ptp layer error 201d"),
         QuillbarrowError::transferFailed(QStringLiteral("The device reported an invalid parameter (PTP code 0x201D)."))},
        {"unknown PTP code", 1, QStringLiteral("PTP Layer error 2001"),
         QuillbarrowError::transferFailed(QStringLiteral("The device reported an error (PTP code 0x2001)."))},
        {"code above 16 bits", 1, QStringLiteral("PTP Layer error 12345"),
         QuillbarrowError::transferFailed(QStringLiteral("PTP Layer error 12345"))},
        {"leading zeros aside", 1, QStringLiteral("PTP Layer error 0002019"),
         QuillbarrowError::transferFailed(QStringLiteral("The device reported that it is busy (PTP code 0x2019)."))},
        {"0x prefix reads the lone zero", 1, QStringLiteral("PTP Layer error 0x2019"),
         QuillbarrowError::transferFailed(QStringLiteral("The device reported an error (PTP code 0x0000)."))},
        {"full-width digit in the run", 1, QStringLiteral("PTP Layer error 20\uFF11\uFF19"),
         QuillbarrowError::transferFailed(QStringLiteral("PTP Layer error 20\uFF11\uFF19"))},
        {"no digits after the marker", 1, QStringLiteral("PTP Layer error zz"),
         QuillbarrowError::transferFailed(QStringLiteral("PTP Layer error zz"))},
        {"store full in capitals", 1, QStringLiteral("PTP STORE FULL"), QuillbarrowError::insufficientSpace()},
        {"full inside a word", 1, QStringLiteral("could not fully send"), QuillbarrowError::insufficientSpace()},
        {"not enough space", 1, QStringLiteral("Not enough space on device"), QuillbarrowError::insufficientSpace()},
        {"the USB transfer failed: cable pulled or device gone", 1,
         QStringLiteral("PTP Layer error 02ff: LIBMTP_Get_File_To_File_Descriptor(): Could not get file from device."),
         QuillbarrowError::transferInterrupted()},
        {"libmtp's input/output error in capitals", 1, QStringLiteral("PTP Layer error 02FF: get_handles_recursive()"),
         QuillbarrowError::transferInterrupted()},
        {"a neighbouring libmtp code is no transfer failure", 1, QStringLiteral("PTP Layer error 02fe: no data"),
         QuillbarrowError::transferFailed(QStringLiteral("The device reported an error (PTP code 0x02FE)."))},
        {"full still wins", 1, QStringLiteral("PTP Layer error 02ff: storage full"), QuillbarrowError::insufficientSpace()},
        {"only a general failure is read for it", 2, QStringLiteral("PTP Layer error 02ff"),
         QuillbarrowError::backendProtocolError(QStringLiteral("PTP Layer error 02ff"))},
        {"plain general failure", 1, QStringLiteral("libmtp reported a general failure."),
         QuillbarrowError::transferFailed(QStringLiteral("libmtp reported a general failure."))},
        {"PTP layer keeps its message", 2, QStringLiteral("PTP Layer error 2019"),
         QuillbarrowError::backendProtocolError(QStringLiteral("PTP Layer error 2019"))},
        {"USB layer, fixed text", 3, claimed, QuillbarrowError::usbInterfaceBusy(claimed)},
        {"USB layer, could not be opened", 3, QStringLiteral("device could not be opened"),
         QuillbarrowError::usbInterfaceBusy(QStringLiteral("device could not be opened"))},
        {"USB layer, other", 3, QStringLiteral("pipe error"), QuillbarrowError::sessionFailed(QStringLiteral("pipe error"))},
        {"memory", 4, QStringLiteral("libmtp could not allocate memory."),
         QuillbarrowError::sessionFailed(QStringLiteral("libmtp could not allocate memory."))},
        {"no device ignores text", 5, QStringLiteral("storage full claimed"), QuillbarrowError::deviceNotFound()},
        {"storage full ignores text", 6, QStringLiteral("claimed"), QuillbarrowError::insufficientSpace()},
        {"connecting, fixed text", 7, connecting, QuillbarrowError::sessionFailed(connecting)},
        {"connecting, exclusive", 7, busy, QuillbarrowError::usbInterfaceBusy(busy)},
        {"connecting, claimed by another program", 7, heldElsewhere, QuillbarrowError::usbInterfaceBusy(heldElsewhere)},
        {"connecting does not test could not be opened", 7, QStringLiteral("could not be opened"),
         QuillbarrowError::sessionFailed(QStringLiteral("could not be opened"))},
        {"cancelled ignores text", 8, QStringLiteral("full"), QuillbarrowError::userCancelled()},
        {"code 0", 0, QStringLiteral("odd"), QuillbarrowError::sessionFailed(QStringLiteral("odd"))},
        {"negative code", -3, QStringLiteral("odd"), QuillbarrowError::sessionFailed(QStringLiteral("odd"))},
        {"code 9", 9, QStringLiteral(""), QuillbarrowError::sessionFailed(QString())},
    };
    for (const MappingCase& c : cases) {
        const QuillbarrowError actual = Mapper::map(c.code, c.message);
        EXPECT_EQ(actual, c.expected) << c.label << ": got " << actual.technicalDetails().toStdString();
    }
}

TEST(LibMTPErrorMapper, ResponsePhrasesUseTheTypographicApostrophe)
{
    EXPECT_EQ(Mapper::ptpResponseMeaning(0x2005), QStringLiteral("that the operation isn\u2019t supported"));
    EXPECT_EQ(Mapper::ptpResponseMeaning(0x2013), QStringLiteral("that the storage isn\u2019t available"));
    EXPECT_EQ(Mapper::ptpResponseMeaning(0x201F), QStringLiteral("that the transaction was cancelled"));
    EXPECT_EQ(Mapper::ptpResponseMeaning(0x2004), QStringLiteral("an error"));
    EXPECT_EQ(Mapper::cleanedDeviceMessage(QStringLiteral("PTP Layer error 200c")),
              QStringLiteral("The device reported that its storage is full (PTP code 0x200C)."));
}
