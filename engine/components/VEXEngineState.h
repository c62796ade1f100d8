// The component layer's process-wide state: the list of shared database
// objects (with the in-memory database "MEMORY" and the temporary database
// "TEMP"), the design-mode flag, the session list with its default session
// "Default", the session handles, and the text cells of calculated wide-text
// fields.
//
// All of it is made by one start-up step of the Components layer
// (AddComponentsStartupSteps, run by the engine's start-up, see
// foundation/VEXStartup.h) and freed by that step in reverse order; nothing is
// made by static initialisation or on first use. Reaching the state while the
// engine is stopped raises EVEXEngineNotStarted.
//
// Design notes
//   1. Start-up order: the shared database list; "MEMORY", then "TEMP" added
//      to it; DesignMode := False; the session list (and with it the session
//      lock); the default session, inactive; the list of wide-text cells.
//      Shut-down in reverse: the session list frees every session (each closes
//      its databases on the way), then every shared database object still in
//      the list, the list itself, then the cells.
//   2. The list of shared database objects owns them. An object leaves it only
//      by being destroyed: FreeDatabaseData (what an object's
//      FreeIfNoSessionsConnected calls) takes it off the list and frees it.
//   3. A session handle is an object with a serial number that no other handle
//      of the process ever has. The current handle is remembered by that
//      number, so a handle that was freed never names a live one, even when a
//      new handle is allocated at the freed address.
//   4. The database engines the layer makes its shared objects with are
//      reached through DatabaseEngines(); a test may install others before the
//      engine starts (SetDatabaseEngines), as the seams of storage allow.
//
// Lock order, outermost first: the session lock (owned by the session list),
// the list lock of the shared database objects, a database's own lock. The
// session-list lock guards only the list of sessions, for one list operation.
//
// Threads: start-up and shut-down run while no other thread uses the engine.
// The shared database list is guarded by its list lock; the handle routines
// and the wide-text cells by a small lock of their own (innermost); DesignMode
// is one atomic flag.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/VEXLock.h"
#include "storage/VEXBaseSession.h"
#include "storage/VEXDatabaseData.h"

namespace vex {

class TVEXSession;
class TVEXSessionList;

// --- The engines behind the shared database objects -------------------------

// How the component layer makes the engines' shared database objects.
class TVEXDatabaseEngines {
 public:
  virtual ~TVEXDatabaseEngines() = default;
  // The in-memory database, named "MEMORY"; nullptr when no such engine is
  // built in.
  virtual std::unique_ptr<TVEXDatabaseData> CreateMemoryDatabaseData() = 0;
  // The temporary database, named "TEMP"; nullptr when none is built in.
  virtual std::unique_ptr<TVEXDatabaseData> CreateTemporaryDatabaseData() = 0;
  // The shared object of one database file, created without opening the file.
  // It must also be a TVEXDiskDatabaseAccess (VEXLocalEngine.h).
  virtual std::unique_ptr<TVEXDatabaseData> CreateDiskDatabaseData() = 0;
};

// The engines in use: the installed ones, else the built-in ones.
TVEXDatabaseEngines& DatabaseEngines();
// Installs Engines (nullptr: the built-in ones) and returns the engines
// installed before. Install only while the engine is stopped; Engines must
// outlive its installation.
TVEXDatabaseEngines* SetDatabaseEngines(TVEXDatabaseEngines* Engines);

// --- The list of shared database objects -----------------------------------

class TVEXSharedDatabaseList final : public TVEXDatabaseDataOwner {
 public:
  TVEXSharedDatabaseList() = default;
  // Frees every object still in the list (FreeAll). Never raises.
  ~TVEXSharedDatabaseList() override;

  // The list lock (re-entrant).
  TVEXLock& ListLock() VEX_RETURN_CAPABILITY(FLock) { return FLock; }

  // Appends Data, taking it over; it names this list as its owner.
  TVEXDatabaseData& Add(std::unique_ptr<TVEXDatabaseData> Data);
  // Takes Data off the list and frees it; nothing for an object that is not in
  // the list.
  void FreeDatabaseData(TVEXDatabaseData& Data) override;
  // Frees the first object again and again until the list is empty.
  void FreeAll() noexcept;

  int32_t Count();
  // The object at Index (0-based), in list order; nullptr out of range.
  TVEXDatabaseData* Get(int32_t Index);

 private:
  TVEXLock FLock;
  std::vector<std::unique_ptr<TVEXDatabaseData>> FItems VEX_GUARDED_BY(FLock);
};

// The process's list; raises EVEXEngineNotStarted while the engine is stopped.
TVEXSharedDatabaseList& SharedDatabases();

// --- Sessions ---------------------------------------------------------------

// The session list; raises EVEXEngineNotStarted while the engine is stopped.
TVEXSessionList& Sessions();
// The session list, or nullptr while there is none (before start-up, after the
// shut-down freed it): database components freed late test it.
TVEXSessionList* SessionsOrNil();
// The session "Default" made at start-up.
TVEXSession& GetDefaultSession();

// A session handle: the identity by which the engine knows a session
// component (design note 3).
class TVEXSessionHandle final : public TVEXSessionComponentManager {
 public:
  explicit TVEXSessionHandle(uint64_t aSerial) : Serial(aSerial) {}
  const uint64_t Serial;
};

// Whether the engine's handle exists: True while the default session is
// active.
bool EngineInitialized();
// When not initialised: initialised, and a new handle becomes the current one.
void InitEngine();
// When initialised: not any more, and the current handle is freed (the current
// handle then names no session until another is made current).
void DoneEngine();
// The current handle while initialised; else EVEXException 20007 "Database
// Engine is not initialized". nullptr when the current handle was freed.
TVEXSessionComponentManager* GetEngineHandle();
void SetCurrentSessionHandle(TVEXSessionComponentManager* Handle);
// Whether Handle is the current handle; False for nullptr.
bool IsCurrentSessionHandle(const TVEXSessionComponentManager* Handle);
// A new handle, through the out argument.
void CreateSessionHandle(TVEXSessionComponentManager*& Handle);
// Frees a handle made by CreateSessionHandle or InitEngine; nullptr and a
// handle that is not live are ignored.
void FreeSessionHandle(TVEXSessionComponentManager* Handle);

// --- Calculated wide-text fields --------------------------------------------

// A calculated wide-text field keeps its text in a cell of this list; the
// field's 4-byte slot in a record buffer holds the cell's handle, never an
// address. A handle is a serial number: 0 names no cell, and a released handle
// names no cell again (until 2^32 handles later), so a stale handle is found
// out instead of reading another buffer's text. Cells left at shut-down are
// freed with the list.
//
// A new cell holding Text; its handle is never 0.
uint32_t NewCalculatedWideTextCell(std::u16string Text);
// The cell's text into Text; False (Text untouched) for 0 or a released handle.
bool GetCalculatedWideText(uint32_t Handle, std::u16string& Text);
// Replaces the cell's text; False for 0 or a released handle.
bool SetCalculatedWideText(uint32_t Handle, std::u16string Text);
// Frees the cell for reuse; nothing for 0, a released handle or while the
// engine is stopped. Never raises.
void ReleaseCalculatedWideTextCell(uint32_t Handle) noexcept;
int32_t CalculatedWideTextCellCount();

// --- Start-up ---------------------------------------------------------------

// Adds the Components layer's start-up step (the state above); nothing when
// it is added already. The library's load and the engine's test programs call
// it before the engine starts.
void AddComponentsStartupSteps();
// Removes it again; nothing when it is not added. Only while stopped.
void RemoveComponentsStartupSteps();

}  // namespace vex
