// One booking retrieval whose reply holds 1,000 new bookings, through the
// loopback stand-in of the service, into a hotel of the host's schema with
// rooms enough for all of them (8 room types of 60 rooms; the bookings arrive
// over 30 days and stay 1 to 7 nights). Timed: the whole SendBookingRetrieval
// — building and posting the request, the reply's 1,000 items read and each
// stored in its own transaction (guest, reservation on a free room, nights in
// Occupancy, outcome row), the copies and the day's log. Not timed: creating
// the database, its rooms and the reply. Silent, so no message is shown.
//
// Target: under 2 s on the build machine.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "OtaDataModule.h"
#include "OtaGfgIni.h"
#include "OtaOpenTables.h"
#include "ReservationDatabase.h"
#include "ValmoraLibrary.h"
#include "ValmoraRequests.h"
#include "ValmoraStub.h"
#include "registry/Registry.h"
#include "support/ScratchDir.h"

namespace {

using namespace std::chrono;

constexpr int kBookings = 1000;
constexpr int kTypes = 8;
constexpr int kRoomsPerType = 60;

void LoadLibraryOnce() {
  static const bool loaded = [] {
    valmora::LibraryLoad();
    std::atexit([] { valmora::LibraryUnload(); });
    return true;
  }();
  (void)loaded;
}

void RetrieveThousandNewBookings(benchmark::State& state) {
  LoadLibraryOnce();
  auto store = std::make_shared<reg::MemoryStore>();
  reg::SetCurrentUserStore(store);
  valmora_stub::Server service;
  std::vector<std::string> roomIds;
  for (int t = 1; t <= kTypes; ++t) roomIds.push_back("RT" + std::to_string(t));

  for (auto _ : state) {
    state.PauseTiming();
    testsupport::ScratchDir dir;
    ::setenv("XDG_DOCUMENTS_DIR", dir.Path().c_str(), 1);
    std::filesystem::create_directories(dir / "Reservation/Temp");
    std::filesystem::create_directories(dir / "Reservation/OTA");
    {
      reg::TRegistry key(store);
      key.OpenKey("\\Software\\Lodgemark\\DataDirectory", true);
      key.WriteString("DataDir", dir.Path());
      key.WriteString("DataBaseFileName", "Hotel.vex");
    }
    valmora::WriteServiceUrl(service.Url());
    for (int t = 1; t <= kTypes; ++t) valmora::WriteRoomId(t, roomIds[t - 1]);
    lodgemark::CreateReservationDatabase(dir / "Hotel.vex");
    auto dm = std::make_unique<valmora::TDM>(nullptr);
    valmora::OpenReservationDatabase(*dm);
    valmora::SetTablesActive(*dm, true);
    for (int t = 1; t <= kTypes; ++t)
      for (int r = 0; r < kRoomsPerType; ++r) {
        lodgemark::THostRoom room;
        room.RoomNo = std::to_string(t * 100 + r);
        room.RoomType = t;
        room.RoomSortNo = room.RoomNo;
        lodgemark::AddRoom(*dm->Reservation, room);
      }
    valmora_stub::BookingGenerator generator(7, roomIds, sys_days(2016y / 9 / 6));
    service.QueueReply(valmora_stub::Reply::Bookings(generator.Mix(kBookings, 0, 0, 0)));
    valmora::ModuleState().DM = dm.get();
    state.ResumeTiming();

    const int32_t result = valmora::SendBookingRetrieval(true, rtl::EncodeDate(2016, 9, 6),
                                                         rtl::EncodeDate(2016, 10, 6));

    state.PauseTiming();
    const int32_t stored = valmora::ModuleState().StoredCount;
    valmora::ModuleState().DM = nullptr;
    dm.reset();
    if (result != 1 || stored != kBookings) {
      state.SkipWithError(("stored " + std::to_string(stored) + " of " +
                           std::to_string(kBookings) + ", result " + std::to_string(result))
                              .c_str());
      break;
    }
    state.ResumeTiming();
  }
  service.Stop();
  reg::SetCurrentUserStore(nullptr);
}

BENCHMARK(RetrieveThousandNewBookings)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
