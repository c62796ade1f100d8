// A cursor's view bitmap over the fake engine, where a record's bit is its
// page number.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "support/NativeError.h"
#include "../VEXDatabaseFakes.h"
#include "../VEXManagerFakes.h"
#include "storage/search/VEXRecordBitmap.h"
#include "storage/VEXTableData.h"

namespace vex {
namespace {

using testing::AddField;
using testing::FakeDatabaseData;
using testing::FakePageStore;
using testing::FakeRecordManager;
using testing::FakeTableData;
using testsupport::RaisesNativeError;
using testing::TestCursor;
using testing::TestSession;

class RecordBitmapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.SetConnected(true);
    table = static_cast<FakeTableData*>(db.FindOrCreateTableData(cursor));
    TVEXFieldDefs fields;
    AddField(fields, "Id", aftInteger);
    TVEXIndexDefs indexes;
    TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
  }

  TVEXPageItemID Rec(int32_t bit) { return {bit, 0}; }
  std::vector<int32_t> Walk(TVEXRecordBitmap& bitmap, bool forward) {
    std::vector<int32_t> bits;
    TVEXPageItemID at{0, 0};
    bool restart = true;
    while (bitmap.FindRecord(restart, forward, at, at)) {
      bits.push_back(at.PageNo);
      restart = false;
    }
    return bits;
  }

  FakePageStore pages;
  FakeDatabaseData db{&pages};
  TestSession session{&db};
  TestCursor cursor{session, "Guests"};
  FakeTableData* table = nullptr;
};

TEST_F(RecordBitmapTest, CountsNumbersAndFindsOverSetBits) {
  EXPECT_THAT([] { TVEXRecordBitmap nil(nullptr); }, RaisesNativeError(10425));
  TVEXRecordBitmap bitmap(table);
  EXPECT_FALSE(bitmap.Active());
  EXPECT_EQ(bitmap.TableState(), -1);
  bitmap.SetSize(12);
  for (int32_t bit : {2, 5, 9}) bitmap.ShowRecord(Rec(bit));

  EXPECT_EQ(bitmap.GetRecordCount(), 3);
  EXPECT_EQ(bitmap.GetRecordIDByRecNo(2).PageNo, 5);
  EXPECT_EQ(bitmap.GetRecNoByRecordID(Rec(9)), 3);
  EXPECT_EQ(bitmap.GetRecNoByRecordID(Rec(7)), 2) << "a clear bit takes the view record before it";
  EXPECT_EQ(bitmap.GetRecNoByRecordID(Rec(12)), -1) << "beyond the bitmap";
  EXPECT_THAT([&] { bitmap.GetRecordIDByRecNo(4); }, RaisesNativeError(10413));
  EXPECT_TRUE(bitmap.IsRecordVisible(Rec(5)));
  EXPECT_FALSE(bitmap.IsRecordVisible(Rec(6)));
  EXPECT_FALSE(bitmap.IsRecordVisible(Rec(40)));

  EXPECT_EQ(Walk(bitmap, true), std::vector<int32_t>({2, 5, 9}));
  EXPECT_EQ(Walk(bitmap, false), std::vector<int32_t>({9, 5, 2}));
  TVEXPageItemID found{};
  ASSERT_TRUE(bitmap.FindRecord(false, false, Rec(30), found)) << "from beyond the end backward";
  EXPECT_EQ(found.PageNo, 9);
  EXPECT_FALSE(bitmap.FindRecord(false, true, Rec(30), found));

  bitmap.HideRecord(Rec(5));
  bitmap.HideRecord(Rec(50));
  EXPECT_EQ(bitmap.Size(), 12) << "hiding beyond the bitmap does not grow it";
  bitmap.ShowRecord(Rec(20));
  EXPECT_EQ(bitmap.Size(), 21);
  EXPECT_EQ(Walk(bitmap, true), std::vector<int32_t>({2, 9, 20})) << "bits between stay clear";
  bitmap.SetAllBits();
  EXPECT_EQ(bitmap.GetRecordCount(), 21);
}

TEST_F(RecordBitmapTest, OutdatesWhenTheTableStateMovesAndClearsWhenIndexBased) {
  auto* records = static_cast<FakeRecordManager*>(table->RecordManager());
  TVEXRecordBitmap bitmap(table);
  bitmap.SetTableState(records->TableState());
  bitmap.SetActive(true);
  EXPECT_FALSE(bitmap.Outdated());
  records->Touch();
  EXPECT_TRUE(bitmap.Outdated());

  bitmap.SetIndexBased(true);
  bitmap.SetSize(8);
  bitmap.ShowRecord(Rec(3));
  EXPECT_FALSE(bitmap.Active());
  EXPECT_EQ(bitmap.Size(), 0) << "a changed record moves index positions";
}

}  // namespace
}  // namespace vex
