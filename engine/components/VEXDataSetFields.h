// Field values between the dataset framework and the engine's record buffers:
// the date and time forms, and the record copy between two datasets.
//
// Forms of the date and time kinds:
//   kind          dataset framework's native form            engine form in a record
//   ftDate        int32 day number (0001-01-01 is day 1)      the same day number
//   ftTime        int32 milliseconds since midnight           the same milliseconds
//   ftDateTime    double milliseconds since the start of      TVEXDateTime (day number,
//                 the day before 0001-01-01                   milliseconds)
//   ftTimeStamp   the engine form; converted to and from      TVEXDateTime
//                 the platform's SQL time stamp
// A "date-time value" is the platform's double: days since 1899-12-30 with the
// time of day as fraction.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "components/VEXDatabase.h"
#include "db/DBCommon.h"
#include "rtl/Component.h"

namespace db {
class TDataSet;
}

namespace vex {

class TVEXDataSet;

// Between a date-time value (for ftTimeStamp the platform's SQL time stamp)
// in one buffer and the engine form in the other: ToNative from Source's value
// to Dest's engine form, else back. Other kinds copy nothing. Raises the
// platform's integer-overflow error for a value that has no day number.
void DateTimeDataConvert(db::TFieldType DataType, const void* Source, void* Dest, bool ToNative);

// In place, the framework's native form of a date, time or date-time field to
// the engine form (ToEngine) or back; other kinds are left as they are. The
// buffer holds at least 8 bytes for ftDateTime, 4 for the others.
void ConvertDateTimeForm(db::TFieldType DataType, void* Buffer, bool ToEngine);

// Copies every record of Source into new records of Dest (any datasets of the
// framework), field by field
// (by name, or in a restructure of one table component into another by the
// restructure definitions), and puts Source back where it stood. Table names
// the copy in messages (its TableComponentName, else "unknown"). Every problem
// goes to Log; with IgnoreErrors the copy goes on and answers False, without
// it the first error ends the copy and passes on (10499 for a field
// definition without a field). A record that cannot be read is logged as
// "Record #N corrupted and skipped." and the copy goes on with the next
// readable one; when there is none, the copy ends. OnProgress gets
// MinProgress..MaxProgress after the first record and then at least every 30
// records; leaving Continue False ends the copy with "Terminated by User."
// and False.
bool CopyTableRecords(TVEXDataSet& Table, db::TDataSet& Source, db::TDataSet& Dest,
                      std::string& Log, bool& Continue, bool IgnoreErrors, bool Restructure,
                      const TVEXProgressEvent& OnProgress, int32_t MinProgress,
                      int32_t MaxProgress);

}  // namespace vex
