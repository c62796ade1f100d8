#include "components/VEXEngineState.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <utility>

#include "components/VEXLocalCursor.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXSession.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXStartup.h"
#include "storage/VEXTableData.h"
#include "storage/memory/VEXMemEngine.h"
#include "storage/temp/VEXTempEngine.h"

namespace vex {

namespace {

constexpr const char* kEngineStateStep = "component engine state";
constexpr const char* kLocalCursorSeamsStep = "local cursor seams";

// The engines this library is built with.
class TVEXBuiltInEngines final : public TVEXDatabaseEngines {
 public:
  std::unique_ptr<TVEXDatabaseData> CreateMemoryDatabaseData() override {
    return std::make_unique<TVEXMemoryDatabaseData>();
  }
  std::unique_ptr<TVEXDatabaseData> CreateTemporaryDatabaseData() override {
    return std::make_unique<TVEXTemporaryDatabaseData>();
  }
  std::unique_ptr<TVEXDatabaseData> CreateDiskDatabaseData() override {
    return CreateBuiltInDiskDatabaseData();
  }
};

// Holds nothing but its virtual table; the installed engines default to it.
TVEXBuiltInEngines gBuiltInEngines;
std::atomic<TVEXDatabaseEngines*> gInstalledEngines{nullptr};

struct TVEXEngineState {
  TVEXSharedDatabaseList Databases;
  std::unique_ptr<TVEXSessionList> SessionList;
  TVEXSession* DefaultSession = nullptr;

  // The session handles (design note 3); innermost lock.
  std::mutex HandlesLock;
  std::map<uint64_t, std::unique_ptr<TVEXSessionHandle>> Handles;
  uint64_t NextSerial = 1;
  uint64_t CurrentSerial = 0;  // 0: no current handle
  bool Initialized = false;

  std::mutex CellsLock;
  std::unordered_map<uint32_t, std::u16string> Cells;
  uint32_t NextCell = 1;
};

// Set from start-up to shut-down; the state is reached only through it.
TVEXEngineState* gState = nullptr;
// The session list as the database components see it: nil before start-up and
// as soon as shut-down has freed the sessions.
std::atomic<TVEXSessionList*> gSessionList{nullptr};

TVEXEngineState& State(const char* what) {
  if (gState == nullptr) RaiseEngineNotStarted(what);
  return *gState;
}

TVEXSessionHandle* NewHandle(TVEXEngineState& state) {
  const uint64_t serial = state.NextSerial++;
  auto handle = std::make_unique<TVEXSessionHandle>(serial);
  TVEXSessionHandle* result = handle.get();
  state.Handles.emplace(serial, std::move(handle));
  return result;
}

void StopEngineState() noexcept;

void StartEngineState() {
  if (gState != nullptr) throw EVEXEngineNotStarted("The component engine state exists already");
  gState = new TVEXEngineState;
  ScopeFailure undo([] { StopEngineState(); });
  TVEXEngineState& state = *gState;
  TVEXDatabaseEngines& engines = DatabaseEngines();
  if (std::unique_ptr<TVEXDatabaseData> memory = engines.CreateMemoryDatabaseData())
    state.Databases.Add(std::move(memory));
  if (std::unique_ptr<TVEXDatabaseData> temporary = engines.CreateTemporaryDatabaseData())
    state.Databases.Add(std::move(temporary));
  SetDesignMode(false);
  state.SessionList = std::make_unique<TVEXSessionList>();
  gSessionList.store(state.SessionList.get());
  // The first session to join the list is the default session; the list owns
  // it from here on.
  auto* defaultSession = new TVEXSession(nullptr);
  state.DefaultSession = defaultSession;
  defaultSession->SetSessionName("Default");
}

void StopEngineState() noexcept {
  if (gState == nullptr) return;
  TVEXEngineState& state = *gState;
  if (state.SessionList != nullptr) {
    state.SessionList->FreeSessions();
    state.DefaultSession = nullptr;
    gSessionList.store(nullptr);
    state.SessionList.reset();
  }
  state.Databases.FreeAll();
  delete gState;
  gState = nullptr;
}

}  // namespace

// --- Engines ----------------------------------------------------------------

TVEXDatabaseEngines& DatabaseEngines() {
  TVEXDatabaseEngines* installed = gInstalledEngines.load();
  return installed != nullptr ? *installed : gBuiltInEngines;
}

TVEXDatabaseEngines* SetDatabaseEngines(TVEXDatabaseEngines* Engines) {
  return gInstalledEngines.exchange(Engines);
}

// --- The list of shared database objects ------------------------------------

TVEXSharedDatabaseList::~TVEXSharedDatabaseList() { FreeAll(); }

TVEXDatabaseData& TVEXSharedDatabaseList::Add(std::unique_ptr<TVEXDatabaseData> Data) {
  TVEXLockGuard guard(FLock);
  Data->SetOwner(this);
  FItems.push_back(std::move(Data));
  return *FItems.back();
}

void TVEXSharedDatabaseList::FreeDatabaseData(TVEXDatabaseData& Data) {
  TVEXLockGuard guard(FLock);
  const auto it = std::find_if(FItems.begin(), FItems.end(),
                               [&](const auto& item) { return item.get() == &Data; });
  if (it == FItems.end()) return;
  std::unique_ptr<TVEXDatabaseData> gone = std::move(*it);
  FItems.erase(it);
  // Freed under the list lock, so no look-up can find the object on its way.
  gone.reset();
}

void TVEXSharedDatabaseList::FreeAll() noexcept {
  TVEXLockGuard guard(FLock);
  while (!FItems.empty()) {
    std::unique_ptr<TVEXDatabaseData> gone = std::move(FItems.front());
    FItems.erase(FItems.begin());
    gone.reset();
  }
}

int32_t TVEXSharedDatabaseList::Count() {
  TVEXLockGuard guard(FLock);
  return static_cast<int32_t>(FItems.size());
}

TVEXDatabaseData* TVEXSharedDatabaseList::Get(int32_t Index) {
  TVEXLockGuard guard(FLock);
  if (Index < 0 || Index >= static_cast<int32_t>(FItems.size())) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

TVEXSharedDatabaseList& SharedDatabases() {
  return State("The list of shared database objects").Databases;
}

// --- Sessions ---------------------------------------------------------------

TVEXSessionList& Sessions() {
  TVEXSessionList* list = gSessionList.load();
  if (list == nullptr) RaiseEngineNotStarted("The session list");
  return *list;
}

TVEXSessionList* SessionsOrNil() { return gSessionList.load(); }

TVEXSession& GetDefaultSession() {
  TVEXEngineState& state = State("The default session");
  if (state.DefaultSession == nullptr) RaiseEngineNotStarted("The default session");
  return *state.DefaultSession;
}

bool EngineInitialized() {
  if (gState == nullptr) return false;
  std::lock_guard<std::mutex> guard(gState->HandlesLock);
  return gState->Initialized;
}

void InitEngine() {
  TVEXEngineState& state = State("The engine handle");
  std::lock_guard<std::mutex> guard(state.HandlesLock);
  if (state.Initialized) return;
  TVEXSessionHandle* handle = NewHandle(state);
  state.Initialized = true;
  state.CurrentSerial = handle->Serial;
}

void DoneEngine() {
  if (gState == nullptr) return;
  TVEXEngineState& state = *gState;
  std::lock_guard<std::mutex> guard(state.HandlesLock);
  if (!state.Initialized) return;
  state.Initialized = false;
  state.Handles.erase(state.CurrentSerial);
}

TVEXSessionComponentManager* GetEngineHandle() {
  if (gState != nullptr) {
    TVEXEngineState& state = *gState;
    std::lock_guard<std::mutex> guard(state.HandlesLock);
    if (state.Initialized) {
      const auto it = state.Handles.find(state.CurrentSerial);
      return it != state.Handles.end() ? it->second.get() : nullptr;
    }
  }
  throw EVEXException(20007, "Database Engine is not initialized");
}

void SetCurrentSessionHandle(TVEXSessionComponentManager* Handle) {
  TVEXEngineState& state = State("The session handles");
  const auto* handle = dynamic_cast<const TVEXSessionHandle*>(Handle);
  std::lock_guard<std::mutex> guard(state.HandlesLock);
  state.CurrentSerial = handle != nullptr ? handle->Serial : 0;
}

bool IsCurrentSessionHandle(const TVEXSessionComponentManager* Handle) {
  const auto* handle = dynamic_cast<const TVEXSessionHandle*>(Handle);
  if (handle == nullptr || gState == nullptr) return false;
  std::lock_guard<std::mutex> guard(gState->HandlesLock);
  return handle->Serial == gState->CurrentSerial;
}

void CreateSessionHandle(TVEXSessionComponentManager*& Handle) {
  TVEXEngineState& state = State("The session handles");
  std::lock_guard<std::mutex> guard(state.HandlesLock);
  Handle = NewHandle(state);
}

void FreeSessionHandle(TVEXSessionComponentManager* Handle) {
  const auto* handle = dynamic_cast<const TVEXSessionHandle*>(Handle);
  if (handle == nullptr || gState == nullptr) return;
  TVEXEngineState& state = *gState;
  std::lock_guard<std::mutex> guard(state.HandlesLock);
  const auto it = state.Handles.find(handle->Serial);
  if (it != state.Handles.end() && it->second.get() == handle) state.Handles.erase(it);
}

// --- Calculated wide-text fields --------------------------------------------

uint32_t NewCalculatedWideTextCell(std::u16string Text) {
  TVEXEngineState& state = State("The calculated wide-text cells");
  std::lock_guard<std::mutex> guard(state.CellsLock);
  // Serial numbers wrap after 2^32 cells; one still in use is skipped.
  while (state.NextCell == 0 || state.Cells.count(state.NextCell) != 0) ++state.NextCell;
  const uint32_t handle = state.NextCell++;
  state.Cells.emplace(handle, std::move(Text));
  return handle;
}

bool GetCalculatedWideText(uint32_t Handle, std::u16string& Text) {
  TVEXEngineState& state = State("The calculated wide-text cells");
  std::lock_guard<std::mutex> guard(state.CellsLock);
  const auto it = state.Cells.find(Handle);
  if (it == state.Cells.end()) return false;
  Text = it->second;
  return true;
}

bool SetCalculatedWideText(uint32_t Handle, std::u16string Text) {
  TVEXEngineState& state = State("The calculated wide-text cells");
  std::lock_guard<std::mutex> guard(state.CellsLock);
  const auto it = state.Cells.find(Handle);
  if (it == state.Cells.end()) return false;
  it->second = std::move(Text);
  return true;
}

void ReleaseCalculatedWideTextCell(uint32_t Handle) noexcept {
  if (gState == nullptr || Handle == 0) return;
  std::lock_guard<std::mutex> guard(gState->CellsLock);
  gState->Cells.erase(Handle);
}

int32_t CalculatedWideTextCellCount() {
  TVEXEngineState& state = State("The calculated wide-text cells");
  std::lock_guard<std::mutex> guard(state.CellsLock);
  return static_cast<int32_t>(state.Cells.size());
}

// --- Start-up ---------------------------------------------------------------

void AddComponentsStartupSteps() {
  const std::vector<std::string> steps = StartupOrder();
  if (std::find(steps.begin(), steps.end(), kEngineStateStep) != steps.end()) return;
  AddStartupStep(TVEXStartupLayer::Components, kEngineStateStep, StartEngineState,
                 StopEngineState);
  AddStartupStep(TVEXStartupLayer::Components, kLocalCursorSeamsStep, StartLocalCursorSeams,
                 StopLocalCursorSeams);
}

void RemoveComponentsStartupSteps() {
  RemoveStartupStep(kLocalCursorSeamsStep);
  RemoveStartupStep(kEngineStateStep);
}

}  // namespace vex
