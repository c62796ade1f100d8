// The dataset's field values: date and time forms between the framework and
// the engine's record buffers.
#include <gtest/gtest.h>

#include <cstring>

#include "components/VEXDataSetFields.h"
#include "db/Fields.h"
#include "foundation/VEXFieldTypes.h"

namespace {

using namespace vex;

TEST(DateTimeForms, NativeAndEngineFormsOfDatesAndTimes) {
  // 2000-01-01 is day 730120; 12:00 is 43 200 000 ms.
  int32_t date = 730120;
  ConvertDateTimeForm(db::ftDate, &date, true);
  EXPECT_EQ(date, 730120);
  ConvertDateTimeForm(db::ftDate, &date, false);
  EXPECT_EQ(date, 730120);

  int32_t time = 43200000;
  ConvertDateTimeForm(db::ftTime, &time, true);
  EXPECT_EQ(time, 43200000);

  double native = 63082411200000.0;  // 2000-01-01 12:00
  uint8_t buffer[8];
  std::memcpy(buffer, &native, 8);
  ConvertDateTimeForm(db::ftDateTime, buffer, true);
  TVEXDateTime engine;
  std::memcpy(&engine, buffer, 8);
  EXPECT_EQ(engine.Date, 730120);
  EXPECT_EQ(engine.Time, 43200000);
  ConvertDateTimeForm(db::ftDateTime, buffer, false);
  double back;
  std::memcpy(&back, buffer, 8);
  EXPECT_EQ(back, native);

  // Through date-time values: 36526.5 is 2000-01-01 12:00.
  const double value = 36526.5;
  DateTimeDataConvert(db::ftDateTime, &value, &engine, true);
  EXPECT_EQ(engine.Date, 730120);
  EXPECT_EQ(engine.Time, 43200000);
  DateTimeDataConvert(db::ftDate, &value, &date, true);
  EXPECT_EQ(date, 730120);
  DateTimeDataConvert(db::ftTime, &value, &time, true);
  EXPECT_EQ(time, 43200000);
  double read = 0;
  DateTimeDataConvert(db::ftDateTime, &engine, &read, false);
  EXPECT_EQ(read, value);

  // A time stamp: the platform's record to the engine form and back.
  db::TSQLTimeStamp ts{2000, 1, 1, 12, 30, 15, 250};
  DateTimeDataConvert(db::ftTimeStamp, &ts, &engine, true);
  EXPECT_EQ(engine.Date, 730120);
  EXPECT_EQ(engine.Time, 45015250);
  db::TSQLTimeStamp again{};
  DateTimeDataConvert(db::ftTimeStamp, &engine, &again, false);
  EXPECT_EQ(again.Year, 2000);
  EXPECT_EQ(again.Hour, 12);
  EXPECT_EQ(again.Minute, 30);
  EXPECT_EQ(again.Second, 15);
  EXPECT_EQ(again.Fractions, 250u);
}

}  // namespace
