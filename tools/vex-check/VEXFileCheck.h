// The database file checker: opens a disk database file read-only through the
// storage engine and walks all of it, reporting every fault it finds instead
// of stopping at the first.
//
// What it proves, in this order:
//   1. The prologue: the file opens (signature, format, password), its last
//      commit ended (crash marker clean), its size is the header's page count,
//      and the object-id counter is at or above every id the tables use.
//   2. Page ownership: every page reachable from the directory (map pages,
//      system directory, sessions file, table list, each table's metadata,
//      state and locks files, the record-page and BLOB-page indexes with the
//      pages they list, every index tree, every large BLOB's pages) is claimed
//      exactly once, has the type its owner expects and is not marked freed.
//   3. The free-space maps against that set: a PFS bit is set exactly for a
//      claimed page, no EAM extent is marked full that has a free page, and the
//      header's last used page is the highest one claimed. A set bit nobody
//      claims is a leaked page when it was never written or is marked freed:
//      space lost, not data (a page that still holds an object's data is a
//      fault). A connection takes its new pages in the maps at once, so a
//      process that dies inside a transaction leaks them until the database
//      is repaired; leaks are listed apart from the faults.
//   4. Each table: a physical walk of its records agrees with the record-page
//      index (records per page) and with the stored record count; every index,
//      walked in its order, holds each record exactly once and in order
//      (unique indexes without equal keys); every BLOB reads and decompresses.
//
// Every chain and walk is bounded by the file's page count or the table's
// records, so a damaged file gives faults, never a hang. Reading a page of an
// encrypted database goes through the page manager, which checks its CRC.
//
// Threads: CheckDatabaseFile runs on the calling thread and needs the engine
// started (the components' start-up steps).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vex {

struct TVEXFileCheckReport {
  // One line per fault; empty for a sound file.
  std::vector<std::string> Faults;
  // Pages the maps mark used that nothing reaches.
  std::vector<int32_t> LeakedPages;
  // What was walked, for the summary.
  int32_t TableCount = 0;
  int64_t RecordCount = 0;
  int64_t PagesClaimed = 0;
  int64_t TotalPages = 0;
  int32_t IndexCount = 0;
  int64_t BlobCount = 0;
  bool Sound() const { return Faults.empty(); }
};

// Checks the database file; Password for an encrypted one. The tool exits
// non-zero for faults, not for leaks alone.
TVEXFileCheckReport CheckDatabaseFile(const std::string& FileName, const std::string& Password = {});

// The report as the tool prints it: a summary line, then one line per fault.
std::string FormatFileCheckReport(const std::string& FileName, const TVEXFileCheckReport& Report);

}  // namespace vex
