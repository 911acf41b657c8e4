// File primitives for crash tests: they count the engine's writes, flushes,
// size changes and locks, and at a chosen one fail it (a full disk, an I/O
// error), tear it (only a prefix of a write reaches the file) or kill the
// "process" (from then on nothing more reaches any file, as when the
// process is gone). While recording they also keep, per file, what was
// durable at its last flush and the changes since, so a power loss can be
// replayed: the unflushed changes lost, kept, or only some of them kept.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/SDBFileIO.h"

namespace sdbcrash {

enum class TOp { Write, Flush, SetSize, Lock };
enum class TAction { None, Fail, Tear, Kill };

class TFaultFileIO : public sdb::TSDBFileIO {
 public:
  // The At-th (1-based) call of Op does Action; At = 0 arms nothing.
  TOp ArmOp = TOp::Write;
  int ArmAt = 0;
  TAction ArmAction = TAction::None;
  int FailErrno = ENOSPC;
  // After a failure every later call of ArmOp fails too (a disk stays full).
  bool KeepFailing = false;
  // Keep what is durable per file (for power-loss replays).
  bool Record = false;

  bool Dead = false;
  bool Fired = false;
  int Calls[4] = {0, 0, 0, 0};

  struct TPending {
    bool IsWrite;
    uint64_t Pos;  // or the new size
    std::vector<uint8_t> Data;
  };
  struct TFileState {
    std::vector<uint8_t> Durable;
    std::vector<TPending> Pending;
  };
  std::map<std::string, TFileState> Files;

  int Write(const sdb::TSDBFileRef& f, const void* b, uint64_t pos, size_t n, size_t& done) override {
    done = 0;
    if (Dead) return EIO;
    TAction a = Hit(TOp::Write);
    if (a == TAction::Fail) return FailErrno;
    if (a == TAction::Kill) return Die();
    size_t count = a == TAction::Tear ? n / 2 : n;
    Track(f);
    int err = count ? sdb::TSDBFileIO::Write(f, b, pos, count, done) : 0;
    if (Record && err == 0)
      Files[f.Path].Pending.push_back(
          {true, pos, std::vector<uint8_t>(static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + count)});
    if (a == TAction::Tear) return Die();
    return err;
  }
  int SetSize(const sdb::TSDBFileRef& f, uint64_t size) override {
    if (Dead) return EIO;
    TAction a = Hit(TOp::SetSize);
    if (a == TAction::Fail) return FailErrno;
    if (a == TAction::Kill || a == TAction::Tear) return Die();
    Track(f);
    int err = sdb::TSDBFileIO::SetSize(f, size);
    if (Record && err == 0) Files[f.Path].Pending.push_back({false, size, {}});
    return err;
  }
  int Flush(const sdb::TSDBFileRef& f) override {
    if (Dead) return EIO;
    TAction a = Hit(TOp::Flush);
    if (a == TAction::Fail) return FailErrno;
    if (a == TAction::Kill || a == TAction::Tear) return Die();
    Track(f);
    if (Record) {
      TFileState& s = Files[f.Path];
      for (const auto& p : s.Pending) ApplyTo(s.Durable, p);
      s.Pending.clear();
    }
    // The real flush is not needed for the simulation and only costs time.
    return 0;
  }
  int Lock(const sdb::TSDBFileRef& f, short type, uint64_t off, uint64_t count) override {
    // A dead process's locks go when its files close; they still work.
    if (!Dead && type != F_UNLCK) {
      TAction a = Hit(TOp::Lock);
      if (a == TAction::Fail) return EAGAIN;
      if (a == TAction::Kill || a == TAction::Tear) {
        Die();
        return EAGAIN;
      }
    }
    return sdb::TSDBFileIO::Lock(f, type, off, count);
  }

  // Which unflushed changes survive a power loss.
  enum class TKeep { None, All, Even, Odd, FirstHalf, SecondHalf };
  // Lost, kept, kept in part, and kept out of order (later ones only).
  static constexpr TKeep kKeeps[] = {TKeep::None, TKeep::All, TKeep::Odd, TKeep::SecondHalf};
  // Writes every recorded file as a power loss would leave it.
  void WriteAfterPowerLoss(TKeep keep) const {
    for (const auto& [path, s] : Files) {
      std::vector<uint8_t> image = s.Durable;
      const size_t n = s.Pending.size();
      for (size_t i = 0; i < n; ++i) {
        bool k = keep == TKeep::All || (keep == TKeep::Even && i % 2 == 0) || (keep == TKeep::Odd && i % 2 == 1) ||
                 (keep == TKeep::FirstHalf && i < n / 2) || (keep == TKeep::SecondHalf && i >= n / 2);
        if (k) ApplyTo(image, s.Pending[i]);
      }
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
  }

 private:
  TAction Hit(TOp op) {
    int n = ++Calls[static_cast<int>(op)];
    if (op != ArmOp || ArmAt == 0) return TAction::None;
    if (n == ArmAt || (KeepFailing && Fired && ArmAction == TAction::Fail)) {
      Fired = true;
      return ArmAction;
    }
    return TAction::None;
  }
  int Die() {
    Dead = true;
    Fired = true;
    return EIO;
  }
  // The first time a file is seen while recording, what it holds counts
  // as durable.
  void Track(const sdb::TSDBFileRef& f) {
    if (!Record || Files.count(f.Path)) return;
    TFileState& s = Files[f.Path];
    off_t size = ::lseek(f.Fd, 0, SEEK_END);
    s.Durable.resize(size > 0 ? static_cast<size_t>(size) : 0);
    if (!s.Durable.empty() && ::pread(f.Fd, s.Durable.data(), s.Durable.size(), 0) < 0) s.Durable.clear();
  }
  static void ApplyTo(std::vector<uint8_t>& image, const TPending& p) {
    if (!p.IsWrite) {
      image.resize(static_cast<size_t>(p.Pos));
      return;
    }
    if (image.size() < p.Pos + p.Data.size()) image.resize(static_cast<size_t>(p.Pos + p.Data.size()));
    std::memcpy(image.data() + p.Pos, p.Data.data(), p.Data.size());
  }
};

// Installs primitives for a scope.
class TFileIOScope {
 public:
  explicit TFileIOScope(sdb::TSDBFileIO* io) { sdb::SDBSetFileIO(io); }
  ~TFileIOScope() { sdb::SDBSetFileIO(nullptr); }
  TFileIOScope(const TFileIOScope&) = delete;
  TFileIOScope& operator=(const TFileIOScope&) = delete;
};

}  // namespace sdbcrash
