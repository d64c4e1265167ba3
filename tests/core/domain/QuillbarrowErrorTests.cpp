#include "domain/QuillbarrowError.h"
#include "TestTexts.h"

#include <QSet>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace quillbarrow {
namespace {

using Kind = QuillbarrowError::Kind;

struct MessageCase {
    QuillbarrowError error;
    Kind kind;
    QString userMessage;
    QString technicalDetails;
};

std::vector<MessageCase> messageCases()
{
    const QString raw = QStringLiteral("LIBMTP_ERROR_USB: claim failed (errno 16) %s {0}");
    return {
        {QuillbarrowError::usbInterfaceBusy(raw), Kind::usbInterfaceBusy,
         "Another app or macOS service is already using this phone.", raw},
        {QuillbarrowError::sessionFailed(raw), Kind::sessionFailed,
         "Could not start a file transfer session with this device.", raw},
        {QuillbarrowError::nameConflict("IMG_0001.jpg"), Kind::nameConflict,
         "An item named \"IMG_0001.jpg\" already exists.", "Conflicting item: IMG_0001.jpg"},
        {QuillbarrowError::transferFailed("Storage full"), Kind::transferFailed,
         "The file couldn't be copied to the device. Storage full", "Storage full"},
        {QuillbarrowError::transferFailed(QString()), Kind::transferFailed,
         "The file couldn't be copied to the device. ", ""},
        {QuillbarrowError::backendProtocolError(raw), Kind::backendProtocolError,
         "The device returned an invalid MTP response.", raw},
        {QuillbarrowError::unsupportedOperation("Copying within the Android device is not supported yet."),
         Kind::unsupportedOperation, "This device does not support that operation.",
         "Copying within the Android device is not supported yet."},
        {QuillbarrowError::fileTooLargeToOpen("movie.mp4", 256000000000, 100000000), Kind::fileTooLargeToOpen,
         "\"movie.mp4\" is 256 GB and exceeds Quillbarrow's 100 MB open-file limit.",
         "File size: 256000000000 bytes; open-file limit: 100000000 bytes."},
        {QuillbarrowError::fileSizeUnavailableToOpen("notes.txt", 100000000), Kind::fileSizeUnavailableToOpen,
         "Quillbarrow could not verify the size of \"notes.txt\". Android files must be 100 MB or smaller to open.",
         "Android did not report a file size; open-file limit: 100000000 bytes."},
        {QuillbarrowError::fileOpenFailed("a.pdf", "No application can open it."), Kind::fileOpenFailed,
         "Could not open \"a.pdf\". No application can open it.", "No application can open it."},
        {QuillbarrowError::unknown(raw), Kind::unknown, "Something went wrong while talking to the device.", raw},
        {QuillbarrowError::deviceNotFound(), Kind::deviceNotFound, "No Android file transfer device was found.",
         "deviceNotFound"},
        {QuillbarrowError::deviceLockedOrUnavailable(), Kind::deviceLockedOrUnavailable,
         "The device is locked or has not granted file access.", "deviceLockedOrUnavailable"},
        {QuillbarrowError::permissionDenied(), Kind::permissionDenied,
         "The device denied access to this file or folder.", "permissionDenied"},
        {QuillbarrowError::pathNotFound(), Kind::pathNotFound, "The selected file or folder is no longer available.",
         "pathNotFound"},
        {QuillbarrowError::insufficientSpace(), Kind::insufficientSpace, "The device does not have enough free space.",
         "insufficientSpace"},
        {QuillbarrowError::transferInterrupted(), Kind::transferInterrupted,
         "The transfer was interrupted. Check the cable and keep the phone unlocked.", "transferInterrupted"},
        {QuillbarrowError::userCancelled(), Kind::userCancelled, "The operation was cancelled.", "userCancelled"},
        {QuillbarrowError::localFileFailed("Could not save a.txt in /home/me: No space left on device"),
         Kind::localFileFailed, "Could not save a.txt in /home/me: No space left on device",
         "Could not save a.txt in /home/me: No space left on device"},
        {QuillbarrowError::deviceChanged(), Kind::deviceChanged,
         "The Android device changed since these items were chosen.", "deviceChanged"},
    };
}

TEST(QuillbarrowErrorTest, EveryCaseHasItsMessagesAndWhatGivesTheDetails)
{
    QSet<int> kindsSeen;
    for (const MessageCase& c : messageCases()) {
        SCOPED_TRACE(QuillbarrowError::kindName(c.kind).toStdString());
        EXPECT_EQ(c.error.kind(), c.kind);
        EXPECT_EQ(c.error.userMessage(), c.userMessage);
        EXPECT_EQ(c.error.technicalDetails(), c.technicalDetails);
        EXPECT_EQ(QString::fromUtf8(c.error.what()), c.technicalDetails);
        kindsSeen.insert(static_cast<int>(c.kind));
    }
    EXPECT_EQ(kindsSeen.size(), 19);
}

TEST(QuillbarrowErrorTest, OversizedFileMessageFormatsSizesButDetailsKeepPlainBytes)
{
    const QuillbarrowError error = QuillbarrowError::fileTooLargeToOpen("big.bin", 100000001, 100000000);
    // 100,000,001 bytes shows as 100 MB to the user; the detail line keeps every byte.
    EXPECT_EQ(error.userMessage(), "\"big.bin\" is 100 MB and exceeds Quillbarrow's 100 MB open-file limit.");
    EXPECT_EQ(error.technicalDetails(), "File size: 100000001 bytes; open-file limit: 100000000 bytes.");
    EXPECT_EQ(error.fileName(), "big.bin");
    EXPECT_EQ(error.size(), 100000001);
    EXPECT_EQ(error.limit(), 100000000);
}

TEST(QuillbarrowErrorTest, EqualityIsCaseAndPayload)
{
    EXPECT_EQ(QuillbarrowError::userCancelled(), QuillbarrowError::userCancelled());
    EXPECT_NE(QuillbarrowError::unsupportedOperation("a"), QuillbarrowError::unsupportedOperation("b"));
    // Same payload, different case.
    EXPECT_NE(QuillbarrowError::sessionFailed("x"), QuillbarrowError::unknown("x"));
    EXPECT_NE(QuillbarrowError::fileTooLargeToOpen("f", 2, 1), QuillbarrowError::fileTooLargeToOpen("f", 3, 1));
    EXPECT_NE(QuillbarrowError::fileOpenFailed("f", "r"), QuillbarrowError::fileOpenFailed("f", "s"));
    EXPECT_EQ(QuillbarrowError::nameConflict(testing::precomposedCafe()),
              QuillbarrowError::nameConflict(testing::decomposedCafe()));
}

TEST(QuillbarrowErrorTest, ForeignErrorsAreWrappedAsUnknown)
{
    const auto wrap = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return QuillbarrowError::fromException(std::current_exception());
        }
        return QuillbarrowError::unknown("nothing was thrown");
    };

    const QuillbarrowError own = wrap([] { throw QuillbarrowError::nameConflict("a.txt"); });
    EXPECT_EQ(own, QuillbarrowError::nameConflict("a.txt"));

    const QuillbarrowError standard = wrap([] { throw std::runtime_error("disk on fire"); });
    EXPECT_EQ(standard, QuillbarrowError::unknown("disk on fire"));
    EXPECT_EQ(standard.technicalDetails(), "disk on fire");

    const QuillbarrowError other = wrap([] { throw 42; });
    EXPECT_EQ(other, QuillbarrowError::unknown("Unknown error"));

    EXPECT_EQ(QuillbarrowError::fromException(nullptr), QuillbarrowError::unknown("Unknown error"));
}

TEST(QuillbarrowErrorTest, IsCaughtAsAStandardException)
{
    try {
        throw QuillbarrowError::pathNotFound();
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "pathNotFound");
    }
}

} // namespace
} // namespace quillbarrow
