#include "components/VEXApplication.h"

#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace vex {

namespace {

std::mutex gHandlerLock;
TVEXApplicationExceptionHandler gHandler;

void WriteToStandardError(const char* What) noexcept {
  std::fprintf(stderr, "Exception: %s\n", What);
}

}  // namespace

TVEXApplicationExceptionHandler SetApplicationExceptionHandler(
    TVEXApplicationExceptionHandler Handler) {
  std::lock_guard<std::mutex> guard(gHandlerLock);
  std::swap(gHandler, Handler);
  return Handler;
}

void ApplicationHandleException(const std::exception& E) noexcept {
  TVEXApplicationExceptionHandler handler;
  {
    std::lock_guard<std::mutex> guard(gHandlerLock);
    handler = gHandler;
  }
  if (!handler) {
    WriteToStandardError(E.what());
    return;
  }
  try {
    handler(E);
  } catch (const std::exception& inner) {
    WriteToStandardError(inner.what());
  } catch (...) {
    WriteToStandardError("unknown exception");
  }
}

void ApplicationHandleCurrentException() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    ApplicationHandleException(e);
  } catch (...) {
    ApplicationHandleException(std::runtime_error("unknown exception"));
  }
}

}  // namespace vex
