// Where an export writes: paths that name no file or a missing folder are
// errors, and a file is replaced only by a complete new one.
#include <signal.h>
#include <sys/resource.h>

#include "ReportTestSupport.h"
#include "ui/Dialogs.h"

using namespace reporttest;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

// A prepared one-page report of the sample quote.
struct Prepared : Documents {
  Prepared() {
    Load(Sample("jobs/devis/devis.xml"));
    Report.LoadFromFile(Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3"));
    Report.PrepareReport(true);
  }
};

// Lowers the largest file size the process may write for its lifetime:
// writes beyond it fail (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    FOldHandler = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &FOld);
    rlimit lower = FOld;
    lower.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    signal(SIGXFSZ, FOldHandler);
  }

 private:
  rlimit FOld{};
  sighandler_t FOldHandler;
};

}  // namespace

TEST(ExportTarget, PathsWithoutFileOrFolderAreErrorsNamingThePath) {
  Prepared d;
  QTemporaryDir dir;
  QDir().mkpath(dir.filePath("sous-dossier"));
  struct Case {
    QString defaultPath, fileName;  // the filter's settings
    QString named;                  // what the message must name
  } cases[] = {
      {QString(), dir.filePath("absent/x.pdf"), dir.filePath("absent/x.pdf")},  // folder missing
      {dir.filePath("absent"), "x.pdf", dir.filePath("absent/x.pdf")},          // default folder missing
      {QString(), dir.path() + "/", dir.path() + "/"},                          // no file-name part
      {QString(), dir.filePath("sous-dossier"), dir.filePath("sous-dossier")},  // a folder, not a file
      {dir.path(), QString(), dir.path() + "/"},                                // nothing but a folder
  };
  for (int kind = 0; kind < 2; ++kind) {
    for (const Case& c : cases) {
      std::unique_ptr<TfrxCustomExportFilter> filter;
      if (kind == 0) filter = std::make_unique<TfrxPDFExport>();
      else filter = std::make_unique<TfrxCSVExport>();
      filter->ShowDialog = false;
      filter->DefaultPath = c.defaultPath;
      filter->FileName = c.fileName;
      try {
        d.Report.Export(*filter);
        ADD_FAILURE() << "no error for " << c.named.toStdString();
      } catch (const EReportError& e) {
        EXPECT_TRUE(e.Message().contains('"' + c.named + '"')) << e.Message().toStdString();
      }
    }
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"sous-dossier"});
  EXPECT_TRUE(QDir(dir.filePath("sous-dossier")).isEmpty());

  // A path chosen in the dialog is checked the same way.
  tessaly::ui::TScriptedDialogs dialogs;
  tessaly::ui::TDialogsGuard guard(&dialogs);
  dialogs.QueuePath(dir.filePath("absent/choisi.pdf"));
  TfrxPDFExport pdf;
  pdf.ShowDialog = true;
  EXPECT_THROW(d.Report.Export(pdf), EReportError);
}

TEST(ExportTarget, AFailedWriteKeepsTheOlderFileAndLeavesNoTemporaryFile) {
  Prepared d;
  QTemporaryDir dir;
  const QString path = dir.filePath("devis.pdf");
  const QByteArray older(200, 'x');
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(older);
  }
  TfrxPDFExport pdf;
  pdf.ShowDialog = false;
  pdf.FileName = path;
  {
    // The new file cannot be written whole: the write stops part-way.
    FileSizeLimit limit(1000);
    EXPECT_THROW(d.Report.Export(pdf), EReportError);
  }
  EXPECT_EQ(ReadAll(path), older) << "the older file must stay as it was";
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"devis.pdf"}) << "no temporary file left";

  // Written whole, the new file replaces the older one, and only it remains.
  ASSERT_TRUE(d.Report.Export(pdf));
  EXPECT_TRUE(ReadAll(path).startsWith("%PDF-"));
  EXPECT_TRUE(PdfStructureOk(path));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"devis.pdf"});

  // The same for a file that did not exist: nothing appears on failure.
  TfrxCSVExport csv;
  csv.ShowDialog = false;
  csv.FileName = dir.filePath("devis.csv");
  {
    FileSizeLimit limit(10);
    EXPECT_THROW(d.Report.Export(csv), EReportError);
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"devis.pdf"});
}

TEST(ExportTarget, PdfVersionIsTheOneAskedForWhereTheWriterHasIt) {
  Prepared d;
  QTemporaryDir dir;
  for (auto [asked, written] : {std::pair{"1.4", "%PDF-1.4"}, {"1.7", "%PDF-1.6"}}) {
    TfrxPDFExport pdf;
    pdf.ShowDialog = false;
    pdf.PDFVersion = asked;
    pdf.FileName = dir.filePath(QStringLiteral("v%1.pdf").arg(asked));
    ASSERT_TRUE(d.Report.Export(pdf));
    EXPECT_TRUE(ReadAll(pdf.FileName).startsWith(written)) << asked;
    EXPECT_TRUE(PdfStructureOk(pdf.FileName)) << asked;
  }
}
