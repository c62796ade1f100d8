#include "storage/VEXBaseSession.h"

#include "rtl/CodePage.h"

namespace vex {

int32_t TVEXBaseSession::IndexOfName(std::string_view ObjectName) const {
  if (ObjectName.empty()) return -1;
  const std::string wanted = rtl::AnsiUpperCase(ObjectName);
  for (size_t i = 0; i < FSessionNamedObjectList.size(); ++i) {
    const TVEXShortName& name = FSessionNamedObjectList[i]->Name;
    if (!name.empty() && rtl::AnsiUpperCase(name.str()) == wanted) return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t TVEXBaseSession::IndexOfID(int32_t ID) const {
  for (size_t i = 0; i < FSessionNamedObjectList.size(); ++i) {
    if (FSessionNamedObjectList[i]->ObjectID == ID) return static_cast<int32_t>(i);
  }
  return -1;
}

void TVEXBaseSession::SetObject(std::unique_ptr<TVEXSessionNamedObject> Value) {
  if (!Value) return;
  const int32_t old =
      Value->ObjectID == -1 ? IndexOfName(Value->Name.str()) : IndexOfID(Value->ObjectID);
  // Make room first, so a failing append leaves the old object in place.
  FSessionNamedObjectList.reserve(FSessionNamedObjectList.size() + 1);
  if (old >= 0) FSessionNamedObjectList.erase(FSessionNamedObjectList.begin() + old);
  FSessionNamedObjectList.push_back(std::move(Value));
}

TVEXSessionNamedObject* TVEXBaseSession::GetObjectByName(std::string_view ObjectName) const {
  const int32_t i = IndexOfName(ObjectName);
  return i < 0 ? nullptr : FSessionNamedObjectList[static_cast<size_t>(i)].get();
}

TVEXSessionNamedObject* TVEXBaseSession::GetObjectByID(int32_t ID) const {
  const int32_t i = IndexOfID(ID);
  return i < 0 ? nullptr : FSessionNamedObjectList[static_cast<size_t>(i)].get();
}

void TVEXBaseSession::DeleteObject(int32_t ID) {
  const int32_t i = IndexOfID(ID);
  if (i >= 0) FSessionNamedObjectList.erase(FSessionNamedObjectList.begin() + i);
}

void TVEXBaseSession::SetSequenceValue(int32_t ObjectID, int64_t Value) {
  SetObject(std::make_unique<TVEXSessionNamedObjectSequenceValue>(ObjectID, Value));
}

bool TVEXBaseSession::GetSequenceValue(int32_t ObjectID, int64_t& Value) const {
  const auto* sequence =
      dynamic_cast<const TVEXSessionNamedObjectSequenceValue*>(GetObjectByID(ObjectID));
  if (sequence == nullptr) return false;
  Value = sequence->Value;
  return true;
}

}  // namespace vex
