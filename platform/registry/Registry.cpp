#include "registry/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/uchar.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "os/File.h"
#include "os/OsError.h"
#include "rtl/CodePage.h"

namespace reg {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";

std::string NormalizePath(std::string_view path) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

// ---- export text -----------------------------------------------------------

std::string Quote(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string HexBytes(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    auto b = static_cast<unsigned char>(bytes[i]);
    if (i) out += ',';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string Utf16Bytes(std::string_view utf8, bool terminated) {
  std::u16string wide = rtl::Utf8ToUtf16(utf8);
  if (terminated) wide.push_back(u'\0');
  std::string bytes;
  for (char16_t ch : wide) {
    bytes += static_cast<char>(ch & 0xFF);
    bytes += static_cast<char>(ch >> 8);
  }
  return bytes;
}

std::string FromUtf16Bytes(std::string_view bytes) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8));
  // One terminator ends the stored text; NULs before it belong to the text.
  if (!wide.empty() && wide.back() == u'\0') wide.pop_back();
  return rtl::Utf16ToUtf8(wide);
}

std::string ValueText(const Value& v) {
  switch (v.Type) {
    case ValueType::String:
      // A text with line breaks (or NULs) would break the line format: keep it
      // as UTF-16 bytes.
      if (v.Data.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return "hex(1):" + HexBytes(Utf16Bytes(v.Data, true));
      return Quote(v.Data);
    case ValueType::ExpandString:
      return "hex(2):" + HexBytes(Utf16Bytes(v.Data, true));
    case ValueType::DWord: {
      uint32_t n = 0;
      std::memcpy(&n, v.Data.data(), std::min<size_t>(4, v.Data.size()));
      char buf[16];
      std::snprintf(buf, sizeof buf, "dword:%08x", n);
      return buf;
    }
    case ValueType::Binary:
      return "hex:" + HexBytes(v.Data);
  }
  // A type the system does not use itself (a multi-string, a 64-bit number)
  // is written back as it was read.
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<uint32_t>(v.Type));
  return prefix + HexBytes(v.Data);
}

class Parser {
 public:
  explicit Parser(std::string_view text) : FText(text) {}

  Hive Parse() {
    if (FText.starts_with("\xEF\xBB\xBF")) FText.remove_prefix(3);
    std::string line;
    Key* current = nullptr;
    bool sawHeader = false;
    while (NextLogicalLine(line)) {
      std::string_view l = Trim(line);
      if (l.empty() || l.front() == ';') continue;
      if (!sawHeader) {
        if (l != kHeader) Fail("the first line is not \"" + std::string(kHeader) + "\"");
        sawHeader = true;
        continue;
      }
      if (l.front() == '[') {
        if (l.back() != ']' || l.size() < 2) Fail("a key line must end with ']'");
        std::string path(l.substr(1, l.size() - 2));
        if (path.starts_with('-')) Fail("deleting keys is not supported");
        if (path == kRoot) {
          path.clear();
        } else if (path.starts_with(std::string(kRoot) + "\\")) {
          path = path.substr(kRoot.size() + 1);
        } else {
          Fail("only keys of HKEY_CURRENT_USER are kept here");
        }
        current = &FHive.Ensure(path);
        continue;
      }
      if (!current) Fail("a value stands before any key");
      ParseValue(l, *current);
    }
    if (!sawHeader && !Trim(FText).empty()) Fail("the file has no header");
    return std::move(FHive);
  }

 private:
  [[noreturn]] void Fail(const std::string& why) {
    throw ERegistryException("Registry file, line " + std::to_string(FLine) + ": " + why);
  }

  static std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
      s.remove_suffix(1);
    return s;
  }

  // Joins lines that end with a backslash (long hex data) into one.
  bool NextLogicalLine(std::string& out) {
    out.clear();
    if (FPos >= FText.size()) return false;
    FLine = FNextLine;
    for (;;) {
      size_t end = FText.find('\n', FPos);
      std::string_view raw = FText.substr(FPos, end == std::string_view::npos ? end : end - FPos);
      FPos = end == std::string_view::npos ? FText.size() : end + 1;
      ++FNextLine;
      std::string_view t = Trim(raw);
      // Only long hex data is continued: no key or quoted text ends with a backslash.
      if (t.ends_with('\\') && FPos < FText.size()) {
        out += out.empty() ? t.substr(0, t.size() - 1) : Trim(t.substr(0, t.size() - 1));
        continue;
      }
      out += out.empty() ? raw : t;
      return true;
    }
  }

  // A quoted name or text; pos is at the opening quote and ends after the closing one.
  std::string ReadQuoted(std::string_view l, size_t& pos) {
    std::string out;
    ++pos;
    while (pos < l.size() && l[pos] != '"') {
      if (l[pos] == '\\') {
        if (++pos >= l.size()) break;
      }
      out += l[pos++];
    }
    if (pos >= l.size()) Fail("a quoted text is not closed");
    ++pos;
    return out;
  }

  std::string ReadHex(std::string_view data) {
    std::string bytes;
    std::string digits;
    for (char c : data) {
      if (c == ',' || c == ' ' || c == '\t') {
        if (!digits.empty()) AppendByte(bytes, digits);
        continue;
      }
      if (!std::isxdigit(static_cast<unsigned char>(c))) Fail("bad hexadecimal data");
      digits += c;
    }
    if (!digits.empty()) AppendByte(bytes, digits);
    return bytes;
  }

  void AppendByte(std::string& bytes, std::string& digits) {
    if (digits.size() > 2) Fail("bad hexadecimal data");
    bytes += static_cast<char>(std::stoi(digits, nullptr, 16));
    digits.clear();
  }

  void ParseValue(std::string_view l, Key& key) {
    size_t pos = 0;
    std::string name;
    if (l.front() == '@') {
      pos = 1;
    } else if (l.front() == '"') {
      name = ReadQuoted(l, pos);
    } else {
      Fail("a value line must begin with a quoted name");
    }
    if (pos >= l.size() || l[pos] != '=') Fail("'=' expected after the value name");
    std::string_view data = l.substr(pos + 1);
    Value v;
    if (data.starts_with('"')) {
      size_t p = 0;
      v.Type = ValueType::String;
      v.Data = ReadQuoted(data, p);
      if (!Trim(data.substr(p)).empty()) Fail("text after the closing quote");
    } else if (data.starts_with("dword:")) {
      std::string_view digits = data.substr(6);
      if (digits.size() != 8) Fail("a dword needs eight hexadecimal digits");
      for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) Fail("bad dword");
      uint32_t n = static_cast<uint32_t>(std::stoul(std::string(digits), nullptr, 16));
      v.Type = ValueType::DWord;
      v.Data.assign(reinterpret_cast<const char*>(&n), 4);
    } else if (data.starts_with("hex:")) {
      v.Type = ValueType::Binary;
      v.Data = ReadHex(data.substr(4));
    } else if (data.starts_with("hex(2):")) {
      v.Type = ValueType::ExpandString;
      v.Data = FromUtf16Bytes(ReadHex(data.substr(7)));
    } else if (data.starts_with("hex(1):")) {
      v.Type = ValueType::String;
      v.Data = FromUtf16Bytes(ReadHex(data.substr(7)));
    } else if (data.starts_with("hex(4):")) {
      v.Type = ValueType::DWord;
      v.Data = ReadHex(data.substr(7));
      if (v.Data.size() != 4) Fail("a dword needs four bytes");
    } else if (data.starts_with("hex(")) {
      // Other value types (multi-strings, 64-bit numbers) are kept as raw bytes:
      // they read as a wrong type, so readers take their defaults, and a rewrite
      // of the file keeps them.
      size_t close = data.find("):");
      std::string_view code = data.substr(4, close == std::string_view::npos ? 0 : close - 4);
      if (code.empty() || code.size() > 8 ||
          code.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
        Fail("bad value type");
      v.Type = static_cast<ValueType>(std::stoul(std::string(code), nullptr, 16));
      v.Data = ReadHex(data.substr(close + 2));
    } else {
      // Deletion lines and anything else are not part of an exported hive.
      Fail("unsupported value data");
    }
    key.Values[Hive::Fold(name)] = {name, std::move(v)};
  }

  std::string_view FText;
  size_t FPos = 0;
  int FLine = 0, FNextLine = 1;
  Hive FHive;
};

// ---- file store helpers -------------------------------------------------------

[[noreturn]] void FileFailure(const char* what, const std::string& path, int error) {
  throw ERegistryException(std::string("Cannot ") + what + " the registry file " + path + ": " +
                           os::ErrorText(error));
}

// The file's bytes; `exists` is false (and the text empty) when there is no file.
std::string ReadWholeFile(const std::string& path, bool& exists) {
  exists = false;
  os::File file;
  if (!file.Open(path, os::Access::Read, os::Share::DenyNone)) {
    int error = os::LastError();
    if (error == ENOENT) return {};
    FileFailure("read", path, error);
  }
  int64_t size = 0;
  if (!file.GetSize(size)) FileFailure("read", path, os::LastError());
  std::string text(static_cast<size_t>(size), '\0');
  size_t got = 0;
  if (!file.Read(text.data(), text.size(), 0, &got)) FileFailure("read", path, os::LastError());
  text.resize(got);
  exists = true;
  return text;
}

class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (FFd < 0) FileFailure("lock", path, errno);
    while (::flock(FFd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int e = errno;
        ::close(FFd);
        FileFailure("lock", path, e);
      }
    }
  }
  ~FileLock() { ::close(FFd); }  // closing releases the lock
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int FFd = -1;
};

// Removes the half-made replacement on every way out but success.
class ReplacementGuard {
 public:
  explicit ReplacementGuard(std::string path) : FPath(std::move(path)) {}
  ~ReplacementGuard() {
    if (!FKept) ::unlink(FPath.c_str());
  }
  ReplacementGuard(const ReplacementGuard&) = delete;
  ReplacementGuard& operator=(const ReplacementGuard&) = delete;
  void Keep() { FKept = true; }

 private:
  std::string FPath;
  bool FKept = false;
};

// REQUIRES: the caller holds the FileLock of `path`, which makes the one
// replacement name safe to reuse.
void WriteAtomically(const std::string& path, const std::string& text) {
  const std::string replacement = path + ".tmp";
  os::File file;
  if (!file.Open(replacement, os::Access::Write, os::Share::Exclusive,
                 os::Disposition::CreateAlways))
    FileFailure("write", path, os::LastError());
  ReplacementGuard guard(replacement);
  if (::chmod(replacement.c_str(), 0600) != 0) FileFailure("write", path, errno);
  if (!file.Write(text.data(), text.size(), 0) || !file.Flush() || !file.Close())
    FileFailure("write", path, os::LastError());
  if (::rename(replacement.c_str(), path.c_str()) != 0) FileFailure("replace", path, errno);
  guard.Keep();
}

std::mutex& CurrentStoreMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<Store>& CurrentStoreSlot() {
  static std::shared_ptr<Store> store;
  return store;
}

}  // namespace

// ---- Hive ------------------------------------------------------------------

std::string Hive::Fold(std::string_view utf8) {
  std::u16string wide = rtl::Utf8ToUtf16(utf8);
  for (char16_t& c : wide) {
    UChar32 upper = u_toupper(c);
    if (upper <= 0xFFFF) c = static_cast<char16_t>(upper);
  }
  return rtl::Utf16ToUtf8(wide);
}

Key* Hive::Find(std::string_view path) {
  auto it = Keys.find(Fold(NormalizePath(path)));
  return it == Keys.end() ? nullptr : &it->second;
}
const Key* Hive::Find(std::string_view path) const {
  auto it = Keys.find(Fold(NormalizePath(path)));
  return it == Keys.end() ? nullptr : &it->second;
}

Key& Hive::Ensure(std::string_view path) {
  std::string p = NormalizePath(path);
  // Parents first, so that every key of a path exists as it would in the platform's registry.
  for (size_t at = p.find('\\'); at != std::string::npos; at = p.find('\\', at + 1)) {
    std::string parent = p.substr(0, at);
    auto [it, added] = Keys.try_emplace(Fold(parent));
    if (added) it->second.Path = parent;
  }
  auto [it, added] = Keys.try_emplace(Fold(p));
  if (added) it->second.Path = p;
  return it->second;
}

std::string SerializeHive(const Hive& hive) {
  std::string out(kHeader);
  out += "\n";
  for (const auto& [folded, key] : hive.Keys) {
    out += "\n[";
    out += key.Path.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + key.Path;
    out += "]\n";
    for (const auto& [upper, entry] : key.Values) {
      out += entry.first.empty() ? std::string("@") : Quote(entry.first);
      out += "=";
      out += ValueText(entry.second);
      out += "\n";
    }
  }
  return out;
}

Hive ParseHive(std::string_view text) { return Parser(text).Parse(); }

// ---- stores -------------------------------------------------------------------

Hive MemoryStore::Load() {
  std::lock_guard lock(FMutex);
  return FHive;
}

void MemoryStore::Update(const std::function<void(Hive&)>& change) {
  std::lock_guard lock(FMutex);
  if (FFailWrites) throw ERegistryException("Failed to write to the registry");
  Hive copy = FHive;
  change(copy);
  FHive = std::move(copy);
}

FileStore::FileStore(std::string path) : FPath(std::move(path)) {}

Hive FileStore::Load() {
  bool exists = false;
  std::string text = ReadWholeFile(FPath, exists);
  if (!exists) return {};
  try {
    return ParseHive(text);
  } catch (const ERegistryException& e) {
    throw ERegistryException(FPath + ": " + e.Message());
  }
}

void FileStore::Update(const std::function<void(Hive&)>& change) {
  std::filesystem::path dir = std::filesystem::path(FPath).parent_path();
  std::error_code ec;
  if (!dir.empty() && !std::filesystem::create_directories(dir, ec) && ec)
    throw ERegistryException("Cannot create the folder of the registry file " + FPath + ": " +
                             ec.message());
  FileLock lock(FPath + ".lock");
  Hive hive = Load();  // raises for a damaged file, which is then left as it is
  change(hive);
  WriteAtomically(FPath, SerializeHive(hive));
}

std::string DefaultHivePath() {
  if (const char* explicitPath = std::getenv("LODGEMARK_REGISTRY"); explicitPath && *explicitPath)
    return explicitPath;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = ".config";
  }
  return base + "/lodgemark/HKCU.reg";
}

std::shared_ptr<Store> CurrentUserStore() {
  std::lock_guard lock(CurrentStoreMutex());
  auto& slot = CurrentStoreSlot();
  if (!slot) slot = std::make_shared<FileStore>(DefaultHivePath());
  return slot;
}

void SetCurrentUserStore(std::shared_ptr<Store> store) {
  std::lock_guard lock(CurrentStoreMutex());
  CurrentStoreSlot() = std::move(store);
}

void CreateCurrentUserStore() { CurrentUserStore(); }

void FreeCurrentUserStore() noexcept {
  std::lock_guard lock(CurrentStoreMutex());
  CurrentStoreSlot().reset();
}

// ---- TRegistry -------------------------------------------------------------------

TRegistry::TRegistry(std::shared_ptr<Store> store) : FStore(std::move(store)) {}

bool TRegistry::OpenKey(std::string_view path, bool canCreate) {
  CloseKey();
  std::string p = rtl::Win1252ToUtf8(NormalizePath(path));
  try {
    Hive hive = FStore->Load();
    if (hive.Find(p)) {
      FSnapshot = std::move(hive);
    } else {
      if (!canCreate) return false;
      FStore->Update([&](Hive& current) { current.Ensure(p); });  // the first read loads anew
    }
    FCurrentPath = std::move(p);
    return true;
  } catch (const rtl::Exception& e) {
    // The caller learns of the failure from the result; the reads and writes
    // that follow on an unopened key raise, naming this reason.
    FOpenError = e.Message();
    return false;
  }
}

void TRegistry::CloseKey() {
  FCurrentPath.reset();
  FSnapshot.reset();
  FOpenError.clear();
}

std::string TRegistry::NoKeyReason() const { return FOpenError.empty() ? "" : ": " + FOpenError; }

bool TRegistry::KeyExists(std::string_view path) {
  try {
    return FStore->Load().Find(rtl::Win1252ToUtf8(path)) != nullptr;
  } catch (const rtl::Exception&) {
    return false;
  }
}

bool TRegistry::ValueExists(std::string_view name) {
  try {
    return Get(name).has_value();
  } catch (const rtl::Exception&) {
    return false;
  }
}

std::optional<Value> TRegistry::Get(std::string_view name) {
  if (!FCurrentPath)
    throw ERegistryException("Failed to get data for '" + std::string(name) + "'" + NoKeyReason());
  // The reads of one open key share one snapshot of the hive, so a group of
  // values read together comes from one state of the file and the file is
  // parsed once, not once per value.
  if (!FSnapshot) FSnapshot = FStore->Load();
  const Key* key = FSnapshot->Find(*FCurrentPath);
  if (!key) return std::nullopt;
  auto it = key->Values.find(Hive::Fold(rtl::Win1252ToUtf8(name)));
  if (it == key->Values.end()) return std::nullopt;
  return it->second.second;
}

void TRegistry::Put(std::string_view name, Value value) {
  if (!FCurrentPath)
    throw ERegistryException("Failed to set data for '" + std::string(name) + "'" + NoKeyReason());
  FSnapshot.reset();  // the next read sees this write and any other made since
  std::string utf8Name = rtl::Win1252ToUtf8(name);
  FStore->Update([&](Hive& hive) {
    hive.Ensure(*FCurrentPath).Values[Hive::Fold(utf8Name)] = {utf8Name, value};
  });
}

namespace {
[[noreturn]] void InvalidType(std::string_view name) {
  throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
}
}  // namespace

std::string TRegistry::ReadString(std::string_view name) {
  auto v = Get(name);
  if (!v) return {};
  if (v->Type != ValueType::String && v->Type != ValueType::ExpandString) InvalidType(name);
  return rtl::Utf8ToWin1252(v->Data);
}

int32_t TRegistry::ReadInteger(std::string_view name) {
  auto v = Get(name);
  if (!v) throw ERegistryException("Failed to get data for '" + std::string(name) + "'");
  if (v->Type != ValueType::DWord || v->Data.size() != 4) InvalidType(name);
  int32_t n;
  std::memcpy(&n, v->Data.data(), 4);
  return n;
}

bool TRegistry::ReadBool(std::string_view name) { return ReadInteger(name) != 0; }

double TRegistry::ReadFloat(std::string_view name) {
  auto v = Get(name);
  if (!v) throw ERegistryException("Failed to get data for '" + std::string(name) + "'");
  if (v->Type != ValueType::Binary || v->Data.size() != sizeof(double)) InvalidType(name);
  double d;
  std::memcpy(&d, v->Data.data(), sizeof d);
  return d;
}

void TRegistry::WriteString(std::string_view name, std::string_view value) {
  Put(name, Value{ValueType::String, rtl::Win1252ToUtf8(value)});
}

void TRegistry::WriteExpandString(std::string_view name, std::string_view value) {
  Put(name, Value{ValueType::ExpandString, rtl::Win1252ToUtf8(value)});
}

void TRegistry::WriteInteger(std::string_view name, int32_t value) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &value, 4);
  Put(name, Value{ValueType::DWord, std::move(bytes)});
}

void TRegistry::WriteBool(std::string_view name, bool value) { WriteInteger(name, value ? 1 : 0); }

void TRegistry::WriteFloat(std::string_view name, double value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  Put(name, Value{ValueType::Binary, std::move(bytes)});
}

void TRegistry::WriteBinaryData(std::string_view name, std::string_view bytes) {
  Put(name, Value{ValueType::Binary, std::string(bytes)});
}

}  // namespace reg
