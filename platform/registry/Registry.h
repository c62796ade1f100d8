// The user's registry hive (HKEY_CURRENT_USER) as a typed store.
//
// The plug-in keeps its settings in, and reads the host application's settings
// from, keys below HKEY_CURRENT_USER. Linux has no registry, so this layer keeps
// the hive itself:
//
//  * Store is the hive: keys (paths such as "Software\Lodgemark\Valmora",
//    compared without regard to case, as the platform does) holding typed values.
//    MemoryStore keeps it in memory for tests; FileStore keeps it in a UTF-8 text
//    file in the registry editor's export format, so a person can read and edit
//    it. Every change to a FileStore re-reads the file, applies the change and
//    writes the whole hive to a temporary file (through os::File) that is renamed
//    over the old one, all under an exclusive lock of a companion ".lock" file:
//    two processes that write at once both keep their values, and a crash or a
//    failed write leaves the old file or the new one, never half of either. A
//    file that cannot be parsed is reported and never overwritten.
//  * The hive holds names, paths and texts in the file's own form (UTF-8), so a
//    change rewrites the one value it changes and every other value keeps its
//    exact text, also characters that Windows-1252 lacks.
//  * TRegistry is the access object of one accessor routine: open a key (with
//    create-if-missing), read or write values of the key, close it. Reads of a
//    value of the wrong type or size, or of a missing number, raise
//    ERegistryException, as on the original platform, so that callers fall back
//    to their defaults; a missing text reads as empty.
//
// Texts are Windows-1252 inside the system and UTF-8 in the hive and the file;
// TRegistry converts between the two.
// Errors: every failure of this layer, file-system failures included, is an
// ERegistryException; no exception of the standard library leaves it (beyond
// running out of memory).
// Threads: a Store may be used from several threads (changes are serialised);
// a TRegistry belongs to one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"

namespace reg {

class ERegistryException : public rtl::Exception {
  using rtl::Exception::Exception;
};

enum class ValueType : uint32_t {
  String = 1,        // REG_SZ
  ExpandString = 2,  // REG_EXPAND_SZ (read unexpanded)
  Binary = 3,        // REG_BINARY
  DWord = 4,         // REG_DWORD
};

struct Value {
  ValueType Type = ValueType::String;
  // Texts: UTF-8 without terminator (trailing NULs that belong to the text stay).
  // DWord: 4 bytes little-endian. Binary and other types: the bytes.
  std::string Data;
};

// One key: its path as written (UTF-8), and its values by folded UTF-8 name.
struct Key {
  std::string Path;
  std::map<std::string, std::pair<std::string, Value>> Values;  // folded name -> (name, value)
};

// The whole hive, keys by folded path. Paths and names are UTF-8.
struct Hive {
  std::map<std::string, Key> Keys;

  // The case-insensitive form of a UTF-8 name or path (upper case, character by
  // character).
  static std::string Fold(std::string_view utf8);
  Key* Find(std::string_view path);
  const Key* Find(std::string_view path) const;
  // Creates the key and every missing parent.
  Key& Ensure(std::string_view path);
};

// The registry export text ("Windows Registry Editor Version 5.00") of a hive,
// and back. Parse raises ERegistryException naming the line it cannot read.
std::string SerializeHive(const Hive& hive);
Hive ParseHive(std::string_view text);

class Store {
 public:
  virtual ~Store() = default;
  // A consistent snapshot of the hive.
  virtual Hive Load() = 0;
  // Applies change to the current hive and keeps the result, atomically with
  // respect to other writers. Raises ERegistryException when the result cannot
  // be kept; then nothing of the change is kept.
  virtual void Update(const std::function<void(Hive&)>& change) = 0;
};

class MemoryStore : public Store {
 public:
  Hive Load() override;
  void Update(const std::function<void(Hive&)>& change) override;
  // While set, every Update fails (to test the writers' error path).
  void SetFailWrites(bool fail) { FFailWrites = fail; }

 private:
  std::mutex FMutex;
  Hive FHive;
  bool FFailWrites = false;
};

class FileStore : public Store {
 public:
  explicit FileStore(std::string path);
  Hive Load() override;
  void Update(const std::function<void(Hive&)>& change) override;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// The location of the user's hive file: $LODGEMARK_REGISTRY, else
// $XDG_CONFIG_HOME/lodgemark/HKCU.reg, else ~/.config/lodgemark/HKCU.reg.
std::string DefaultHivePath();

// The store the system's registry objects use. A FileStore at DefaultHivePath()
// unless replaced (tests install a MemoryStore). The plug-in's start-up creates
// it and its shut-down frees it; without them it is created on first use.
std::shared_ptr<Store> CurrentUserStore();
void SetCurrentUserStore(std::shared_ptr<Store> store);
// A FileStore at DefaultHivePath() unless a store is already set, and none.
void CreateCurrentUserStore();
void FreeCurrentUserStore() noexcept;

// The registry object: one open key at a time, rooted at HKEY_CURRENT_USER.
class TRegistry {
 public:
  explicit TRegistry(std::shared_ptr<Store> store = CurrentUserStore());
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // Opens the key at path (backslash-separated; a leading backslash or not, both
  // are from the root). With canCreate a missing key is created. Returns false
  // when the key does not exist and may not be created, or cannot be created.
  bool OpenKey(std::string_view path, bool canCreate);
  void CloseKey();
  bool KeyExists(std::string_view path);
  bool ValueExists(std::string_view name);

  // Readers raise ERegistryException when no key is open, when a number is
  // missing, and when the value has another type (or, for a float, another size).
  std::string ReadString(std::string_view name);  // missing: empty
  int32_t ReadInteger(std::string_view name);
  bool ReadBool(std::string_view name);     // true when non-zero
  double ReadFloat(std::string_view name);  // REG_BINARY of exactly 8 bytes

  // Writers raise ERegistryException when no key is open or the store fails.
  void WriteString(std::string_view name, std::string_view value);
  void WriteExpandString(std::string_view name, std::string_view value);
  void WriteInteger(std::string_view name, int32_t value);
  void WriteBool(std::string_view name, bool value);  // 1 or 0
  void WriteFloat(std::string_view name, double value);
  void WriteBinaryData(std::string_view name, std::string_view bytes);

 private:
  std::optional<Value> Get(std::string_view name);
  void Put(std::string_view name, Value value);

  std::shared_ptr<Store> FStore;
  std::string NoKeyReason() const;

  std::optional<std::string> FCurrentPath;  // UTF-8; none: no key open; "" is the root
  std::optional<Hive> FSnapshot;            // the hive as the reads of this key see it
  std::string FOpenError;  // why the last OpenKey failed, for the errors that follow
};

}  // namespace reg
