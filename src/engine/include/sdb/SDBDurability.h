// How much a commit flushes to the disk: the choice users make between
// speed and safety against a power loss.
#pragma once

#include <cstdint>
#include <string>

namespace sdb {

// How much a commit flushes.
enum class TSDBDurability : uint8_t {
  // No flush: safe when the process is killed, not when the power fails.
  Off,
  // The journal before the first page write, the database before the
  // journal is emptied: a power loss leaves the file as before or after
  // the last commit (the last commit may be undone).
  Normal,
  // As Normal, and the emptied journal is flushed too: a commit that
  // returned survives a power loss.
  Full,
};
inline constexpr TSDBDurability kSDBDefaultDurability = TSDBDurability::Full;
// What databases opened from now on get when nobody chooses (at first
// kSDBDefaultDurability). Test programs that do not test durability lower
// it to spare the flushes; the components and tools pass their own.
TSDBDurability SDBDefaultDurability();
void SDBSetDefaultDurability(TSDBDurability Durability);

// "off", "normal", "full" (any case); false for another text.
bool SDBParseDurability(const std::string& Text, TSDBDurability& Durability);
const char* SDBDurabilityName(TSDBDurability Durability);

}  // namespace sdb
