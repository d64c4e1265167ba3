#pragma once

#include "BackendMode.h"
#include "transport/DynamicLibraryProbe.h"
#include "transport/MTPBackend.h"

#include <QHash>
#include <QProcessEnvironment>
#include <QString>
#include <memory>

namespace quillbarrow {

// The device backend chosen for the whole run, made once at start-up.
//
// QUILLBARROW_BACKEND set to exactly "mock" gives the mock backend with its one pretend phone;
// exactly "libmtp" gives the libmtp backend without looking for the library; any other value, or
// none, lets the library search decide: the libmtp backend when a libmtp library file is found,
// else the USB probe. The values are compared exactly: "Mock" or "mock " choose nothing.
struct AppEnvironment {
    using Variables = QHash<QString, QString>;

    AppEnvironment(std::shared_ptr<MTPBackend> backend, BackendMode backendMode);

    std::shared_ptr<MTPBackend> backend;
    // Which kind `backend` is; a record of the choice, read by nothing else.
    BackendMode backendMode;

    // The name of the variable that picks the backend.
    static QString backendVariable();

    // The choice for this process: its environment and this machine's library search.
    static AppEnvironment
    live(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    // The choice for `environment`, with `libraryProbe` as the library search. The libmtp backend
    // keeps that probe and asks it again whenever it lists or opens devices.
    static AppEnvironment live(const Variables& environment, const DynamicLibraryProbe& libraryProbe);

    static Variables variablesOf(const QProcessEnvironment& environment);
};

} // namespace quillbarrow
