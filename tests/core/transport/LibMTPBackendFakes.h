#pragma once

#include "transport/LibMTPBridge.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <string>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace quillbarrow::backendtest {

// A detection entry as the bridge fills it in.
inline CMTPRawDeviceEntry rawDevice(std::uint16_t vendorID, std::uint16_t productID,
                                    std::uint32_t busLocation, std::uint8_t devnum,
                                    const QByteArray& vendor = {}, const QByteArray& product = {})
{
    CMTPRawDeviceEntry entry{};
    entry.vendor_id = vendorID;
    entry.product_id = productID;
    entry.bus_location = busLocation;
    entry.devnum = devnum;
    std::strncpy(entry.vendor, vendor.constData(), sizeof entry.vendor - 1);
    std::strncpy(entry.product, product.constData(), sizeof entry.product - 1);
    return entry;
}

template <typename Record> void setMessage(Record& record, const QByteArray& message)
{
    std::strncpy(record.error_message, message.constData(), sizeof record.error_message - 1);
}

inline CMTPOpenResult openFailure(std::int32_t code, const QByteArray& message)
{
    CMTPOpenResult result{};
    result.error_code = code;
    setMessage(result, message);
    return result;
}

// A distinct handle value per number; the bridge never looks inside one.
inline CMTPDeviceHandle* fakeHandle(int number)
{
    static char handles[16];
    return reinterpret_cast<CMTPDeviceHandle*>(&handles[number]);
}

// The number fakeHandle() made the handle from.
inline int handleNumber(CMTPDeviceHandle* handle)
{
    return static_cast<int>(reinterpret_cast<char*>(handle) - reinterpret_cast<char*>(fakeHandle(0)));
}

inline CMTPOpenResult openSuccess(CMTPDeviceHandle* handle)
{
    CMTPOpenResult result{};
    result.handle = handle;
    return result;
}

// A scripted bridge: detection reports the attached entries (or a failure), opens answer from a
// queue, and every call that matters is recorded. Callable from any thread.
class FakeLibMTPBridge final : public LibMTPBridge {
  public:
    struct OpenCall {
        bool seize;
        std::uint32_t busLocation;
        std::uint8_t devnum;
        std::int32_t maxAttempts;
        std::int32_t delayMs;
        bool operator==(const OpenCall&) const = default;
    };

    // ---- Script ----
    void attach(QList<CMTPRawDeviceEntry> entries)
    {
        std::lock_guard lock(m_mutex);
        m_attached = std::move(entries);
        m_detectionCode = 0;
    }
    void failDetection(std::int32_t code, const QByteArray& message)
    {
        std::lock_guard lock(m_mutex);
        m_detectionCode = code;
        m_detectionMessage = message;
    }
    void answerSeizeOpen(CMTPOpenResult result)
    {
        std::lock_guard lock(m_mutex);
        m_seizeAnswers.push_back(result);
    }
    void answerPlainOpen(CMTPOpenResult result)
    {
        std::lock_guard lock(m_mutex);
        m_plainAnswers.push_back(result);
    }
    void reportIdentity(const QByteArray& friendly, const QByteArray& model, const QByteArray& manufacturer,
                        const QByteArray& serial)
    {
        std::lock_guard lock(m_mutex);
        m_identity = CMTPDeviceIdentity{};
        std::strncpy(m_identity.friendly_name, friendly.constData(), sizeof m_identity.friendly_name - 1);
        std::strncpy(m_identity.model_name, model.constData(), sizeof m_identity.model_name - 1);
        std::strncpy(m_identity.manufacturer, manufacturer.constData(), sizeof m_identity.manufacturer - 1);
        std::strncpy(m_identity.serial_number, serial.constData(), sizeof m_identity.serial_number - 1);
    }

    // The next helper-suppressing open waits inside the bridge until release().
    void holdNextOpen()
    {
        std::lock_guard lock(m_mutex);
        m_holdNextOpen = true;
    }
    // Every close waits inside the bridge until release().
    void holdCloses()
    {
        std::lock_guard lock(m_mutex);
        m_holdCloses = true;
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_holdNextOpen = false;
            m_holdCloses = false;
            m_released = true;
        }
        m_changed.notify_all();
    }
    // Calls waiting inside the bridge.
    int waiting() const
    {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }

    // ---- Record ----
    // "open <handle number>" when a helper-suppressing open begins (the handle it will give, or
    // -1), and "close <handle number>" when a close has ended, in the order they happened.
    std::vector<std::string> openingsAndClosings() const
    {
        std::lock_guard lock(m_mutex);
        return m_openingsAndClosings;
    }
    int detections() const
    {
        std::lock_guard lock(m_mutex);
        return m_detections;
    }
    // Lists handed out by detection and not freed yet.
    int unfreedLists() const
    {
        std::lock_guard lock(m_mutex);
        return m_unfreedLists;
    }
    std::vector<OpenCall> opens() const
    {
        std::lock_guard lock(m_mutex);
        return m_opens;
    }
    std::vector<CMTPDeviceHandle*> closed() const
    {
        std::lock_guard lock(m_mutex);
        return m_closed;
    }
    std::vector<CMTPDeviceHandle*> identityQueries() const
    {
        std::lock_guard lock(m_mutex);
        return m_identityQueries;
    }

    // ---- LibMTPBridge ----
    CMTPDeviceList detectDevices() override
    {
        std::lock_guard lock(m_mutex);
        ++m_detections;
        ++m_unfreedLists;
        CMTPDeviceList list{};
        if (m_detectionCode != 0) {
            list.error_code = m_detectionCode;
            setMessage(list, m_detectionMessage);
            return list;
        }
        list.count = static_cast<std::int32_t>(m_attached.size());
        if (list.count > 0) {
            list.entries = new CMTPRawDeviceEntry[m_attached.size()];
            std::copy(m_attached.begin(), m_attached.end(), list.entries);
        }
        return list;
    }
    void freeDeviceList(CMTPDeviceList* list) override
    {
        std::lock_guard lock(m_mutex);
        --m_unfreedLists;
        delete[] list->entries;
        list->entries = nullptr;
        list->count = 0;
    }
    CMTPOpenResult openDevice(std::uint32_t busLocation, std::uint8_t devnum) override
    {
        std::lock_guard lock(m_mutex);
        m_opens.push_back({false, busLocation, devnum, 0, 0});
        return nextAnswer(m_plainAnswers);
    }
    CMTPOpenResult openDeviceWithSeize(std::uint32_t busLocation, std::uint8_t devnum,
                                       std::int32_t maxAttempts, std::int32_t delayMs) override
    {
        std::unique_lock lock(m_mutex);
        m_opens.push_back({true, busLocation, devnum, maxAttempts, delayMs});
        const CMTPOpenResult answer = nextAnswer(m_seizeAnswers);
        m_openingsAndClosings.push_back("open " +
                                        std::to_string(answer.handle != nullptr ? handleNumber(answer.handle) : -1));
        if (std::exchange(m_holdNextOpen, false)) {
            waitForRelease(lock);
        }
        return answer;
    }
    void closeDevice(CMTPDeviceHandle* handle) override
    {
        std::unique_lock lock(m_mutex);
        if (m_holdCloses) {
            waitForRelease(lock);
        }
        m_closed.push_back(handle);
        m_openingsAndClosings.push_back("close " + std::to_string(handleNumber(handle)));
    }
    CMTPDeviceIdentity deviceIdentity(CMTPDeviceHandle* handle) override
    {
        std::lock_guard lock(m_mutex);
        m_identityQueries.push_back(handle);
        return m_identity;
    }

    // Not used by the backend.
    CMTPStorageList storages(CMTPDeviceHandle*) override { return unexpected<CMTPStorageList>(); }
    void freeStorageList(CMTPStorageList*) override { unexpected<int>(); }
    CMTPObjectList listDirectory(CMTPDeviceHandle*, std::uint32_t, std::uint32_t) override
    {
        return unexpected<CMTPObjectList>();
    }
    void freeObjectList(CMTPObjectList*) override { unexpected<int>(); }
    std::uint32_t rootParentID() override { return 0xFFFFFFFFu; }
    CMTPMutationResult createFolder(CMTPDeviceHandle*, const char*, std::uint32_t, std::uint32_t) override
    {
        return unexpected<CMTPMutationResult>();
    }
    CMTPMutationResult deleteObject(CMTPDeviceHandle*, std::uint32_t) override
    {
        return unexpected<CMTPMutationResult>();
    }
    CMTPMutationResult renameObject(CMTPDeviceHandle*, std::uint32_t, const char*) override
    {
        return unexpected<CMTPMutationResult>();
    }
    CMTPMutationResult downloadFile(CMTPDeviceHandle*, std::uint32_t, const char*, std::int64_t, CMTPProgressCallback,
                                    void*) override
    {
        return unexpected<CMTPMutationResult>();
    }
    CMTPMutationResult uploadFile(CMTPDeviceHandle*, const char*, std::uint32_t, std::uint32_t, const char*,
                                  std::uint64_t, const std::uint32_t*, std::int32_t, CMTPProgressCallback,
                                  void*) override
    {
        return unexpected<CMTPMutationResult>();
    }

  private:
    void waitForRelease(std::unique_lock<std::mutex>& lock)
    {
        m_released = false;
        ++m_waiting;
        m_changed.wait(lock, [this] { return m_released; });
        --m_waiting;
    }
    template <typename Record> static Record unexpected()
    {
        ADD_FAILURE() << "the backend called a session operation of the bridge";
        return Record{};
    }
    static CMTPOpenResult nextAnswer(std::deque<CMTPOpenResult>& answers)
    {
        if (answers.empty()) {
            return openFailure(5, "No MTP device is attached.");
        }
        CMTPOpenResult answer = answers.front();
        answers.pop_front();
        return answer;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_holdNextOpen = false;
    bool m_holdCloses = false;
    bool m_released = false;
    int m_waiting = 0;
    std::vector<std::string> m_openingsAndClosings;
    QList<CMTPRawDeviceEntry> m_attached;
    std::int32_t m_detectionCode = 0;
    QByteArray m_detectionMessage;
    std::deque<CMTPOpenResult> m_seizeAnswers;
    std::deque<CMTPOpenResult> m_plainAnswers;
    CMTPDeviceIdentity m_identity{};
    int m_detections = 0;
    int m_unfreedLists = 0;
    std::vector<OpenCall> m_opens;
    std::vector<CMTPDeviceHandle*> m_closed;
    std::vector<CMTPDeviceHandle*> m_identityQueries;
};

} // namespace quillbarrow::backendtest
