// The PPM (variant G) model behind SDBPPM.h: its memory sub-allocator and
// the context model with its range coder. Internal to the coder; use
// PPMCompressBuffer / PPMDecompressBuffer.
//
// The model lives in one flat heap and refers to its objects by 32-bit
// offsets into it, laid out exactly as the variant lays them out with 32-bit
// pointers: a unit is 12 bytes; a context is NumStats (16 bits), SummFreq
// (16 bits), Stats (32 bits), Suffix (32 bits); a symbol state is Symbol,
// Freq (8 bits each) and Successor (32 bits), two states per unit; a context
// with a single state keeps it in place of SummFreq and Stats. Memory use,
// and therefore the moments at which the model runs out of memory and
// restarts, are those of every other program using the variant, which keeps
// the coded bytes identical.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace sdb {

// Raised inside the model when it cannot go on (memory cannot be had,
// damaged input, an inconsistency); the buffer functions turn it into their
// error.
struct TSDBPPMFault {};

class TSDBPPMSubAllocator {
 public:
  static constexpr uint32_t kUnitSize = 12;
  static constexpr int kN1 = 4, kN2 = 4, kN3 = 4, kN4 = (128 + 3 - 1 * kN1 - 2 * kN2 - 3 * kN3) / 4;
  static constexpr int kIndexes = kN1 + kN2 + kN3 + kN4;

  TSDBPPMSubAllocator();

  // Holds SizeMB megabytes (1 .. 256); memory already held is kept when its
  // size is the same. False when the memory cannot be had.
  bool Start(uint32_t SizeMB);
  uint32_t SizeMB() const { return FSize >> 20; }
  // Makes the whole heap free again (the bytes themselves are left as they are).
  void Init();

  uint8_t* Base() const { return FHeap.get(); }
  // Offsets at or above this are not inside the heap.
  uint32_t Limit() const { return FLimit; }

  // Each returns the offset of the block, 0 when memory is exhausted.
  uint32_t AllocContext();
  uint32_t AllocUnitsRare(int NU);
  uint32_t ExpandUnits(uint32_t OldPtr, int OldNU);
  uint32_t ShrinkUnits(uint32_t OldPtr, int OldNU, int NewNU);
  void FreeUnits(uint32_t Ptr, int OldNU);

 private:
  struct TFree {
    void operator()(uint8_t* p) const noexcept;
  };
  void InsertNode(uint32_t p, int indx);
  uint32_t RemoveNode(int indx);
  uint32_t I2B(int indx) const { return kUnitSize * FIndx2Units[indx]; }
  void SplitBlock(uint32_t pv, int OldIndx, int NewIndx);

  std::unique_ptr<uint8_t, TFree> FHeap;
  uint32_t FSize = 0;  // bytes of the heap proper
  uint32_t FLimit = 0;
  uint32_t FHeapStart = 0, FLoUnit = 0, FHiUnit = 0, FLastBreath = 0;
  uint32_t FFreeList[kIndexes] = {};
  uint8_t FIndx2Units[kIndexes] = {};
  uint8_t FUnits2Indx[128] = {};
};

class TSDBPPMModel {
 public:
  static constexpr int kMaxOrder = 16;

  TSDBPPMModel();

  // Codes In[0 .. InSize) followed by the end mark into Out; raises
  // TSDBPPMFault when the coded bytes would pass OutRoom. Returns the number
  // of bytes written.
  size_t Compress(int MaxOrder, uint32_t SizeMB, const uint8_t* In, size_t InSize, uint8_t* Out,
                  size_t OutRoom);
  // Decodes exactly OutSize bytes and then the end mark into Out; raises
  // TSDBPPMFault when the data ends early, ends late, or needs bytes past
  // InSize. Out grows as bytes are decoded, so damaged data naming a huge
  // size fails before much memory is taken.
  void Decompress(int MaxOrder, uint32_t SizeMB, const uint8_t* In, size_t InSize, std::vector<uint8_t>& Out,
                  size_t OutSize);

  // Memory held now (MB), 0 when none.
  uint32_t HeldMB() const { return FAlloc.SizeMB(); }

 private:
  struct TSEE2Context {
    uint16_t Summ;
    uint8_t Shift, Count;
    void Init(int InitVal);
    unsigned GetMean();
    void Update();
  };

  uint8_t* Ptr(uint32_t Offset) const;
  uint32_t Off(const uint8_t* p) const { return p ? static_cast<uint32_t>(p - FBase) : 0; }
  uint8_t* NewContext(uint8_t* State, uint8_t* ShorterContext);

  void Prepare(int MaxOrder, uint32_t SizeMB);
  void StartModel();
  void ClearMask();
  void Rescale(uint8_t* Ctx);
  bool MakeRoot(unsigned SkipCount, uint8_t* p1);
  void UpdateModel();
  void AfterSymbol();
  uint8_t* SymbolTable(uint8_t* Ctx) const;
  uint8_t* FindState(uint8_t* Ctx, unsigned Symbol);

  uint16_t& BinSumm(uint8_t* Ctx);
  TSEE2Context* MakeEscFreq2(uint8_t* Ctx, int Diff);
  void Update1(uint8_t* Ctx, uint8_t* p);
  void Update2(uint8_t* Ctx, uint8_t* p);
  void EncodeBinSymbol(uint8_t* Ctx, int Symbol);
  void EncodeSymbol1(uint8_t* Ctx, int Symbol);
  void EncodeSymbol2(uint8_t* Ctx, int Symbol);
  void DecodeBinSymbol(uint8_t* Ctx);
  void DecodeSymbol1(uint8_t* Ctx);
  void DecodeSymbol2(uint8_t* Ctx);

  // Carryless range coder.
  void EncoderInit();
  void EncodeRange();
  void EncodeShiftRange(unsigned Shift);
  void EncoderNormalize();
  void EncoderFlush();
  void PutByte(uint32_t b);
  void DecoderInit();
  uint32_t DecoderCount();
  uint32_t DecoderShiftCount(unsigned Shift);
  void DecoderRemoveRange();
  void DecoderNormalize();
  uint32_t GetByte();

  TSDBPPMSubAllocator FAlloc;
  uint8_t* FBase = nullptr;
  uint32_t FLimit = 0;

  TSEE2Context FSEE2Cont[44][8] = {};
  uint16_t FBinSumm[128][16] = {};
  uint8_t FCharMask[256] = {}, FNS2Indx[256] = {}, FNS2BSIndx[256] = {};
  uint8_t FEscCount = 0, FPrevSuccess = 0;
  int FNumMasked = 0, FInitEsc = 0, FOrderFall = 0, FMaxOrder = 0;
  uint8_t *FMinContext = nullptr, *FMedContext = nullptr, *FMaxContext = nullptr;
  uint8_t* FFoundState = nullptr;

  uint32_t FLowCount = 0, FHighCount = 0, FScale = 0;
  uint32_t FLow = 0, FCode = 0, FRange = 0;
  const uint8_t* FIn = nullptr;
  const uint8_t* FInEnd = nullptr;
  bool FOverrun = false;
  uint8_t* FOut = nullptr;
  uint8_t* FOutEnd = nullptr;
};

}  // namespace sdb
