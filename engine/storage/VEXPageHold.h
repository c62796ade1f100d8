// A hold on one page of a page manager, given back with PutPage on every way
// out of the scope that took it.
//
//   TVEXPageHold hold = TVEXPageHold::Get(manager, SessionID, PageNo, PageType, false);
//   ... hold->Buffer() ...; hold->SetIsDirty(true);
//   // PutPage runs here, also when an exception leaves the scope
//
// Invariant: a hold that is not empty stands for exactly one UseCount of its
// page; moving passes that one count on, Release hands it to the caller.
//
// The destructor never raises: a failure of PutPage there is handed to
// ReportReleaseFault (foundation/VEXGuards.h). Call Put to release on the
// normal path and be told of such a failure.
//
// Threads: as the page manager: REQUIRES the lock of the database that owns
// the manager, held while the hold is taken and until it is given back.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

#include "foundation/VEXGuards.h"
#include "foundation/VEXLock.h"
#include "storage/VEXPage.h"

namespace vex {

class TVEXPageHold {
 public:
  TVEXPageHold() noexcept = default;
  // Adopts a hold the caller already took (GetPage, AddPage).
  TVEXPageHold(TVEXPageManager& Manager, TVEXPage* Page) noexcept
      : FManager(&Manager), FPage(Page) {}

  // GetPage and AddPage, with their errors.
  static TVEXPageHold Get(TVEXPageManager& Manager, int32_t SessionID, int32_t PageNo,
                          uint16_t PageType, bool SynchronizeAllowed)
      VEX_REQUIRES(Manager.DatabaseLock()) {
    return TVEXPageHold(Manager, Manager.GetPage(SessionID, PageNo, PageType, SynchronizeAllowed));
  }
  static TVEXPageHold Add(TVEXPageManager& Manager, int32_t SessionID, uint16_t PageType)
      VEX_REQUIRES(Manager.DatabaseLock()) {
    return TVEXPageHold(Manager, Manager.AddPage(SessionID, PageType));
  }

  TVEXPageHold(TVEXPageHold&& Other) noexcept
      : FManager(Other.FManager), FPage(std::exchange(Other.FPage, nullptr)) {}
  TVEXPageHold& operator=(TVEXPageHold&& Other) noexcept {
    if (this != &Other) {
      PutQuietly();
      FManager = Other.FManager;
      FPage = std::exchange(Other.FPage, nullptr);
    }
    return *this;
  }
  TVEXPageHold(const TVEXPageHold&) = delete;
  TVEXPageHold& operator=(const TVEXPageHold&) = delete;
  ~TVEXPageHold() { PutQuietly(); }

  TVEXPage* Page() const noexcept { return FPage; }
  TVEXPage* operator->() const noexcept { return FPage; }
  explicit operator bool() const noexcept { return FPage != nullptr; }

  // Gives the page back now; the hold is empty afterwards, also when PutPage
  // raises. The analysis cannot follow a lock held across the life of an
  // object, so the release is exempt: the hold was taken under the lock (Get,
  // Add) and the caller keeps it until the hold is gone.
  void Put() VEX_NO_THREAD_SAFETY_ANALYSIS {
    TVEXPage* page = std::exchange(FPage, nullptr);
    if (page != nullptr) FManager->PutPage(page);
  }
  // Hands the hold to the caller, who gives the page back from now on.
  TVEXPage* Release() noexcept { return std::exchange(FPage, nullptr); }

 private:
  void PutQuietly() noexcept {
    try {
      Put();
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  }

  TVEXPageManager* FManager = nullptr;
  TVEXPage* FPage = nullptr;
};

}  // namespace vex
