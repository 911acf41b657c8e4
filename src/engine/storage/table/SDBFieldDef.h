// Table definitions: fields, indexes and constraints as the table metadata
// stores them, plus the byte-stream reader and writer the metadata uses and
// the record-buffer encoding of every base type.
//
// Record buffers: a null bitmap of ceil(FieldCount / 8) bytes (bit i of byte
// i div 8, least significant first; set = NULL), then the fields in
// definition order. Disk and memory sizes differ only for BLOB fields (6
// bytes on disk: the stored value's TSDBPageItemID; 10 bytes in memory: the
// same 6 bytes followed by a 4-byte handle of the BLOB's cache entry).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBFieldTypes.h"
#include "sdb/SDBVariant.h"
#include "storage/file/SDBCompression.h"
#include "common/SDBNames.h"

namespace sdb {

// ---- Byte streams of the metadata --------------------------------------------

// Appends little-endian values to a growing buffer.
class TSDBMetaWriter {
 public:
  void Byte(uint8_t v) { FData.push_back(v); }
  void Bool(bool v) { FData.push_back(v ? 1 : 0); }
  void Word(uint16_t v);
  void Int32(int32_t v);
  void Int64(int64_t v);
  void Bytes(const void* p, size_t n);
  // 1 length byte + characters (names longer than 255 characters are cut).
  void ShortString(const std::string& s);
  const std::vector<uint8_t>& Data() const noexcept { return FData; }
  std::vector<uint8_t>& Data() noexcept { return FData; }

 private:
  std::vector<uint8_t> FData;
};

// Reads little-endian values from a buffer; a read past the end raises
// "Cannot read from stream. Position = %d, Stream size = %d, Block size =
// %d, Bytes Read = %d" with the code given for the value being read.
class TSDBMetaReader {
 public:
  TSDBMetaReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  explicit TSDBMetaReader(const std::vector<uint8_t>& v) : FData(v.data()), FSize(v.size()) {}

  uint8_t Byte(int Code);
  bool Bool(int Code) { return Byte(Code) != 0; }
  uint16_t Word(int Code);
  int32_t Int32(int Code);
  int64_t Int64(int Code);
  void Bytes(void* p, size_t n, int Code);
  std::string ShortString(int Code);
  size_t Position() const noexcept { return FPos; }
  size_t Size() const noexcept { return FSize; }
  bool AtEnd() const noexcept { return FPos >= FSize; }

 private:
  const uint8_t* Need(size_t n, int Code);
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

// ---- Value encoding ------------------------------------------------------------

// Bytes a value of the base type takes in a record buffer (S = declared
// size). Raises "Unknown DataType: '%s'" (30050) for types without a size.
int32_t SDBFieldDataSize(TSDBBaseFieldType Type, int32_t Size, bool Disk);

// Writes `Value` converted to `Type` into Buffer (DataSize bytes, the
// field's memory size); texts longer than the field are cut. Raises the
// variant's conversion errors.
void SDBWriteFieldValue(uint8_t* Buffer, int32_t DataSize, TSDBBaseFieldType Type, const TSDBVariant& Value);
// Reads a non-BLOB value of `Type` from Buffer (DataSize bytes).
TSDBVariant SDBReadFieldValue(const uint8_t* Buffer, int32_t DataSize, TSDBBaseFieldType Type);
// The stored bytes of a BLOB field's value and back: memos in Windows-1252,
// wide memos in UTF-16LE, other BLOBs as they are. A text bound for a memo
// must be representable in Windows-1252 (the error names the field).
class TSDBFieldDef;
std::vector<uint8_t> SDBBlobBytes(const TSDBFieldDef& Def, const TSDBVariant& Value);
TSDBVariant SDBBlobValue(TSDBBaseFieldType Type, const std::vector<uint8_t>& Bytes);

// 80-bit extended precision <-> double.
void SDBDoubleToExtended(double Value, uint8_t* Out10);
double SDBExtendedToDouble(const uint8_t* In10);

// Serialised variant: data type Byte, is-null Byte, and when not null a size
// Integer followed by that many bytes in the record-buffer encoding.
void SDBWriteVariant(TSDBMetaWriter& W, const TSDBVariant& V);
TSDBVariant SDBReadVariant(TSDBMetaReader& R, int Code);

// ---- Definitions -------------------------------------------------------------------

class TSDBMetaObjectDef {
 public:
  virtual ~TSDBMetaObjectDef() = default;
  std::string FName;
  int32_t FObjectID = -1;
  std::string FSchemaName;
  int32_t FSchemaID = -1;

 protected:
  void SavePrefix(TSDBMetaWriter& W) const;
  void LoadPrefix(TSDBMetaReader& R, int NameCode, int ObjectIDCode);
};

class TSDBFieldDef : public TSDBMetaObjectDef {
 public:
  TSDBFieldDef() = default;
  // A field of an advanced type; the base type follows from it ("Unsupported
  // data type '%s'" when it has none).
  TSDBFieldDef(const std::string& Name, TSDBAdvancedFieldType Type, int32_t Size = 0);

  TSDBBaseFieldType FBaseFieldType = bftUnknown;
  TSDBAdvancedFieldType FAdvancedFieldType = aftUnknown;
  int32_t FFieldSize = 0;
  int32_t FDiskDataSize = 0;
  int32_t FMemoryDataSize = 0;
  int32_t FDiskOffset = 0;
  int32_t FMemoryOffset = 0;
  int32_t FFieldNoReference = -1;
  TSDBVariant FDefaultValue;
  std::string FDefaultValueExpr;
  TSDBCompressionAlgorithm FBLOBCompressionAlgorithm = acaNone;
  uint8_t FBLOBCompressionMode = 0;
  int32_t FBLOBBlockSize = 102400;
  int64_t FAutoincIncrement = 1;
  int64_t FAutoincInitialValue = 0;
  int64_t FAutoincMinValue = 0;
  int64_t FAutoincMaxValue = 0;
  bool FAutoincCycled = false;

  bool IsBlob() const { return SDBIsBlobFieldType(FBaseFieldType); }
  bool IsAutoInc() const { return SDBIsAutoIncFieldType(FAdvancedFieldType); }
  // Sets FDiskDataSize and FMemoryDataSize from the type and size.
  void RecalcDataSizes();
  void SaveToStream(TSDBMetaWriter& W) const;
  void LoadFromStream(TSDBMetaReader& R);
};

struct TSDBIndexColumn {
  std::string FFieldName;
  bool FDescending = false;
  bool FCaseInsensitive = false;
  int32_t FMaxIndexedSize = 20;
};

enum TSDBIndexType : uint8_t { itBTree = 0 };

class TSDBIndexDef : public TSDBMetaObjectDef {
 public:
  TSDBIndexType FIndexType = itBTree;
  bool FUnique = false;
  bool FPrimary = false;
  bool FTemporary = false;  // never stored
  int32_t FRootPageNo = -1;
  // Temporary indexes only (never stored): the owning session and the
  // table state the index was last kept in step with.
  int32_t FSessionID = -1;
  int32_t FTableState = 0;
  std::vector<TSDBIndexColumn> FColumns;

  void SaveToStream(TSDBMetaWriter& W) const;
  void LoadFromStream(TSDBMetaReader& R);
};

enum TSDBConstraintType : uint8_t { ctPK = 0, ctFK = 1, ctUnique = 2, ctNotNull = 3, ctCheck = 4 };

class TSDBConstraintDef : public TSDBMetaObjectDef {
 public:
  virtual TSDBConstraintType ConstraintType() const = 0;
  virtual void SaveToStream(TSDBMetaWriter& W) const = 0;
  virtual void LoadFromStream(TSDBMetaReader& R) = 0;
  // A constraint of that type ("Unknown Constraint Type: '%d'" (30316) for
  // others, "Not implemented yet" (30040) for foreign keys).
  static std::unique_ptr<TSDBConstraintDef> Create(uint8_t Type);

  int32_t FTableSchemaObjectID = -1;
  int32_t FTableObjectID = -1;
  std::string FTableSchemaName;
  std::string FTableName;
};

class TSDBConstraintDefNotNull : public TSDBConstraintDef {
 public:
  TSDBConstraintType ConstraintType() const override { return ctNotNull; }
  void SaveToStream(TSDBMetaWriter& W) const override;
  void LoadFromStream(TSDBMetaReader& R) override;
  int32_t FColumnObjectID = -1;
  std::string FColumnName;
};

class TSDBConstraintDefCheck : public TSDBConstraintDefNotNull {
 public:
  TSDBConstraintType ConstraintType() const override { return ctCheck; }
  void SaveToStream(TSDBMetaWriter& W) const override;
  void LoadFromStream(TSDBMetaReader& R) override;
  TSDBVariant FMinValue;
  TSDBVariant FMaxValue;
};

struct TSDBConstraintColumn {
  int32_t ColumnObjectID = -1;
  std::string ColumnName;
};

class TSDBConstraintDefUnique : public TSDBConstraintDef {
 public:
  TSDBConstraintType ConstraintType() const override { return ctUnique; }
  void SaveToStream(TSDBMetaWriter& W) const override;
  void LoadFromStream(TSDBMetaReader& R) override;
  int32_t FIndexObjectID = -1;
  std::string FIndexName;
  std::vector<TSDBConstraintColumn> FColumns;
};

class TSDBConstraintDefPrimary : public TSDBConstraintDefUnique {
 public:
  TSDBConstraintType ConstraintType() const override { return ctPK; }
};

// An owned list of definitions with lookup by name (case-insensitive) and
// by object identifier.
template <class T>
class TSDBMetaObjectDefs {
 public:
  TSDBMetaObjectDefs() = default;
  TSDBMetaObjectDefs(TSDBMetaObjectDefs&&) noexcept = default;
  TSDBMetaObjectDefs& operator=(TSDBMetaObjectDefs&&) noexcept = default;

  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  T& operator[](int i) { return *FItems[static_cast<size_t>(i)]; }
  const T& operator[](int i) const { return *FItems[static_cast<size_t>(i)]; }
  T& Add(std::unique_ptr<T> item) {
    FItems.push_back(std::move(item));
    return *FItems.back();
  }
  template <class U = T, class... A>
  U& Emplace(A&&... a) {
    auto p = std::make_unique<U>(std::forward<A>(a)...);
    U& ref = *p;
    FItems.push_back(std::move(p));
    return ref;
  }
  void Delete(int i) { FItems.erase(FItems.begin() + i); }
  void Clear() { FItems.clear(); }
  // Index of the definition, -1 when absent.
  int IndexOfName(const std::string& Name) const;
  int IndexOfID(int32_t ObjectID) const;
  T* FindByName(const std::string& Name) const {
    int i = IndexOfName(Name);
    return i < 0 ? nullptr : FItems[static_cast<size_t>(i)].get();
  }
  T* FindByID(int32_t ObjectID) const {
    int i = IndexOfID(ObjectID);
    return i < 0 ? nullptr : FItems[static_cast<size_t>(i)].get();
  }

 private:
  std::vector<std::unique_ptr<T>> FItems;
};


template <class T>
int TSDBMetaObjectDefs<T>::IndexOfName(const std::string& Name) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (SDBSameName(FItems[i]->FName, Name)) return static_cast<int>(i);
  return -1;
}

template <class T>
int TSDBMetaObjectDefs<T>::IndexOfID(int32_t ObjectID) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i]->FObjectID == ObjectID) return static_cast<int>(i);
  return -1;
}

using TSDBFieldDefs = TSDBMetaObjectDefs<TSDBFieldDef>;
using TSDBIndexDefs = TSDBMetaObjectDefs<TSDBIndexDef>;
using TSDBConstraintDefs = TSDBMetaObjectDefs<TSDBConstraintDef>;

}  // namespace sdb
