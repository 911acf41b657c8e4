// PPMII context model of variant G with its carryless range coder.
//
// The model predicts each byte from the longest context seen before (up to
// the model order), escaping to shorter contexts when the byte is new there.
// Binary contexts (one symbol) are coded with adaptive bit estimates
// (BinSumm), escapes out of contexts whose symbols were partly excluded with
// secondary estimation (SEE), and new contexts inherit a first frequency
// from their suffix (information inheritance). The arithmetic follows the
// variant to the bit: 16-bit frequency sums and SEE sums that wrap, 8-bit
// symbol frequencies, 32-bit coder registers.
//
// Decoding drives the model only through paths that encoding the decoded
// bytes would take, so damaged data cannot put the model into a state that
// encoding could not; what damaged data can do is decode a wrong byte, end
// early, or ask for bytes past the input, and all of these are caught. The
// few places where the variant trusts its own consistency (symbol searches,
// table walks) are bounded here as well.
#include "storage/file/ppm/SDBPPMModel.h"

#include <algorithm>
#include <cstring>

#include "common/SDBBytes.h"

namespace sdb {

namespace {

constexpr int kIntBits = 7, kPeriodBits = 7, kTotBits = kIntBits + kPeriodBits;
constexpr int kInterval = 1 << kIntBits, kBinScale = 1 << kTotBits, kMaxFreq = 124;
constexpr uint32_t kTop = 1u << 24, kBot = 1u << 15;
constexpr uint32_t kStateSize = 6;

constexpr uint16_t kInitBinEsc[16] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x5FFB, 0x5545, 0x63D1, 0x5D9D,
                                      0x64A1, 0x5ABC, 0x6632, 0x6051, 0x68F6, 0x549B, 0x6BCA, 0x3AB0};
// Escape estimates for a symbol distribution that falls off exponentially.
constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

[[noreturn]] void Fault() { throw TSDBPPMFault{}; }

// Symbol state: Symbol, Freq, Successor.
inline uint8_t& Sym(uint8_t* s) { return s[0]; }
inline uint8_t& Freq(uint8_t* s) { return s[1]; }
inline uint32_t Successor(const uint8_t* s) { return GetLE32(s + 2); }
inline void SetSuccessor(uint8_t* s, uint32_t v) { PutLE32(s + 2, v); }
inline void CopyState(uint8_t* dst, const uint8_t* src) { std::memmove(dst, src, kStateSize); }
inline void SwapStates(uint8_t* a, uint8_t* b) {
  uint8_t t[kStateSize];
  std::memcpy(t, a, kStateSize);
  std::memcpy(a, b, kStateSize);
  std::memcpy(b, t, kStateSize);
}

// Context: NumStats, SummFreq, Stats, Suffix; a single state in place of
// SummFreq and Stats.
inline unsigned NumStats(const uint8_t* c) { return GetLE16(c); }
inline void SetNumStats(uint8_t* c, unsigned v) { PutLE16(c, static_cast<uint16_t>(v)); }
inline unsigned SummFreq(const uint8_t* c) { return GetLE16(c + 2); }
inline void SetSummFreq(uint8_t* c, unsigned v) { PutLE16(c + 2, static_cast<uint16_t>(v)); }
inline uint32_t Stats(const uint8_t* c) { return GetLE32(c + 4); }
inline void SetStats(uint8_t* c, uint32_t v) { PutLE32(c + 4, v); }
inline uint32_t Suffix(const uint8_t* c) { return GetLE32(c + 8); }
inline void SetSuffix(uint8_t* c, uint32_t v) { PutLE32(c + 8, v); }
inline uint8_t* OneState(uint8_t* c) { return c + 2; }

inline unsigned GetMean(unsigned Summ, int Shift, int Round) { return (Summ + (1u << (Shift - Round))) >> Shift; }

}  // namespace

// ---------------------------------------------------------------------------
// SEE contexts

void TSDBPPMModel::TSEE2Context::Init(int InitVal) {
  Shift = kPeriodBits - 4;
  Summ = static_cast<uint16_t>(InitVal << Shift);
  Count = 3;
}

unsigned TSDBPPMModel::TSEE2Context::GetMean() {
  unsigned r = Summ >> Shift;
  Summ = static_cast<uint16_t>(Summ - r);
  r &= 0x03FF;
  return r + (r == 0);
}

void TSDBPPMModel::TSEE2Context::Update() {
  if (Shift < kPeriodBits && --Count == 0) {
    Summ = static_cast<uint16_t>(Summ + Summ);
    Count = static_cast<uint8_t>(3 << Shift++);
  }
}

// ---------------------------------------------------------------------------
// Model set-up

TSDBPPMModel::TSDBPPMModel() {
  int i;
  for (i = 0; i < 6; i++) FNS2BSIndx[i] = static_cast<uint8_t>(2 * i);
  for (; i < 50; i++) FNS2BSIndx[i] = 12;
  for (; i < 256; i++) FNS2BSIndx[i] = 14;
  for (i = 0; i < 4; i++) FNS2Indx[i] = static_cast<uint8_t>(i);
  for (; i < 4 + 8; i++) FNS2Indx[i] = static_cast<uint8_t>(4 + ((i - 4) >> 1));
  for (; i < 4 + 8 + 32; i++) FNS2Indx[i] = static_cast<uint8_t>(4 + 4 + ((i - 4 - 8) >> 2));
  for (; i < 256; i++) FNS2Indx[i] = static_cast<uint8_t>(4 + 4 + 8 + ((i - 4 - 8 - 32) >> 3));
}

uint8_t* TSDBPPMModel::Ptr(uint32_t Offset) const {
  if (Offset == 0) return nullptr;
  if (Offset >= FLimit) Fault();
  return FBase + Offset;
}

uint8_t* TSDBPPMModel::NewContext(uint8_t* State, uint8_t* ShorterContext) {
  uint8_t* c = Ptr(FAlloc.AllocContext());
  if (!c) return nullptr;
  SetNumStats(c, 1);
  SetSuffix(c, Off(ShorterContext));
  SetSuccessor(State, Off(c));
  return c;
}

void TSDBPPMModel::Prepare(int MaxOrder, uint32_t SizeMB) {
  if (MaxOrder < 2 || MaxOrder > kMaxOrder) Fault();
  if (!FAlloc.Start(SizeMB)) Fault();
  FBase = FAlloc.Base();
  FLimit = FAlloc.Limit();
  FMaxOrder = MaxOrder;
  // Every run starts as in a fresh process (InitEsc is otherwise carried
  // over restarts of the model within the run).
  FInitEsc = 0;
  StartModel();
}

void TSDBPPMModel::StartModel() {
  FAlloc.Init();
  uint8_t* mc = Ptr(FAlloc.AllocContext());
  if (!mc) Fault();
  SetSuffix(mc, 0);
  SetNumStats(mc, 256);
  SetSummFreq(mc, 256 + 1);
  uint8_t* stats = Ptr(FAlloc.AllocUnitsRare(256 / 2));
  if (!stats) Fault();
  SetStats(mc, Off(stats));
  FPrevSuccess = 0;
  for (int i = 0; i < 256; i++) {
    uint8_t* s = stats + i * kStateSize;
    Sym(s) = static_cast<uint8_t>(i);
    Freq(s) = 1;
    SetSuccessor(s, 0);
  }
  uint8_t* p = stats;
  FOrderFall = 1;
  for (int i = 1;; i++) {
    mc = NewContext(p, mc);
    if (!mc) Fault();
    if (i == FMaxOrder) break;
    p = OneState(mc);
    Sym(p) = 0;
    Freq(p) = 1;
  }
  // The longest context is only a place holder until a symbol is seen in it.
  SetNumStats(mc, 0);
  FMaxContext = mc;
  FMedContext = FMinContext = Ptr(Suffix(mc));
  for (int i = 0; i < 128; i++)
    for (int k = 0; k < 16; k++) FBinSumm[i][k] = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 2));
  int i;
  for (i = 0; i < 43; i++)
    for (int k = 0; k < 8; k++) FSEE2Cont[i][k].Init(4 * i + 10);
  // Row 43 serves contexts holding all 256 symbols; it never adapts.
  FSEE2Cont[i][0].Shift = kPeriodBits;
  std::memset(FCharMask, 0, sizeof FCharMask);
  FEscCount = 1;
}

void TSDBPPMModel::ClearMask() {
  FEscCount = 1;
  std::memset(FCharMask, 0, sizeof FCharMask);
}

// The symbol table of a context with more than one state; a table that
// cannot be (damage the variant does not expect) stops the run.
uint8_t* TSDBPPMModel::SymbolTable(uint8_t* Ctx) const {
  const unsigned ns = NumStats(Ctx);
  uint8_t* const p = Ptr(Stats(Ctx));
  if (ns < 2 || ns > 256 || !p) Fault();
  return p;
}

// The state of Symbol in a context that has more than one.
uint8_t* TSDBPPMModel::FindState(uint8_t* Ctx, unsigned Symbol) {
  uint8_t* const p0 = SymbolTable(Ctx);
  uint8_t* p = p0;
  uint8_t* const end = p0 + NumStats(Ctx) * kStateSize;
  while (Sym(p) != Symbol) {
    p += kStateSize;
    if (p >= end) Fault();
  }
  return p;
}

// ---------------------------------------------------------------------------
// Model update

void TSDBPPMModel::Rescale(uint8_t* Ctx) {
  const int OldNS = static_cast<int>(NumStats(Ctx));
  int i = OldNS - 1, Adder, EscFreq;
  uint8_t* const stats = Ptr(Stats(Ctx));
  uint8_t* p;
  // The symbol that overflowed moves to the front.
  for (p = FFoundState; p != stats; p -= kStateSize) SwapStates(p, p - kStateSize);
  Freq(stats) = static_cast<uint8_t>(Freq(stats) + 4);
  unsigned summ = SummFreq(Ctx) + 4;
  EscFreq = static_cast<int>(static_cast<uint16_t>(summ)) - Freq(p);
  Adder = (FOrderFall != 0);
  Freq(p) = static_cast<uint8_t>((Freq(p) + Adder) >> 1);
  summ = Freq(p);
  do {
    p += kStateSize;
    EscFreq -= Freq(p);
    Freq(p) = static_cast<uint8_t>((Freq(p) + Adder) >> 1);
    summ += Freq(p);
    if (Freq(p) > Freq(p - kStateSize)) {
      uint8_t tmp[kStateSize];
      uint8_t* p1 = p;
      CopyState(tmp, p1);
      do {
        CopyState(p1, p1 - kStateSize);
        p1 -= kStateSize;
      } while (p1 != stats && Freq(tmp) > Freq(p1 - kStateSize));
      CopyState(p1, tmp);
    }
  } while (--i);
  unsigned ns = static_cast<unsigned>(OldNS);
  if (Freq(p) == 0) {
    do {
      i++;
    } while (Freq(p -= kStateSize) == 0);
    EscFreq += i;
    ns -= static_cast<unsigned>(i);
    SetNumStats(Ctx, ns);
    if (ns == 1) {
      uint8_t tmp[kStateSize];
      CopyState(tmp, stats);
      do {
        Freq(tmp) = static_cast<uint8_t>(Freq(tmp) - (Freq(tmp) >> 1));
        EscFreq >>= 1;
      } while (EscFreq > 1);
      FAlloc.FreeUnits(Off(stats), (OldNS + 1) >> 1);
      FFoundState = OneState(Ctx);
      CopyState(FFoundState, tmp);
      return;
    }
  }
  EscFreq -= (EscFreq >> 1);
  SetSummFreq(Ctx, summ + static_cast<unsigned>(EscFreq));
  const int n0 = (OldNS + 1) >> 1, n1 = (static_cast<int>(ns) + 1) >> 1;
  if (n0 != n1) SetStats(Ctx, FAlloc.ShrinkUnits(Off(stats), n0, n1));
  FFoundState = Ptr(Stats(Ctx));
}

// Creates the contexts that the symbol just coded leads to, each with the
// symbol's frequency inherited from the nearest context that has it.
bool TSDBPPMModel::MakeRoot(unsigned SkipCount, uint8_t* p1) {
  uint8_t* pc = FMinContext;
  uint8_t* const UpBranch = Ptr(Successor(FFoundState));
  if (!UpBranch) Fault();
  uint8_t* p = nullptr;
  uint8_t* ps[kMaxOrder];
  int n = 0;
  const unsigned symbol = Sym(FFoundState);
  if (SkipCount == 0) {
    ps[n++] = FFoundState;
    if (!Suffix(pc)) goto NO_LOOP;
  } else if (SkipCount == 2) {
    pc = Ptr(Suffix(pc));
    if (!pc) Fault();
  }
  if (p1) {
    p = p1;
    pc = Ptr(Suffix(pc));
    if (!pc) Fault();
    goto LOOP_ENTRY;
  }
  do {
    pc = Ptr(Suffix(pc));
    if (!pc) Fault();
    if (NumStats(pc) != 1)
      p = FindState(pc, symbol);
    else
      p = OneState(pc);
  LOOP_ENTRY:
    if (Successor(p) != Off(UpBranch)) {
      pc = Ptr(Successor(p));
      if (!pc) Fault();
      break;
    }
    if (n == kMaxOrder) Fault();
    ps[n++] = p;
  } while (Suffix(pc));
NO_LOOP:
  uint8_t* const UpState = OneState(UpBranch);
  if (NumStats(pc) != 1) {
    uint32_t cf = Sym(UpState);
    p = FindState(pc, cf);
    cf = Freq(p) - 1u;
    const uint32_t s0 = SummFreq(pc) - NumStats(pc) - cf;
    uint32_t f;
    if (2 * cf <= s0) {
      f = (5 * cf > s0);
    } else {
      if (s0 == 0) Fault();
      f = (2 * cf + 3 * s0 - 1) / (2 * s0);
    }
    Freq(UpState) = static_cast<uint8_t>(1 + f);
  } else {
    Freq(UpState) = Freq(OneState(pc));
  }
  while (n > 0) {
    pc = NewContext(ps[--n], pc);
    if (!pc) return false;
    CopyState(OneState(pc), UpState);
  }
  if (!FOrderFall) {
    SetNumStats(UpBranch, 1);
    SetSuffix(UpBranch, Off(pc));
  }
  return true;
}

void TSDBPPMModel::UpdateModel() {
  uint8_t fs[kStateSize];
  CopyState(fs, FFoundState);
  const unsigned fsSymbol = Sym(fs), fsFreq = Freq(fs);
  uint8_t* const fsSuccessor = Ptr(Successor(fs));
  uint8_t *p, *p1 = nullptr, *pc, *Successor_;
  unsigned ns1, ns, cf, sf, s0, SkipCount = 0;
  if (fsFreq < kMaxFreq / 4 && (pc = Ptr(Suffix(FMinContext))) != nullptr) {
    if (NumStats(pc) != 1) {
      p1 = SymbolTable(pc);
      if (Sym(p1) != fsSymbol) {
        p1 = FindState(pc, fsSymbol);
        if (Freq(p1) >= Freq(p1 - kStateSize)) {
          SwapStates(p1, p1 - kStateSize);
          p1 -= kStateSize;
        }
      }
      if (Freq(p1) < 7 * kMaxFreq / 8) {
        Freq(p1) = static_cast<uint8_t>(Freq(p1) + 2);
        SetSummFreq(pc, SummFreq(pc) + 2);
      }
    } else {
      p1 = OneState(pc);
      Freq(p1) = static_cast<uint8_t>(Freq(p1) + (Freq(p1) < 32));
    }
  }
  if (FOrderFall == 0) {
    if (!MakeRoot(2, nullptr)) goto RESTART_MODEL;
    FMinContext = FMedContext = fsSuccessor;
    return;
  } else if (--FOrderFall == 0) {
    Successor_ = fsSuccessor;
    SkipCount = 1;
  } else {
    Successor_ = Ptr(FAlloc.AllocContext());
    if (!Successor_) goto RESTART_MODEL;
    SetNumStats(Successor_, 0);
  }
  if (!FMaxContext) Fault();
  if (!NumStats(FMaxContext)) {
    Sym(OneState(FMaxContext)) = static_cast<uint8_t>(fsSymbol);
    SetSuccessor(OneState(FMaxContext), Off(Successor_));
  }
  ns = NumStats(FMinContext);
  s0 = SummFreq(FMinContext) - ns - (fsFreq - 1);
  for (pc = FMedContext; pc != FMinContext; pc = Ptr(Suffix(pc))) {
    if (!pc) Fault();
    if ((ns1 = NumStats(pc)) != 1) {
      if (ns1 == 0 || ns1 > 255) Fault();
      if ((ns1 & 1) == 0) {
        const uint32_t stats = FAlloc.ExpandUnits(Stats(pc), static_cast<int>(ns1 >> 1));
        SetStats(pc, stats);
        if (!stats) goto RESTART_MODEL;
      }
      SetSummFreq(pc, SummFreq(pc) + (2 * ns1 < ns) + 2 * ((4 * ns1 <= ns) & (SummFreq(pc) <= 8 * ns1)));
    } else {
      p = Ptr(FAlloc.AllocUnitsRare(1));
      if (!p) goto RESTART_MODEL;
      CopyState(p, OneState(pc));
      SetStats(pc, Off(p));
      if (Freq(p) < kMaxFreq / 4 - 1)
        Freq(p) = static_cast<uint8_t>(Freq(p) + Freq(p));
      else
        Freq(p) = kMaxFreq - 4;
      SetSummFreq(pc, Freq(p) + static_cast<unsigned>(FInitEsc) + (ns > 3));
    }
    cf = 2 * fsFreq * (SummFreq(pc) + 6);
    sf = s0 + SummFreq(pc);
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      SetSummFreq(pc, SummFreq(pc) + 3);
    } else {
      cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
      SetSummFreq(pc, SummFreq(pc) + cf);
    }
    p = Ptr(Stats(pc));
    if (!p) Fault();
    p += ns1 * kStateSize;
    SetSuccessor(p, Off(Successor_));
    Sym(p) = static_cast<uint8_t>(fsSymbol);
    Freq(p) = static_cast<uint8_t>(cf);
    SetNumStats(pc, ++ns1);
  }
  if (fsSuccessor) {
    if (!NumStats(fsSuccessor) && !MakeRoot(SkipCount, p1)) goto RESTART_MODEL;
    FMinContext = Ptr(Successor(FFoundState));
  } else {
    SetSuccessor(FFoundState, Off(Successor_));
    FOrderFall++;
  }
  FMedContext = FMinContext;
  FMaxContext = Successor_;
  return;
RESTART_MODEL:
  StartModel();
  FEscCount = 0;
}

// After a byte is coded: follow the context it leads to, or grow the model.
void TSDBPPMModel::AfterSymbol() {
  uint8_t* const next = Ptr(Successor(FFoundState));
  if (!FOrderFall && next && NumStats(next)) {
    FMinContext = FMedContext = next;
  } else {
    UpdateModel();
    if (FEscCount == 0) ClearMask();
  }
  if (!FMinContext) Fault();
}

// ---------------------------------------------------------------------------
// Symbol coding in one context

uint16_t& TSDBPPMModel::BinSumm(uint8_t* Ctx) {
  uint8_t* const rs = OneState(Ctx);
  const uint8_t* const suffix = Ptr(Suffix(Ctx));
  if (!suffix) Fault();
  const unsigned ns = NumStats(suffix);
  if (Freq(rs) == 0 || Freq(rs) > 128 || ns == 0 || ns > 256) Fault();
  return FBinSumm[Freq(rs) - 1][FPrevSuccess + FNS2BSIndx[ns - 1]];
}

void TSDBPPMModel::EncodeBinSymbol(uint8_t* Ctx, int Symbol) {
  uint8_t* const rs = OneState(Ctx);
  uint16_t& bs = BinSumm(Ctx);
  if (Sym(rs) == Symbol) {
    FFoundState = rs;
    Freq(rs) = static_cast<uint8_t>(Freq(rs) + (Freq(rs) < 128));
    FLowCount = 0;
    FHighCount = bs;
    bs = static_cast<uint16_t>(bs + kInterval - GetMean(bs, kPeriodBits, 2));
    FPrevSuccess = 1;
  } else {
    FLowCount = bs;
    bs = static_cast<uint16_t>(bs - GetMean(bs, kPeriodBits, 2));
    FHighCount = kBinScale;
    FInitEsc = kExpEscape[bs >> 10];
    FNumMasked = 1;
    FCharMask[Sym(rs)] = FEscCount;
    FPrevSuccess = 0;
    FFoundState = nullptr;
  }
}

void TSDBPPMModel::DecodeBinSymbol(uint8_t* Ctx) {
  uint8_t* const rs = OneState(Ctx);
  uint16_t& bs = BinSumm(Ctx);
  if (DecoderShiftCount(kTotBits) < bs) {
    FFoundState = rs;
    Freq(rs) = static_cast<uint8_t>(Freq(rs) + (Freq(rs) < 128));
    FLowCount = 0;
    FHighCount = bs;
    bs = static_cast<uint16_t>(bs + kInterval - GetMean(bs, kPeriodBits, 2));
    FPrevSuccess = 1;
  } else {
    FLowCount = bs;
    bs = static_cast<uint16_t>(bs - GetMean(bs, kPeriodBits, 2));
    FHighCount = kBinScale;
    FInitEsc = kExpEscape[bs >> 10];
    FNumMasked = 1;
    FCharMask[Sym(rs)] = FEscCount;
    FPrevSuccess = 0;
    FFoundState = nullptr;
  }
}

void TSDBPPMModel::Update1(uint8_t* Ctx, uint8_t* p) {
  FFoundState = p;
  Freq(p) = static_cast<uint8_t>(Freq(p) + 4);
  SetSummFreq(Ctx, SummFreq(Ctx) + 4);
  if (Freq(p) > Freq(p - kStateSize)) {
    SwapStates(p, p - kStateSize);
    FFoundState = p -= kStateSize;
    if (Freq(p) > kMaxFreq) Rescale(Ctx);
  }
}

void TSDBPPMModel::Update2(uint8_t* Ctx, uint8_t* p) {
  FFoundState = p;
  Freq(p) = static_cast<uint8_t>(Freq(p) + 4);
  SetSummFreq(Ctx, SummFreq(Ctx) + 4);
  if (Freq(p) > kMaxFreq) Rescale(Ctx);
  FEscCount++;
}

void TSDBPPMModel::EncodeSymbol1(uint8_t* Ctx, int Symbol) {
  FScale = SummFreq(Ctx);
  uint8_t* p = SymbolTable(Ctx);
  if (Sym(p) == Symbol) {
    FHighCount = Freq(p);
    FPrevSuccess = (2 * FHighCount > FScale);
    FFoundState = p;
    Freq(p) = static_cast<uint8_t>(Freq(p) + 4);
    SetSummFreq(Ctx, SummFreq(Ctx) + 4);
    if (Freq(p) > kMaxFreq) Rescale(Ctx);
    FLowCount = 0;
    return;
  }
  FPrevSuccess = 0;
  uint32_t LoCnt = Freq(p);
  int i = static_cast<int>(NumStats(Ctx)) - 1;
  while (Sym(p += kStateSize) != Symbol) {
    LoCnt += Freq(p);
    if (--i == 0) {
      FLowCount = LoCnt;
      FCharMask[Sym(p)] = FEscCount;
      i = (FNumMasked = static_cast<int>(NumStats(Ctx))) - 1;
      FFoundState = nullptr;
      do {
        FCharMask[Sym(p -= kStateSize)] = FEscCount;
      } while (--i);
      FHighCount = FScale;
      return;
    }
  }
  FHighCount = (FLowCount = LoCnt) + Freq(p);
  Update1(Ctx, p);
}

void TSDBPPMModel::DecodeSymbol1(uint8_t* Ctx) {
  FScale = SummFreq(Ctx);
  uint8_t* p = SymbolTable(Ctx);
  const uint32_t count = DecoderCount();
  uint32_t HiCnt = Freq(p);
  if (count < HiCnt) {
    FHighCount = HiCnt;
    FPrevSuccess = (2 * FHighCount > FScale);
    FFoundState = p;
    Freq(p) = static_cast<uint8_t>(HiCnt += 4);
    SetSummFreq(Ctx, SummFreq(Ctx) + 4);
    if (HiCnt > kMaxFreq) Rescale(Ctx);
    FLowCount = 0;
    return;
  }
  FPrevSuccess = 0;
  int i = static_cast<int>(NumStats(Ctx)) - 1;
  while ((HiCnt += Freq(p += kStateSize)) <= count) {
    if (--i == 0) {
      FLowCount = HiCnt;
      FCharMask[Sym(p)] = FEscCount;
      i = (FNumMasked = static_cast<int>(NumStats(Ctx))) - 1;
      FFoundState = nullptr;
      do {
        FCharMask[Sym(p -= kStateSize)] = FEscCount;
      } while (--i);
      FHighCount = FScale;
      return;
    }
  }
  FHighCount = HiCnt;
  FLowCount = HiCnt - Freq(p);
  Update1(Ctx, p);
}

TSDBPPMModel::TSEE2Context* TSDBPPMModel::MakeEscFreq2(uint8_t* Ctx, int Diff) {
  const int ns = static_cast<int>(NumStats(Ctx));
  if (ns != 256) {
    const uint8_t* const suffix = Ptr(Suffix(Ctx));
    if (!suffix || Diff < 1 || Diff > 255) Fault();
    TSEE2Context* const see = FSEE2Cont[FNS2Indx[Diff - 1]] + (Diff < static_cast<int>(NumStats(suffix)) - ns) +
                              2 * (static_cast<int>(SummFreq(Ctx)) < 11 * ns) + 4 * (FNumMasked > Diff);
    FScale = see->GetMean();
    return see;
  }
  FScale = 1;
  return FSEE2Cont[43];
}

void TSDBPPMModel::EncodeSymbol2(uint8_t* Ctx, int Symbol) {
  int i = static_cast<int>(NumStats(Ctx)) - FNumMasked;
  TSEE2Context* const see = MakeEscFreq2(Ctx, i);
  uint8_t* p = SymbolTable(Ctx);
  uint8_t* const end = p + NumStats(Ctx) * kStateSize;
  p -= kStateSize;
  uint32_t HiCnt = 0;
  do {
    do {
      p += kStateSize;
      if (p >= end) Fault();
    } while (FCharMask[Sym(p)] == FEscCount);
    HiCnt += Freq(p);
    if (Sym(p) == Symbol) goto SYMBOL_FOUND;
    FCharMask[Sym(p)] = FEscCount;
  } while (--i);
  FLowCount = HiCnt;
  FHighCount = (FScale += HiCnt);
  see->Summ = static_cast<uint16_t>(see->Summ + FScale);
  FNumMasked = static_cast<int>(NumStats(Ctx));
  return;
SYMBOL_FOUND:
  FHighCount = HiCnt;
  FLowCount = HiCnt - Freq(p);
  if (--i) {
    uint8_t* p1 = p;
    do {
      do {
        p1 += kStateSize;
        if (p1 >= end) Fault();
      } while (FCharMask[Sym(p1)] == FEscCount);
      HiCnt += Freq(p1);
    } while (--i);
  }
  FScale += HiCnt;
  see->Update();
  Update2(Ctx, p);
}

void TSDBPPMModel::DecodeSymbol2(uint8_t* Ctx) {
  int i = static_cast<int>(NumStats(Ctx)) - FNumMasked;
  TSEE2Context* const see = MakeEscFreq2(Ctx, i);
  uint8_t* ps[256];
  int n = 0;
  uint8_t* p = SymbolTable(Ctx);
  uint8_t* const end = p + NumStats(Ctx) * kStateSize;
  p -= kStateSize;
  uint32_t HiCnt = 0;
  do {
    do {
      p += kStateSize;
      if (p >= end) Fault();
    } while (FCharMask[Sym(p)] == FEscCount);
    HiCnt += Freq(p);
    ps[n++] = p;
  } while (--i);
  FScale += HiCnt;
  const uint32_t count = DecoderCount();
  if (count < HiCnt) {
    int k = 0;
    p = ps[0];
    HiCnt = Freq(p);
    while (HiCnt <= count) {
      p = ps[++k];
      HiCnt += Freq(p);
    }
    FHighCount = HiCnt;
    FLowCount = HiCnt - Freq(p);
    see->Update();
    Update2(Ctx, p);
  } else {
    FLowCount = HiCnt;
    FHighCount = FScale;
    for (int k = 0; k < n; k++) FCharMask[Sym(ps[k])] = FEscCount;
    see->Summ = static_cast<uint16_t>(see->Summ + FScale);
    FNumMasked = static_cast<int>(NumStats(Ctx));
  }
}

// ---------------------------------------------------------------------------
// Carryless range coder (32-bit low and range; a byte leaves whenever the
// top byte of the interval is settled, or the range has become too small to
// code with, in which case the range is cut down to the next boundary).

void TSDBPPMModel::PutByte(uint32_t b) {
  if (FOut == FOutEnd) Fault();
  *FOut++ = static_cast<uint8_t>(b);
}

void TSDBPPMModel::EncoderInit() {
  FLow = 0;
  FRange = 0xFFFFFFFFu;
}

void TSDBPPMModel::EncodeRange() {
  FRange /= FScale;
  FLow += FLowCount * FRange;
  FRange *= FHighCount - FLowCount;
}

void TSDBPPMModel::EncodeShiftRange(unsigned Shift) {
  FRange >>= Shift;
  FLow += FLowCount * FRange;
  FRange *= FHighCount - FLowCount;
}

void TSDBPPMModel::EncoderNormalize() {
  while ((FLow ^ (FLow + FRange)) < kTop || (FRange < kBot && ((FRange = (0u - FLow) & (kBot - 1)), true))) {
    PutByte(FLow >> 24);
    FRange <<= 8;
    FLow <<= 8;
  }
}

void TSDBPPMModel::EncoderFlush() {
  for (int i = 0; i < 4; i++) {
    PutByte(FLow >> 24);
    FLow <<= 8;
  }
}

uint32_t TSDBPPMModel::GetByte() {
  if (FIn < FInEnd) return *FIn++;
  FOverrun = true;
  return 0xFF;
}

void TSDBPPMModel::DecoderInit() {
  FLow = FCode = 0;
  FRange = 0xFFFFFFFFu;
  for (int i = 0; i < 4; i++) FCode = (FCode << 8) | GetByte();
}

uint32_t TSDBPPMModel::DecoderCount() { return (FCode - FLow) / (FRange /= FScale); }

uint32_t TSDBPPMModel::DecoderShiftCount(unsigned Shift) { return (FCode - FLow) / (FRange >>= Shift); }

void TSDBPPMModel::DecoderRemoveRange() {
  FLow += FRange * FLowCount;
  FRange *= FHighCount - FLowCount;
}

void TSDBPPMModel::DecoderNormalize() {
  while ((FLow ^ (FLow + FRange)) < kTop || (FRange < kBot && ((FRange = (0u - FLow) & (kBot - 1)), true))) {
    FCode = (FCode << 8) | GetByte();
    FRange <<= 8;
    FLow <<= 8;
  }
}

// ---------------------------------------------------------------------------
// Whole buffers

size_t TSDBPPMModel::Compress(int MaxOrder, uint32_t SizeMB, const uint8_t* In, size_t InSize, uint8_t* Out,
                              size_t OutRoom) {
  Prepare(MaxOrder, SizeMB);
  FOut = Out;
  FOutEnd = Out + OutRoom;
  EncoderInit();
  size_t pos = 0;
  for (;;) {
    // Past the last byte the coder sends a symbol no context holds: it
    // escapes out of the order-0 context, which marks the end of the data.
    const int c = pos < InSize ? In[pos++] : -1;
    if (NumStats(FMinContext) != 1) {
      EncodeSymbol1(FMinContext, c);
      EncodeRange();
    } else {
      EncodeBinSymbol(FMinContext, c);
      EncodeShiftRange(kTotBits);
    }
    while (!FFoundState) {
      EncoderNormalize();
      do {
        FOrderFall++;
        FMinContext = Ptr(Suffix(FMinContext));
        if (!FMinContext) goto STOP_ENCODING;
      } while (static_cast<int>(NumStats(FMinContext)) == FNumMasked);
      EncodeSymbol2(FMinContext, c);
      EncodeRange();
    }
    if (c < 0) Fault();
    AfterSymbol();
    EncoderNormalize();
  }
STOP_ENCODING:
  if (pos < InSize) Fault();
  EncoderFlush();
  return static_cast<size_t>(FOut - Out);
}

void TSDBPPMModel::Decompress(int MaxOrder, uint32_t SizeMB, const uint8_t* In, size_t InSize,
                              std::vector<uint8_t>& Out, size_t OutSize) {
  constexpr size_t kFirstChunk = 1 << 16;
  Prepare(MaxOrder, SizeMB);
  FIn = In;
  FInEnd = In + InSize;
  FOverrun = false;
  DecoderInit();
  Out.resize(std::min(OutSize, kFirstChunk));
  size_t produced = 0;
  for (;;) {
    if (NumStats(FMinContext) != 1)
      DecodeSymbol1(FMinContext);
    else
      DecodeBinSymbol(FMinContext);
    DecoderRemoveRange();
    while (!FFoundState) {
      DecoderNormalize();
      do {
        FOrderFall++;
        FMinContext = Ptr(Suffix(FMinContext));
        if (!FMinContext) goto STOP_DECODING;
      } while (static_cast<int>(NumStats(FMinContext)) == FNumMasked);
      DecodeSymbol2(FMinContext);
      DecoderRemoveRange();
    }
    // More bytes than expected, or bytes that needed input past the end.
    if (produced == OutSize || FOverrun) Fault();
    if (produced == Out.size()) Out.resize(std::min(OutSize, 2 * Out.size()));
    Out[produced++] = Sym(FFoundState);
    AfterSymbol();
    DecoderNormalize();
  }
STOP_DECODING:
  if (produced != OutSize || FOverrun) Fault();
}

}  // namespace sdb
