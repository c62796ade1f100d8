// Opening the host's database through the data module, activating its tables,
// and rebuilding the availability inventory that the availability request
// sends.
//
// Nothing here catches: the engine's and the dataset layer's exceptions reach
// the caller, which decides what a failure means for its request.
#pragma once

#include <string>

#include "rtl/DateTime.h"

namespace valmora {

class TDM;

// Connects DM.Reservation to the file of the settings (DataDir and
// DataBaseFileName), closing it first when it is open on any file. The
// database and its twelve datasets are named after the file: its name up to
// its first "." ("Hotel.vex" and "Hotel.2024.vex" give "Hotel"; a name without
// "." gives the empty name). Multi-user, 5 connections, session "Default".
// Raises what the database component raises (for a missing file "Database
// file '<path>' does not exist").
void OpenReservationDatabase(TDM& DM);

// The database name of a database file: its file name up to its first ".".
std::string DatabaseNameOfFile(const std::string& Path);

// Gives the eight tables and four queries the database name Name. The datasets
// must be closed.
void SetDatabaseNames(TDM& DM, const std::string& Name);

// Opens (true) or closes (false) the eight tables; the queries are left as
// they are. Closing closed tables does nothing.
void SetTablesActive(TDM& DM, bool Active);

// Empties OccInventory and fills it, for each room type 1 to 16 that has a
// room marked "Y" in CalOccupancy, with runs of consecutive days of equal
// availability covering every calendar day from Start to End once. A day's
// availability is the type's free rooms in Occupancy, capped at the type's
// rooms counted for occupancy (every room not marked "N") and at least 0; a
// day without an Occupancy row has all of them free. Leaves qryOccupancy and
// qryRoomType open. Every inventory row is posted on its own: a failure leaves
// the rows posted before it, and the next rebuild empties them.
void RebuildOccInventory(TDM& DM, rtl::TDateTime Start, rtl::TDateTime End);

}  // namespace valmora
