#include "storage/maintenance/SDBCompact.h"

#include <cstring>
#include <filesystem>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "platform/SDBFileHandle.h"
#include "storage/maintenance/SDBDatabaseCheck.h"
#include "storage/database/SDBTableDatabase.h"

namespace sdb {

std::string TSDBCompactReport::Summary() const {
  return std::to_string(Tables) + " tables, " + std::to_string(Records) + " records copied; " +
         std::to_string(SizeBefore) + " bytes (" + std::to_string(PagesBefore) + " pages) before, " +
         std::to_string(SizeAfter) + " bytes (" + std::to_string(PagesAfter) + " pages) after.\n";
}

namespace {

constexpr int kSession = kSDBEngineSessionID;
// Records copied between two commits of the copy.
constexpr int64_t kCommitEvery = 2000;

int64_t FileSize(const std::string& name) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(name, ec);
  return ec ? 0 : static_cast<int64_t>(size);
}

class TCompact {
 public:
  TCompact(const std::string& fileName, const std::string& password, const TSDBRewriteSettings& settings,
           const TSDBProgressCallback& progress)
      : FFileName(fileName),
        FPassword(password),
        FSettings(settings),
        FProgress(progress),
        FTemp(fileName + kSDBCompactSuffix) {}

  TSDBCompactReport Run() {
    Progress(0);
    FReport.SizeBefore = FileSize(FFileName);
    FSource.OpenDatabase(FFileName, FPassword);
    if (FSource.RepairNeeded())
      throw ESDBException(kSDBErrCompactNeedsRepair, "Cannot compact database file '%s': it needs repair first", {FFileName});
    try {
      Copy();
    } catch (...) {
      try {
        if (FTarget.IsOpen()) FTarget.Rollback(kSession);
      } catch (...) {
      }
      try {
        FTarget.CloseDatabase();
      } catch (...) {
      }
      RemoveTemp();
      throw;
    }
    return FReport;
  }

 private:
  void Progress(int percent) {
    if (FProgress) FProgress(percent);
  }

  void RemoveTemp() {
    std::error_code ec;
    std::filesystem::remove(FTemp, ec);
  }

  void Copy() {
    TSDBDiskPageManager& pm = FSource.DiskPageManager();
    FReport.PagesBefore = pm.DBHeader().TotalPageCount;
    TSDBCreateDatabaseParams p;
    p.FileName = FTemp;
    p.Password = FSettings.Password.value_or(FPassword);
    if (pm.Encrypted()) p.CryptoAlgorithm = static_cast<TSDBCryptoAlgorithm>(pm.CryptoHeader().CryptoAlgorithm);
    p.CryptoAlgorithm = FSettings.CryptoAlgorithm.value_or(p.CryptoAlgorithm);
    p.PageSize = FSettings.PageSize.value_or(pm.PageSize());
    p.PageCountInExtent = FSettings.PagesPerExtent.value_or(pm.PageCountInExtent());
    FNewPassword = p.Password;
    p.MaxConnections = FSource.MaxSessionCount();
    RemoveTemp();  // a copy an earlier, interrupted run left behind
    FTarget.CreateDatabase(p);

    const std::vector<std::string> tables = FSource.GetTablesList();
    for (size_t i = 0; i < tables.size(); ++i) {
      CopyTable(tables[i]);
      ++FReport.Tables;
      Progress(5 + static_cast<int>(80 * (i + 1) / tables.size()));
    }
    FReport.PagesAfter = FTarget.DiskPageManager().DBHeader().TotalPageCount;
    FTarget.CloseDatabase();

    const TSDBDatabaseCheckResult check = SDBCheckDatabase(FTemp, FNewPassword);
    if (!check.Ok())
      throw ESDBException(kSDBErrCompactCheckFailed, "The compacted copy of '%s' fails its check: %s", {FFileName, check.Problems.front()});
    Progress(90);
    {
      TSDBFileHandle f;
      int err = f.Open(FTemp, TSDBFileAccess::ReadWrite, TSDBFileShare::Exclusive);
      if (!err) err = f.Flush();
      if (err) throw ESDBException(kSDBErrFlushFile, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                                   {FTemp, int64_t{err}, std::string(std::strerror(err))});
    }
    // The original is closed just before it is replaced; the rename is the
    // single step that swaps the files.
    FSource.CloseDatabase();
    if (const int err = SDBRenameFile(FTemp, FFileName))
      throw ESDBException(kSDBErrRenameFile, "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s",
                          {FTemp, FFileName, int64_t{err}, std::string(std::strerror(err))});
    FReport.SizeAfter = FileSize(FFileName);
    Progress(100);
  }

  void CopyTable(const std::string& name) {
    TSDBCursor src;
    src.SessionID = kSession;
    FSource.OpenTable(src, name);
    TSDBDiskTableData& from = *src.TableData;
    try {
      TSDBTableMetadata m = from.BuildMetadata();
      // Identifiers come from the new file's own counter; unique
      // constraints find their index again by name.
      TSDBIndexDefs indexes;
      for (int i = 0; i < m.IndexDefs.Count(); ++i) {
        if (m.IndexDefs[i].FTemporary) continue;
        auto d = std::make_unique<TSDBIndexDef>(m.IndexDefs[i]);
        d->FObjectID = -1;
        d->FRootPageNo = -1;
        indexes.Add(std::move(d));
      }
      for (int i = 0; i < m.FieldDefs.Count(); ++i) m.FieldDefs[i].FObjectID = -1;
      for (int i = 0; i < m.ConstraintDefs.Count(); ++i) {
        m.ConstraintDefs[i].FObjectID = -1;
        if (auto* u = dynamic_cast<TSDBConstraintDefUnique*>(&m.ConstraintDefs[i])) u->FIndexObjectID = -1;
      }
      FTarget.CreateTable(name, std::move(m.FieldDefs), std::move(m.ConstraintDefs), std::move(indexes));
      CopyRecords(from, src, name);
    } catch (...) {
      FSource.CloseTable(src);
      throw;
    }
    FSource.CloseTable(src);
  }

  void CopyRecords(TSDBDiskTableData& from, TSDBCursor& src, const std::string& name) {
    TSDBCursor dst;
    dst.SessionID = kSession;
    dst.FInTransaction = true;  // committed in batches below
    FTarget.OpenTable(dst, name);
    TSDBDiskTableData& to = *dst.TableData;
    try {
      TSDBBaseFieldManager& fields = from.FieldManager();
      int64_t pending = 0;
      src.FirstPosition = true;
      src.LastPosition = false;
      src.CurrentIndexID = -1;
      while (from.GetRecordBuffer(src, grmNext) == grrOK) {
        dst.EditRecordBuffer = to.NewRecordBuffer();
        for (int f = 0; f < fields.FieldCount(); ++f) {
          if (fields.FFieldDefs[f].IsBlob()) {
            if (from.GetDirectBlobInfo(src.CurrentRecordBuffer, f).PageNo <= 0) continue;
            to.WriteBLOBFieldToRecordBuffer(dst.EditRecordBuffer, f, from.ReadBlobField(src, src.CurrentRecordBuffer, f));
          } else {
            to.SetFieldValue(dst.EditRecordBuffer, f, from.GetFieldValue(src.CurrentRecordBuffer, f));
          }
        }
        if (!to.InsertRecord(dst))
          throw ESDBException(kSDBRecErrAdd, "Error adding record");
        if (fields.BlobFieldsPresent()) from.ClearBlobsCacheInRecordBuffer(src.CurrentRecordBuffer);
        ++FReport.Records;
        if (++pending >= kCommitEvery) {
          FTarget.Commit(kSession);
          pending = 0;
        }
      }
      // The counters as the original had them: values handed out for rows
      // deleted since are not handed out again.
      for (int f = 0; f < fields.FieldCount(); ++f)
        if (fields.FFieldDefs[f].IsAutoInc()) to.FieldManager().UpdateLastAutoinc(f, fields.GetLastAutoinc(f));
      to.SaveMostUpdated(kSession);
      FTarget.Commit(kSession);
    } catch (...) {
      FTarget.CloseTable(dst);
      throw;
    }
    FTarget.CloseTable(dst);
  }

  std::string FFileName, FPassword;
  TSDBRewriteSettings FSettings;
  std::string FNewPassword;  // the copy's
  TSDBProgressCallback FProgress;
  std::string FTemp;
  TSDBMaintenanceDatabase FSource;
  TSDBTableDatabase FTarget;
  TSDBCompactReport FReport;
};

}  // namespace

TSDBCompactReport SDBCompactDatabase(const std::string& FileName, const std::string& Password,
                                     const TSDBProgressCallback& Progress) {
  return SDBRewriteDatabase(FileName, Password, {}, Progress);
}

TSDBCompactReport SDBRewriteDatabase(const std::string& FileName, const std::string& Password,
                                     const TSDBRewriteSettings& Settings, const TSDBProgressCallback& Progress) {
  TCompact compact(FileName, Password, Settings, Progress);
  return compact.Run();
}

}  // namespace sdb
