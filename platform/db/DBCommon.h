// Shared vocabulary of the dataset framework: the enumerations a dataset, its
// fields, data links and parameters speak in, small sets over them, the database
// error type and the framework's own message texts.
//
// The enumerations keep the order (and so the numbers) of the platform that the
// engine was written for: the engine prints a field type's number in its
// "Unknown DataType" message and stores bookmark flags as their ordinals.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"

namespace rtl {
class TComponent;
}

namespace db {

// A set over a small enumeration (at most 32 members), as the platform's sets.
template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) FBits |= Bit(m);
  }
  constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
  constexpr TSet& Include(E m) {
    FBits |= Bit(m);
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    FBits &= ~Bit(m);
    return *this;
  }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint32_t Bits() const { return FBits; }
  friend constexpr bool operator==(TSet a, TSet b) { return a.FBits == b.FBits; }
  friend constexpr TSet operator+(TSet a, TSet b) { return FromBits(a.FBits | b.FBits); }
  friend constexpr TSet operator*(TSet a, TSet b) { return FromBits(a.FBits & b.FBits); }
  friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(a.FBits & ~b.FBits); }

 private:
  static constexpr uint32_t Bit(E m) { return uint32_t{1} << static_cast<unsigned>(m); }
  static constexpr TSet FromBits(uint32_t bits) {
    TSet s;
    s.FBits = bits;
    return s;
  }
  uint32_t FBits = 0;
};

enum TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo,
  ftOraTimeStamp,
  ftOraInterval
};
// The type's name as messages show it ("String", "Integer", ...).
const char* FieldTypeName(TFieldType type);
// The BLOB kinds: their data travel through BLOB streams, not record buffers.
bool IsBlobFieldType(TFieldType type);

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening
};

enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TResyncModeItem : uint8_t { rmExact, rmCenter };
using TResyncMode = TSet<TResyncModeItem>;

enum TDataAction : uint8_t { daFail, daAbort, daRetry };

enum TDataEvent : uint8_t {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
  deParentScroll,
  deConnectChange,
  deReconcileError,
  deDisabledStateChange
};

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum TLocateOption : uint8_t { loCaseInsensitive, loPartialKey };
using TLocateOptions = TSet<TLocateOption>;

enum TFilterOption : uint8_t { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = TSet<TFilterOption>;

enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };

enum TIndexOption : uint8_t {
  ixPrimary,
  ixUnique,
  ixDescending,
  ixCaseInsensitive,
  ixExpression,
  ixNonMaintained
};
using TIndexOptions = TSet<TIndexOption>;

enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

enum TUpdateKind : uint8_t { ukModify, ukInsert, ukDelete };
enum TUpdateAction : uint8_t { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };

// A record buffer: a block the dataset allocates (AllocRecordBuffer) and frees
// (FreeRecordBuffer); its layout belongs to the dataset.
using TRecordBuffer = uint8_t*;
// A bookmark: the dataset's BookmarkSize bytes naming one record; empty = none.
using TBookmark = std::vector<uint8_t>;

// The platform's database error: misuse of a dataset, field, parameter or link.
class EDatabaseError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// Raised to end an operation silently (a handler answering daAbort).
class EAbort : public rtl::Exception {
 public:
  EAbort() : rtl::Exception("Operation aborted") {}
};

// Raises EDatabaseError with the message, prefixed with "<Name>: " when a
// component with a name is given.
[[noreturn]] void DatabaseError(const std::string& message,
                                const rtl::TComponent* component = nullptr);

// The next name of a ";"-separated field list from Pos (0-based), trimmed;
// Pos moves past the name and its separator.
std::string ExtractFieldName(std::string_view fields, size_t& pos);

// Message texts of the framework.
namespace msg {
inline constexpr const char* DataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* DataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* DataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* DataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* NotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* RecordNotFound = "Record not found";
inline constexpr const char* FieldNotFound = "Field '%s' not found";
inline constexpr const char* FieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char* FieldTypeMismatch =
    "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char* FieldSizeMismatch =
    "Size mismatch for field '%s', expecting: %d actual: %d";
inline constexpr const char* UnknownFieldType = "Field '%s' is of an unknown type";
inline constexpr const char* InvalidCalcType = "Field '%s' cannot be a calculated or lookup field";
inline constexpr const char* DataSetMissing = "Field '%s' has no dataset";
inline constexpr const char* FieldRequired = "Field '%s' must have a value";
inline constexpr const char* LookupInfoError = "Lookup information for field '%s' is incomplete";
inline constexpr const char* FieldRangeError =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char* InvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr const char* NotIndexField = "Field '%s' is not indexed and cannot be modified";
inline constexpr const char* IndexNotFound = "Index '%s' not found";
inline constexpr const char* NoIndexForFields = "No index for fields '%s'";
inline constexpr const char* ParameterNotFound = "Parameter '%s' not found";
inline constexpr const char* CircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* CapabilityNotSupported = "Capability not supported";
inline constexpr const char* DuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* FieldIndexError = "Field index out of range";
}  // namespace msg

}  // namespace db
