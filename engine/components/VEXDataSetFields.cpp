#include "components/VEXDataSetFields.h"

#include <cmath>
#include <cstring>

#include "db/Fields.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXFieldTypes.h"

namespace vex {

namespace {

template <typename T>
T Load(const void* From) {
  T value;
  std::memcpy(&value, From, sizeof value);
  return value;
}

template <typename T>
void Store(void* To, const T& Value) {
  std::memcpy(To, &Value, sizeof Value);
}

}  // namespace

void DateTimeDataConvert(db::TFieldType DataType, const void* Source, void* Dest, bool ToNative) {
  switch (DataType) {
    case db::ftDate:
      if (ToNative)
        Store(Dest, DateTimeToVEXDate(Load<double>(Source)));
      else
        Store(Dest, VEXDateToDateTime(Load<int32_t>(Source)));
      break;
    case db::ftTime:
      if (ToNative)
        Store(Dest, DateTimeToVEXTime(Load<double>(Source)));
      else
        Store(Dest, VEXTimeToDateTime(Load<int32_t>(Source)));
      break;
    case db::ftDateTime:
      if (ToNative)
        Store(Dest, DateTimeToVEXDateTime(Load<double>(Source)));
      else
        Store(Dest, VEXDateTimeToDateTime(Load<TVEXDateTime>(Source)));
      break;
    case db::ftTimeStamp:
      if (ToNative)
        Store(Dest,
              DateTimeToVEXDateTime(db::SQLTimeStampToDateTime(Load<db::TSQLTimeStamp>(Source))));
      else
        Store(Dest,
              db::DateTimeToSQLTimeStamp(VEXDateTimeToDateTime(Load<TVEXDateTime>(Source))));
      break;
    default:
      break;
  }
}

void ConvertDateTimeForm(db::TFieldType DataType, void* Buffer, bool ToEngine) {
  double value = 0;
  switch (DataType) {
    case db::ftDate:
      if (ToEngine) {
        value = static_cast<double>(Load<int32_t>(Buffer)) - kVEXDateDelta;
        DateTimeDataConvert(DataType, &value, Buffer, true);
      } else {
        DateTimeDataConvert(DataType, Buffer, &value, false);
        Store(Buffer, static_cast<int32_t>(std::trunc(value)) + kVEXDateDelta);
      }
      break;
    case db::ftTime:
      if (ToEngine) {
        value = static_cast<double>(Load<int32_t>(Buffer)) / kMSecsPerDay;
        DateTimeDataConvert(DataType, &value, Buffer, true);
      } else {
        DateTimeDataConvert(DataType, Buffer, &value, false);
        Store(Buffer, DateTimeToVEXTime(value));
      }
      break;
    case db::ftDateTime:
      if (ToEngine) {
        value = Load<double>(Buffer) / kMSecsPerDay - kVEXDateDelta;
        DateTimeDataConvert(DataType, &value, Buffer, true);
      } else {
        DateTimeDataConvert(DataType, Buffer, &value, false);
        // Whole milliseconds, so that a stored value reads back exactly.
        Store(Buffer, std::nearbyint((value + kVEXDateDelta) * static_cast<double>(kMSecsPerDay)));
      }
      break;
    default:
      break;
  }
}

}  // namespace vex
