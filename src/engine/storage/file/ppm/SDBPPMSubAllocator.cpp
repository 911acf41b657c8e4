// Memory sub-allocator of the PPM model: blocks of 1 .. 128 units of 12
// bytes, kept on free lists by size class. Contexts are taken from the top
// of the heap, symbol tables from the bottom; a reserve of 128 blocks of 128
// units at the bottom is released only when the heap is exhausted, which
// gives the model a last chance before it has to restart.
#include "storage/file/ppm/SDBPPMModel.h"

#include <cstdlib>
#include <cstring>

#include "common/SDBBytes.h"

namespace sdb {

namespace {

// Offset 0 stands for "no block": the heap proper starts one unit in, so no
// block ever sits at offset 0.
constexpr uint32_t kHeapStart = TSDBPPMSubAllocator::kUnitSize;
// Spare bytes after the heap: a scan over a full symbol table that starts
// in the last units stays inside the allocation.
constexpr uint32_t kTailSlack = 256 * 6 + TSDBPPMSubAllocator::kUnitSize;
constexpr uint32_t kReserveUnits = 128 * 128;

}  // namespace

void TSDBPPMSubAllocator::TFree::operator()(uint8_t* p) const noexcept { std::free(p); }

TSDBPPMSubAllocator::TSDBPPMSubAllocator() {
  int i = 0, k = 1;
  for (; i < kN1; i++, k += 1) FIndx2Units[i] = static_cast<uint8_t>(k);
  for (k++; i < kN1 + kN2; i++, k += 2) FIndx2Units[i] = static_cast<uint8_t>(k);
  for (k++; i < kN1 + kN2 + kN3; i++, k += 3) FIndx2Units[i] = static_cast<uint8_t>(k);
  for (k++; i < kIndexes; i++, k += 4) FIndx2Units[i] = static_cast<uint8_t>(k);
  for (i = 0, k = 0; k < 128; k++) {
    i += (FIndx2Units[i] < k + 1);
    FUnits2Indx[k] = static_cast<uint8_t>(i);
  }
}

bool TSDBPPMSubAllocator::Start(uint32_t SizeMB) {
  if (SizeMB < 1 || SizeMB > 256) return false;
  const uint32_t size = SizeMB << 20;
  if (FHeap && FSize == size) return true;
  FHeap.reset();
  FSize = 0;
  FLimit = 0;
  // calloc: the pages are zero and committed only when the model reaches them.
  auto* heap = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(kHeapStart) + size + kTailSlack, 1));
  if (!heap) return false;
  FHeap.reset(heap);
  FSize = size;
  FLimit = kHeapStart + size;
  Init();
  return true;
}

void TSDBPPMSubAllocator::Init() {
  std::memset(FFreeList, 0, sizeof FFreeList);
  FHeapStart = kHeapStart;
  FHiUnit = FHeapStart + kUnitSize * (FSize / kUnitSize);
  FLastBreath = FHeapStart;
  FLoUnit = FHeapStart + kReserveUnits * kUnitSize;
}

void TSDBPPMSubAllocator::InsertNode(uint32_t p, int indx) {
  PutLE32(FHeap.get() + p, FFreeList[indx]);
  FFreeList[indx] = p;
}

uint32_t TSDBPPMSubAllocator::RemoveNode(int indx) {
  const uint32_t node = FFreeList[indx];
  FFreeList[indx] = GetLE32(FHeap.get() + node);
  return node;
}

void TSDBPPMSubAllocator::SplitBlock(uint32_t pv, int OldIndx, int NewIndx) {
  int UDiff = FIndx2Units[OldIndx] - FIndx2Units[NewIndx];
  uint32_t p = pv + I2B(NewIndx);
  int i = FUnits2Indx[UDiff - 1];
  if (FIndx2Units[i] != UDiff) {
    InsertNode(p, --i);
    p += I2B(i);
    UDiff -= FIndx2Units[i];
  }
  InsertNode(p, FUnits2Indx[UDiff - 1]);
}

uint32_t TSDBPPMSubAllocator::AllocUnitsRare(int NU) {
  const int indx = FUnits2Indx[NU - 1];
  if (FFreeList[indx]) return RemoveNode(indx);
  const uint32_t block = FLoUnit;
  // The top of the heap is at most 256 MB + 12, so this cannot wrap.
  FLoUnit += I2B(indx);
  if (FLoUnit <= FHiUnit) return block;
  if (FLastBreath) {
    for (int i = 0; i < 128; i++) {
      InsertNode(FLastBreath, kIndexes - 1);
      FLastBreath += 128 * kUnitSize;
    }
    FLastBreath = 0;
  }
  FLoUnit -= I2B(indx);
  int i = indx;
  do {
    if (++i == kIndexes) return 0;
  } while (!FFreeList[i]);
  const uint32_t found = RemoveNode(i);
  SplitBlock(found, i, indx);
  return found;
}

uint32_t TSDBPPMSubAllocator::AllocContext() {
  if (FHiUnit != FLoUnit) return FHiUnit -= kUnitSize;
  return AllocUnitsRare(1);
}

uint32_t TSDBPPMSubAllocator::ExpandUnits(uint32_t OldPtr, int OldNU) {
  const int i0 = FUnits2Indx[OldNU - 1], i1 = FUnits2Indx[OldNU];
  if (i0 == i1) return OldPtr;
  const uint32_t ptr = AllocUnitsRare(OldNU + 1);
  if (ptr) {
    std::memcpy(FHeap.get() + ptr, FHeap.get() + OldPtr, I2B(i0));
    InsertNode(OldPtr, i0);
  }
  return ptr;
}

uint32_t TSDBPPMSubAllocator::ShrinkUnits(uint32_t OldPtr, int OldNU, int NewNU) {
  const int i0 = FUnits2Indx[OldNU - 1], i1 = FUnits2Indx[NewNU - 1];
  if (i0 == i1) return OldPtr;
  if (FFreeList[i1]) {
    const uint32_t ptr = RemoveNode(i1);
    std::memcpy(FHeap.get() + ptr, FHeap.get() + OldPtr, I2B(i1));
    InsertNode(OldPtr, i0);
    return ptr;
  }
  SplitBlock(OldPtr, i0, i1);
  return OldPtr;
}

void TSDBPPMSubAllocator::FreeUnits(uint32_t Ptr, int OldNU) { InsertNode(Ptr, FUnits2Indx[OldNU - 1]); }

}  // namespace sdb
