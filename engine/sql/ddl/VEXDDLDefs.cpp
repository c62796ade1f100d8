#include "sql/ddl/VEXDDLDefs.h"

#include "rtl/Lists.h"

namespace vex {

TSQLFieldDef& TSQLFieldDefs::AddCreated() {
  List.push_back(std::make_unique<TSQLFieldDef>());
  return *List.back();
}

TSQLFieldDef& TSQLFieldDefs::GetDef(int32_t Index) const {
  if (Index < 0 || Index >= Count()) rtl::RaiseListIndexError(Index);
  return *List[static_cast<size_t>(Index)];
}

void AssignSQLFieldDef(const TSQLFieldDef& Source, TVEXAdvFieldDef& Target, bool CopyName) {
  if (CopyName) Target.Name = Source.FieldName;
  if (Source.newFieldType) Target.DataType = Source.FieldType;
  if (Source.newLength) Target.Size = Source.Length;
  if (Source.newRequired) Target.Required = Source.Required;
  if (Source.newAutoincIncrement) Target.AutoincIncrement = Source.AutoincIncrement;
  if (Source.newAutoincLastValue) Target.AutoincInitialValue = Source.AutoincLastValue;
  if (Source.newAutoincMinValue) Target.AutoincMinValue = Source.AutoincMinValue;
  if (Source.newAutoincMaxValue) Target.AutoincMaxValue = Source.AutoincMaxValue;
  if (Source.newAutoincCycled) Target.AutoincCycled = Source.AutoincCycled;
  if (Source.newBlobBlockSize) Target.BLOBBlockSize = Source.BlobBlockSize;
  if (Source.newBlobCompressionAlgorithm)
    Target.BLOBCompressionAlgorithm = Source.BlobCompressionAlgorithm;
  if (Source.newBlobCompressionMode) Target.BLOBCompressionMode = Source.BlobCompressionMode;
  if (Source.newDefaultValue) Target.DefaultValue.Assign(Source.DefaultValue, true);
  if (Source.newMinValue) Target.MinValue.Assign(Source.MinValue, true);
  if (Source.newMaxValue) Target.MaxValue.Assign(Source.MaxValue, true);
}

std::string DDLIndexName(const TVEXDDLIndex& Index) {
  if (!Index.IndexName.empty()) return Index.IndexName;
  std::string name = Index.Primary ? "C_PK" : Index.Unique ? "C_Unique" : "i";
  for (const TVEXIndexField& f : Index.IndexFields) name += "$" + f.FieldName;
  return name;
}

void AddDDLIndexDefs(const std::vector<TVEXDDLIndex>& Indexes, TVEXAdvIndexDefs& AdvIndexDefs,
                     TVEXAdvIndexDefs& RestructureIndexDefs) {
  for (const TVEXDDLIndex& index : Indexes) {
    std::string fields, descFields, caseInsFields;
    auto append = [](std::string& list, const std::string& name) {
      if (!list.empty()) list += ';';
      list += name;
    };
    for (const TVEXIndexField& f : index.IndexFields) {
      append(fields, f.FieldName);
      if (f.desc) append(descFields, f.FieldName);
      if (f.nocase) append(caseInsFields, f.FieldName);
    }
    db::TIndexOptions options;
    if (index.Primary) options.Include(db::ixPrimary);
    if (index.Unique) options.Include(db::ixUnique);
    const std::string name = DDLIndexName(index);
    AdvIndexDefs.Add(name, fields, options, false, descFields, caseInsFields);
    RestructureIndexDefs.Add(name, fields, options, false, descFields, caseInsFields);
  }
}

}  // namespace vex
