// A table cursor whose field definitions and record buffers the tests lay out
// by hand, and a relational operator whose columns are a fixed list, for the
// column nodes to bind to and read from.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/VEXDatabaseFakes.h"
#include "engine/storage/VEXManagerFakes.h"
#include "foundation/VEXStream.h"
#include "foundation/VEXTypes.h"
#include "foundation/VEXVariant.h"
#include "rtl/CodePage.h"
#include "sql/nodes/VEXExprFieldNode.h"
#include "sql/VEXRelationalAlgebra.h"
#include "storage/VEXCursor.h"

namespace vex::exprtest {

// A test cursor whose BLOB fields open as memory streams over Clobs (by
// visible field number); it records the record buffer it stood on when a
// stream was opened, and refuses a second open of an open field.
class ClobCursor : public testing::TestCursor {
 public:
  using testing::TestCursor::TestCursor;
  TVEXStream* InternalCreateBlobStream(bool, bool, int32_t FieldNo, TVEXBLOBOpenMode,
                                       bool) override {
    if (OpenField != -1) throw std::logic_error("a BLOB stream is still open");
    if (FailOpen) throw rtl::EReadError("Stream read error");
    OpenedOn = CurrentRecordBuffer();
    OpenField = FieldNo;
    auto stream = std::make_unique<TVEXMemoryStream>();
    const std::string& bytes = Clobs[FieldNo];
    if (!bytes.empty()) stream->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    BLOBStreams().push_back(std::move(stream));
    return BLOBStreams().back().get();
  }
  void InternalCloseBLOB(int32_t FieldNo) override {
    if (FieldNo != OpenField) throw std::logic_error("closing a BLOB that is not open");
    BLOBStreams().clear();
    OpenField = -1;
  }
  std::map<int32_t, std::string> Clobs;
  const uint8_t* OpenedOn = nullptr;
  int32_t OpenField = -1;
  bool FailOpen = false;
};

// Fields ID integer, NAME string(10), WNAME wide string(10), DATA BLOB,
// NOTE memo (CLOB), CODE integer.
struct CursorFixture {
  CursorFixture() {
    TVEXFieldDefs& defs = Cursor.FieldDefs();
    testing::AddField(defs, "ID", aftInteger);
    testing::AddField(defs, "NAME", aftString, 10);
    testing::AddField(defs, "WNAME", aftWideString, 10);
    testing::AddField(defs, "DATA", aftBlob);
    testing::AddField(defs, "NOTE", aftMemo);
    testing::AddField(defs, "CODE", aftInteger);
    defs.RecalcFieldOffsets();
    Cursor.SetRecordSize(defs.GetMemoryRecordBufferSize());
    Record = testing::NullRecord(defs);
    Cursor.SetCurrentRecordBuffer(Record.data());
  }

  const TVEXFieldDef& Def(int32_t fieldNo) { return *Cursor.FieldDefs().GetDef(fieldNo); }
  void SetInt(std::vector<uint8_t>& record, int32_t fieldNo, int32_t value) {
    testing::SetField(Cursor.FieldDefs(), record, fieldNo, value);
  }
  void SetText(std::vector<uint8_t>& record, int32_t fieldNo, const std::string& text) {
    std::memset(record.data() + Def(fieldNo).MemoryOffset, 0, Def(fieldNo).MemoryDataSize);
    std::memcpy(record.data() + Def(fieldNo).MemoryOffset, text.data(), text.size());
    SetBitInBuffer(false, fieldNo, record.data());
  }
  void SetNull(std::vector<uint8_t>& record, int32_t fieldNo) {
    SetBitInBuffer(true, fieldNo, record.data());
  }

  testing::TestSession Session;
  ClobCursor Cursor{Session, "T"};
  std::vector<uint8_t> Record;
};

// An operator over named columns (qualified by a table name); FieldExists
// lists every column of that name whose table matches.
struct FakeColumn {
  std::string Table;
  std::string Name;
  TVEXAdvancedFieldType Type = aftInteger;
  int32_t Value = 0;
};

class FakeAO : public TVEXAO {
 public:
  explicit FakeAO(std::vector<FakeColumn> columns) : Columns(std::move(columns)) {}

  int32_t FieldExists(const std::string& FieldName, const std::string& TableName, bool,
                      std::vector<int32_t>* FieldNumbers, bool, bool) override {
    int32_t count = 0;
    for (size_t i = 0; i < Columns.size(); ++i) {
      if (Columns[i].Name != FieldName) continue;
      if (!TableName.empty() && Columns[i].Table != TableName) continue;
      if (FieldNumbers != nullptr) FieldNumbers->push_back(static_cast<int32_t>(i));
      ++count;
    }
    return count;
  }
  std::string GetFieldNameByColumnNo(int32_t ColumnNo) override {
    return "AO_" + Columns[ColumnNo].Name;
  }
  TVEXAdvancedFieldType GetFieldType(int32_t FieldNo) override { return Columns[FieldNo].Type; }
  int32_t GetFieldSize(int32_t) override { return 0; }
  int32_t GetFieldPrecision(int32_t) override { return 0; }
  void GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool, bool) override {
    Value.SetNull();
    Value.SetAsInteger(Columns[FieldNo].Value);
  }

  std::vector<FakeColumn> Columns;
};

}  // namespace vex::exprtest
