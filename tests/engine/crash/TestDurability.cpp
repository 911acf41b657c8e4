// The engine tests run without flushes unless a test asks for them: the
// crash tests choose their durability level explicitly, and flushing every
// commit of every other test would only cost time.
#include "storage/file/SDBJournal.h"

namespace {

const bool kNoFlushes = [] {
  sdb::SDBSetDefaultDurability(sdb::TSDBDurability::Off);
  return true;
}();

}  // namespace
