// The application's exception handler: where an exception goes that must not
// reach the caller (a dataset's filter event, the field-change notice of a
// BLOB stream that is being freed). The host application may install its own
// handler, which shows the exception to the user; the default writes it to
// the standard error stream.
//
// Threads: install while no other thread uses the engine; handling may run on
// any thread.
#pragma once

#include <exception>
#include <functional>

namespace vex {

using TVEXApplicationExceptionHandler = std::function<void(const std::exception& E)>;

// Installs Handler (empty: the default) and returns the one installed before.
TVEXApplicationExceptionHandler SetApplicationExceptionHandler(
    TVEXApplicationExceptionHandler Handler);

// Hands E to the installed handler. Never raises: what the handler itself
// raises is written to the standard error stream.
void ApplicationHandleException(const std::exception& E) noexcept;

// The exception being handled in a catch block, handed over as above; one that
// is not a std::exception is reported as an unknown exception.
void ApplicationHandleCurrentException() noexcept;

}  // namespace vex
