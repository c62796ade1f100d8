#include "storage/memory/VEXMemBlobBlocks.h"

#include <cstring>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXMetaDefCollections.h"
#include "storage/VEXSeams.h"

namespace vex {

void TVEXMemoryBlobBlocks::SetFields(const TVEXFieldDefs& FieldDefs) {
  FFields.clear();
  for (int32_t i = 0; i < FieldDefs.Count(); ++i) {
    const TVEXFieldDef* def = FieldDefs.GetDef(i);
    if (IsBLOBBaseFieldType(def->BaseFieldType)) FFields.push_back({i, def->MemoryOffset});
  }
}

const TVEXMemoryBlobBlocks::TField* TVEXMemoryBlobBlocks::FieldOf(int32_t FieldNo) const {
  for (const TField& field : FFields)
    if (field.FieldNo == FieldNo) return &field;
  return nullptr;
}

TVEXMemBlock TVEXMemoryBlobBlocks::MakeBlock(int32_t NumBlocks, int64_t UncompressedSize,
                                             const uint8_t* Data, int64_t CompressedSize) {
  TVEXMemBlock block = TVEXMemBlock::GetMem(kBlockHeaderSize + CompressedSize);
  auto* p = block.As<uint8_t>();
  std::memcpy(p, &NumBlocks, 4);
  std::memcpy(p + 4, &UncompressedSize, 8);
  if (CompressedSize > 0)
    std::memcpy(p + kBlockHeaderSize, Data, static_cast<size_t>(CompressedSize));
  return block;
}

uint32_t TVEXMemoryBlobBlocks::Add(TVEXMemBlock Block) {
  // Note 2: 0 means none, and a handle still registered is skipped.
  do {
    ++FLastHandle;
  } while (FLastHandle == 0 || FBlocks.contains(FLastHandle));
  FBlocks.emplace(FLastHandle, TEntry{std::move(Block), 0});
  return FLastHandle;
}

const uint8_t* TVEXMemoryBlobBlocks::Find(uint32_t Handle) const {
  auto it = FBlocks.find(Handle);
  return it == FBlocks.end() ? nullptr : it->second.Block.As<uint8_t>();
}

int32_t TVEXMemoryBlobBlocks::StoredRefs(uint32_t Handle) const {
  auto it = FBlocks.find(Handle);
  return it == FBlocks.end() ? 0 : it->second.StoredRefs;
}

uint32_t TVEXMemoryBlobBlocks::HandleOf(const uint8_t* RecordBuffer, int32_t FieldNo) const {
  const TField* field = FieldOf(FieldNo);
  if (field == nullptr || RecordBuffer == nullptr || GetBitFromBuffer(FieldNo, RecordBuffer))
    return 0;
  uint32_t handle;
  std::memcpy(&handle, RecordBuffer + field->Offset, sizeof(handle));
  return handle;
}

void TVEXMemoryBlobBlocks::SetHandle(uint8_t* RecordBuffer, int32_t FieldNo,
                                     uint32_t Handle) const {
  const TField* field = FieldOf(FieldNo);
  if (field == nullptr) return;
  std::memset(RecordBuffer + field->Offset, 0, 10);
  std::memcpy(RecordBuffer + field->Offset, &Handle, sizeof(Handle));
  SetBitInBuffer(Handle == 0, FieldNo, RecordBuffer);
}

void TVEXMemoryBlobBlocks::ReleaseIfUnstored(uint32_t Handle) {
  auto it = FBlocks.find(Handle);
  if (it != FBlocks.end() && it->second.StoredRefs == 0) FBlocks.erase(it);
}

void TVEXMemoryBlobBlocks::CheckHandles(const uint8_t* RecordBuffer, int32_t ErrorCode) const {
  for (const TField& field : FFields) {
    const uint32_t handle = HandleOf(RecordBuffer, field.FieldNo);
    if (handle != 0 && !FBlocks.contains(handle)) RaiseNilPointer(ErrorCode);
  }
}

void TVEXMemoryBlobBlocks::AddStoredRefs(const uint8_t* RecordBuffer) {
  for (const TField& field : FFields) {
    auto it = FBlocks.find(HandleOf(RecordBuffer, field.FieldNo));
    if (it != FBlocks.end()) ++it->second.StoredRefs;
  }
}

void TVEXMemoryBlobBlocks::ReleaseStoredRefs(const uint8_t* RecordBuffer) {
  for (const TField& field : FFields) {
    auto it = FBlocks.find(HandleOf(RecordBuffer, field.FieldNo));
    if (it == FBlocks.end() || it->second.StoredRefs == 0) continue;
    if (--it->second.StoredRefs == 0) FBlocks.erase(it);
  }
}

void TVEXMemoryBlobBlocks::ReleaseStored() {
  std::erase_if(FBlocks, [](const auto& item) { return item.second.StoredRefs > 0; });
}

TVEXOwningCompressedBLOBStream::TVEXOwningCompressedBLOBStream(
    std::unique_ptr<TVEXStream> Carrier, const TVEXBLOBDescriptor& BLOBDescriptor, bool ToCreate)
    : std::unique_ptr<TVEXStream>(std::move(Carrier)),
      TVEXCompressedBLOBStream(*static_cast<std::unique_ptr<TVEXStream>&>(*this), BLOBDescriptor,
                               ToCreate) {}

TVEXCompressedBLOBStream& CompressedBLOBStreamOf(TVEXStream& BLOBStream, int32_t ErrorCode) {
  if (auto* compressed = dynamic_cast<TVEXCompressedBLOBStream*>(&BLOBStream)) return *compressed;
  if (auto* access = dynamic_cast<TVEXBLOBStreamAccess*>(&BLOBStream)) {
    if (auto* compressed = dynamic_cast<TVEXCompressedBLOBStream*>(&access->TemporaryStream()))
      return *compressed;
  }
  RaiseNilPointer(ErrorCode);
}

std::unique_ptr<TVEXStream> MakeEngineBLOBStream(std::unique_ptr<TVEXStream> Stream,
                                                 TVEXCursor& Cursor, TVEXBLOBOpenMode OpenMode,
                                                 int32_t FieldNo) {
  TVEXBLOBStreamFactory* factory = BLOBStreamFactory();
  if (factory == nullptr) return Stream;
  return factory->CreateBLOBStream(std::move(Stream), Cursor, OpenMode, FieldNo);
}

}  // namespace vex
