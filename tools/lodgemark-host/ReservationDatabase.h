// The host application's reservation database, as the host creates it: the
// eight tables the plug-in works on, with the fields the plug-in uses, and a
// few helpers that fill them for the demo and the plug-in's tests.
//
// The plug-in never creates a table; this is the host's side of the file.
//
// Threads: on the thread that owns the database components, with the engine
// started.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "rtl/Currency.h"
#include "rtl/DateTime.h"

namespace vex {
class TVEXDatabase;
}

namespace lodgemark {

// Writes the database file FileName (which must not exist) with the tables
// RoomType, Occupancy, OccInventory, GuestName, GuestData, GuestNotes, Group
// and OtaResponse, all empty, and their indexes. MaxConnections is the file's
// connection limit. Raises the engine's errors; on a failure after the file was
// written the file is deleted again.
void CreateReservationDatabase(const std::string& FileName, int32_t MaxConnections = 500);

// One room of RoomType. A std::nullopt field is stored as null.
struct THostRoom {
  std::string RoomNo;
  std::optional<int32_t> RoomType = 1;
  std::optional<std::string> CalOccupancy = std::string("Y");
  std::string RoomSortNo;
  rtl::Currency DoubleRate;
};

// One reservation of GuestData. NoNights is the stay's calendar days.
struct THostReservation {
  std::string RoomNumber;
  rtl::TDateTime ArrivalDate = 0;
  rtl::TDateTime DepartureDate = 0;
  std::optional<bool> Cancelled = false;
  std::string GuestCode;
  std::string TravelBookingNo;
  int32_t Gurantee = 0;
};

// The helpers below append one row through a table component on Database,
// which must be connected, and post it.
void AddRoom(vex::TVEXDatabase& Database, const THostRoom& Room);
// Returns the reservation's GuestID, assigned by the table.
int32_t AddReservation(vex::TVEXDatabase& Database, const THostReservation& Reservation);
void AddGuest(vex::TVEXDatabase& Database, const std::string& GuestCode,
              const std::string& FamilyName = {});

}  // namespace lodgemark
