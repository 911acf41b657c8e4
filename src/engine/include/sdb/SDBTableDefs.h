// Field and index definitions of a table as the table component shows and
// takes them: read from an existing table, or set by the caller to create
// one. Names are UTF-8; types are the declared (advanced) types, from which
// the stored type follows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdb/SDBFieldTypes.h"
#include "sdb/SDBVariant.h"

namespace sdb {

// How the stored values of a BLOB field are compressed.
enum TSDBBlobCompression : uint8_t { bcNone, bcZLIB, bcBZIP, bcPPM };

struct TSDBTableFieldDef {
  std::string Name;
  TSDBAdvancedFieldType DataType = aftUnknown;
  // Characters of a text field, bytes of a BYTES field; 0 for the others.
  int32_t Size = 0;
  // NOT NULL.
  bool Required = false;
  // A constant default (null: none) or the text of an expression worked
  // out at each insert (CURRENT_TIMESTAMP, ...); at most one of the two.
  TSDBVariant DefaultValue;
  std::string DefaultExpression;
  // BLOB fields: compression (mode 1 .. 9 when compressed) and block size.
  TSDBBlobCompression BlobCompression = bcNone;
  uint8_t BlobCompressionMode = 0;
  int32_t BlobBlockSize = 102400;
  // Auto-increment fields: a maximum of 0 means none.
  int64_t AutoincIncrement = 1;
  int64_t AutoincInitialValue = 0;
  int64_t AutoincMinValue = 0;
  int64_t AutoincMaxValue = 0;
  bool AutoincCycled = false;

  // The type the records store ("Unsupported data type '%s'" when the
  // declared type has none).
  TSDBBaseFieldType BaseType() const { return SDBAdvancedToBaseFieldType(DataType); }
};

// Index options (flags).
enum TSDBIndexOption : uint8_t {
  ixPrimary = 1,
  ixUnique = 2,
  // Every field descending / compared without regard to case.
  ixDescending = 4,
  ixCaseInsensitive = 8,
};

struct TSDBTableIndexDef {
  std::string Name;
  // The indexed fields in key order, separated by ";".
  std::string Fields;
  uint8_t Options = 0;
  // The fields (of Fields) in descending order / compared without regard
  // to case, when not every field is (see ixDescending, ixCaseInsensitive).
  std::string DescFields;
  std::string CaseInsFields;

  bool Primary() const { return (Options & ixPrimary) != 0; }
  bool Unique() const { return (Options & (ixUnique | ixPrimary)) != 0; }
};

// A list of definitions; names are found without regard to case.
template <class T>
class TSDBTableDefList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  T& operator[](int i) { return FItems.at(static_cast<size_t>(i)); }
  const T& operator[](int i) const { return FItems.at(static_cast<size_t>(i)); }
  // -1 when there is none of that name.
  int IndexOf(const std::string& Name) const;
  T* Find(const std::string& Name) {
    const int i = IndexOf(Name);
    return i < 0 ? nullptr : &FItems[static_cast<size_t>(i)];
  }
  T& Add(T Item) { return FItems.emplace_back(std::move(Item)); }
  void Delete(int i) { FItems.erase(FItems.begin() + i); }
  void Clear() { FItems.clear(); }
  auto begin() { return FItems.begin(); }
  auto end() { return FItems.end(); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

 private:
  std::vector<T> FItems;
};

class TSDBTableFieldDefs : public TSDBTableDefList<TSDBTableFieldDef> {
 public:
  using TSDBTableDefList::Add;
  TSDBTableFieldDef& Add(const std::string& Name, TSDBAdvancedFieldType DataType, int32_t Size = 0,
                         bool Required = false);
};

class TSDBTableIndexDefs : public TSDBTableDefList<TSDBTableIndexDef> {
 public:
  using TSDBTableDefList::Add;
  TSDBTableIndexDef& Add(const std::string& Name, const std::string& Fields, uint8_t Options = 0);
};

}  // namespace sdb
