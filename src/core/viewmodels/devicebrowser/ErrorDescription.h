#pragma once

#include "domain/QuillbarrowError.h"

#include <QString>

#include <exception>

namespace quillbarrow {

// How a log line shows an error: for a QuillbarrowError its case name, followed by its payload in
// parentheses when the case has one (texts quoted, labelled payloads with their labels), e.g.
// `usbInterfaceBusy("claimed")`, `nameConflict(existingName: "a")`, `pathNotFound`; for another
// error its own description.
QString plainDescription(const QuillbarrowError& error);
QString plainDescription(const std::exception_ptr& error);

} // namespace quillbarrow
