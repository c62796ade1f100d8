#include "components/VEXBLOBStream.h"

#include <utility>

#include "components/VEXDataSet.h"
#include "db/Fields.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "storage/memory/VEXMemBlobBlocks.h"

namespace vex {

TVEXBLOBStream::TVEXBLOBStream(db::TBlobField* Field, db::TBlobStreamMode Mode) {
  auto* dataSet = dynamic_cast<TVEXDataSet*>(Field->DataSet());
  if (dataSet == nullptr) RaiseNilPointer(10108);
  if (Mode != db::bmRead && dataSet->ReadOnly())
    throw EVEXException(10106, "Dataset is in read only mode");
  auto* field = static_cast<db::TBlobField*>(dataSet->FieldByName(Field->FieldName()));
  auto* engine = static_cast<TVEXLocalBLOBStream*>(dataSet->OpenEngineBLOBStream(field, Mode));
  if (engine == nullptr) return;
  FBLOBStream = engine;
  SetBlockSize(engine->BlockSize());
  FField = Field;
  FDataSet = dataSet;
  // Attached only once nothing can fail any more: a stream that is never
  // built must not be told anything later.
  if (Mode == db::bmWrite) Truncate();
  engine->SetUserBLOBStream(this);
}

TVEXBLOBStream::~TVEXBLOBStream() {
  TVEXLocalBLOBStream* engine = std::exchange(FBLOBStream, nullptr);
  if (engine == nullptr) return;
  const bool modified = engine->Modified();
  engine->SetUserBLOBStream(nullptr);
  try {
    FDataSet->CloseBlob(FField);
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  if (modified) NotifyFieldChanged();
}

void TVEXBLOBStream::EngineStreamClosed(bool Modified) noexcept {
  FBLOBStream = nullptr;
  if (Modified) NotifyFieldChanged();
}

void TVEXBLOBStream::NotifyFieldChanged() noexcept {
  try {
    FField->SetModified(true);
    FDataSet->DataEvent(db::deFieldChange, *FField);
  } catch (const std::exception&) {
    try {
      FDataSet->InternalHandleException();
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  } catch (...) {
    // Nothing but std::exception is thrown by the system; a foreign one is
    // dropped rather than let out of a destructor.
  }
}

int64_t TVEXBLOBStream::CompressedSize() {
  if (FBLOBStream == nullptr) return 0;
  return CompressedBLOBStreamOf(FBLOBStream->TemporaryStream(), 10108).CompressedSize();
}

void TVEXBLOBStream::Truncate() { SetSize(Seek(0, rtl::soFromCurrent)); }

int32_t TVEXBLOBStream::Read(void* Buffer, int32_t Count) {
  return FBLOBStream != nullptr ? FBLOBStream->Read(Buffer, Count) : 0;
}

int32_t TVEXBLOBStream::Write(const void* Buffer, int32_t Count) {
  if (FBLOBStream == nullptr) return 0;
  const int32_t written = FBLOBStream->Write(Buffer, Count);
  if (written > 0) FBLOBStream->SetModified(true);
  return written;
}

int64_t TVEXBLOBStream::Seek(int64_t Offset, rtl::TSeekOrigin Origin) {
  return FBLOBStream != nullptr ? FBLOBStream->Seek(Offset, Origin) : 0;
}

int64_t TVEXBLOBStream::GetSize() { return FBLOBStream != nullptr ? FBLOBStream->GetSize() : 0; }

void TVEXBLOBStream::SetSize(int64_t NewSize) {
  if (FBLOBStream == nullptr) return;
  FBLOBStream->SetSize(NewSize);
  if (FBLOBStream->GetSize() == NewSize) FBLOBStream->SetModified(true);
}

}  // namespace vex
