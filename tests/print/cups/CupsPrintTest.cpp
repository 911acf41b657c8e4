// Printing end to end: a private CUPS scheduler started for the test (its
// own configuration, spool and log folders under a temporary folder, its
// own port on 127.0.0.1; nothing of the system's CUPS is read or changed)
// with a PDF printer queue whose device is a file. The print manager prints
// the sample quote on it through its "Imprimer" action; the queue's filter
// writes the job's PDF to the file, whose text is checked.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QPrinterInfo>

#include "PrintTestSupport.h"

using namespace printtest;

namespace {

struct TRun {
  int code = -1;
  QString out;
};

TRun Command(const QString& program, const QStringList& args, int ms = 30000) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForStarted(5000)) return {-1, program + QStringLiteral(": cannot be started")};
  if (!p.waitForFinished(ms)) {
    p.kill();
    p.waitForFinished(2000);
    return {-1, program + QStringLiteral(": did not end")};
  }
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll())};
}

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A port on 127.0.0.1 that nothing listens on right now.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

bool Listening(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in a = Loopback(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// The queue's driver: a PDF printer (its filter passes the PDF of the job on,
// checked and normalised), shipped by cups-filters.
const QString kPdfDriver = QStringLiteral("/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd");

// One scheduler per test process: the CUPS client library keeps the server
// it first talked to.
class PrivateCups {
 public:
  static PrivateCups& Instance() {
    static PrivateCups cups;
    return cups;
  }
  bool Ready() const { return FReady; }
  const QString& Why() const { return FWhy; }
  QString Server() const { return QStringLiteral("127.0.0.1:%1").arg(FPort); }
  QString Root() const { return FDir.path(); }

  TRun Admin(const QString& program, QStringList args) {
    args.prepend(Server());
    args.prepend(QStringLiteral("-h"));
    return Command(program, args);
  }

  QString Log() const {
    QFile f(Root() + QStringLiteral("/log/error_log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll().right(6000)) : QString();
  }

  ~PrivateCups() {
    if (FDaemon.state() != QProcess::NotRunning) {
      FDaemon.terminate();
      if (!FDaemon.waitForFinished(5000)) {
        FDaemon.kill();
        FDaemon.waitForFinished(2000);
      }
    }
  }

 private:
  PrivateCups() { FReady = Start(); }

  bool Fail(const QString& why) {
    FWhy = why;
    return false;
  }

  bool Start() {
    const QString cupsd = QStringLiteral("/usr/sbin/cupsd");
    if (!QFileInfo(cupsd).isExecutable()) return Fail("cupsd is not installed (package cups-daemon)");
    if (FindProgram("lpadmin").isEmpty() || FindProgram("lpstat").isEmpty())
      return Fail("lpadmin and lpstat are not installed (package cups-client)");
    if (FindProgram("pdftotext").isEmpty()) return Fail("pdftotext is not installed (package poppler-utils)");
    if (!QFileInfo(kPdfDriver).isFile()) return Fail("the generic PDF printer driver is missing (package cups-filters)");
    if (geteuid() != 0) return Fail("a private cupsd needs root to run its queue's jobs");
    if (!FDir.isValid()) return Fail("no temporary folder");
    FPort = FreePort();
    if (FPort == 0) return Fail("no free port on 127.0.0.1");
    const QString root = FDir.path();
    // The jobs' helper programs run as the scheduler's unprivileged user:
    // it must reach the spool folder.
    ::chmod(root.toLocal8Bit().constData(), 0755);
    for (const char* sub : {"conf", "conf/ppd", "conf/ssl", "spool", "spool/tmp", "cache", "state", "log", "out"})
      QDir().mkpath(root + '/' + sub);
    ::chmod((root + "/out").toLocal8Bit().constData(), 0777);
    const QByteArray r = root.toLocal8Bit();
    WriteFile(root + "/conf/cupsd.conf",
              "Listen 127.0.0.1:" + QByteArray::number(FPort) +
                  "\n"
                  "LogLevel info\nBrowsing No\nWebInterface No\nDefaultAuthType None\nDefaultEncryption Never\n"
                  "MaxLogSize 0\nJobRetryLimit 0\nPreserveJobHistory Yes\n"
                  "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                  "<Policy default>\n  <Limit All>\n    Order deny,allow\n    Allow all\n  </Limit>\n</Policy>\n");
    WriteFile(root + "/conf/cups-files.conf",
              "ServerRoot " + r + "/conf\nRequestRoot " + r + "/spool\nTempDir " + r + "/spool/tmp\nCacheDir " + r +
                  "/cache\nStateDir " + r + "/state\nErrorLog " + r + "/log/error_log\nAccessLog " + r +
                  "/log/access_log\nPageLog " + r +
                  "/log/page_log\nPrintcap " + r + "/state/printcap\nFileDevice Yes\n");
    FDaemon.setProcessChannelMode(QProcess::MergedChannels);
    FDaemon.start(cupsd, {"-f", "-c", root + "/conf/cupsd.conf", "-s", root + "/conf/cups-files.conf"});
    if (!FDaemon.waitForStarted(5000)) return Fail("cupsd cannot be started: " + FDaemon.errorString());
    // Ready when it accepts connections on its port.
    const bool up = PumpUntil(
        [&] {
          return FDaemon.state() == QProcess::NotRunning || Listening(FPort);
        },
        15000);
    if (!up || FDaemon.state() == QProcess::NotRunning)
      return Fail("cupsd did not start: " + QString::fromLocal8Bit(FDaemon.readAll()) + Log());
    return true;
  }

  static QString FindProgram(const char* name) {
    for (const char* dir : {"/usr/bin", "/usr/sbin", "/bin", "/sbin", "/usr/local/bin"}) {
      const QString p = QString::fromLatin1(dir) + '/' + QLatin1String(name);
      if (QFileInfo(p).isExecutable()) return p;
    }
    return QString();
  }

  QTemporaryDir FDir;
  QProcess FDaemon;
  int FPort = 0;
  bool FReady = false;
  QString FWhy;
};

class CupsPrint : public Installation {
 protected:
  void SetUp() override {
    PrivateCups& cups = PrivateCups::Instance();
    if (!cups.Ready()) GTEST_SKIP() << "no private CUPS scheduler: " << cups.Why().toStdString();
    // The client library reads its server here, before Qt's print support
    // first asks it for printers.
    qputenv("CUPS_SERVER", cups.Server().toLocal8Bit());
    Installation::SetUp();
    TFicheImpression::SetPrinterSource({});  // the system's queues
  }
};

}  // namespace

TEST_F(CupsPrint, SampleQuoteReachesTheQueueAndNoOtherPrinter) {
  PrivateCups& cups = PrivateCups::Instance();
  const QString queue = QStringLiteral("TessalyTest");
  const QString output = cups.Root() + "/out/sortie.pdf";
  TRun r = cups.Admin("lpadmin", {"-p", queue, "-v", "file://" + output, "-P", kPdfDriver, "-E"});
  ASSERT_EQ(r.code, 0) << r.out.toStdString() << cups.Log().toStdString();
  // A second queue first in the list: the remembered one must be the one used.
  r = cups.Admin("lpadmin", {"-p", "AAutre", "-v", "file:///dev/null", "-P", kPdfDriver, "-E"});
  ASSERT_EQ(r.code, 0) << r.out.toStdString();
  ASSERT_TRUE(QPrinterInfo::availablePrinterNames().contains(queue))
      << QPrinterInfo::availablePrinterNames().join(',').toStdString();

  Set("Impression", "DerniereImprimante", queue);
  auto w = SetUpWindow();
  ASSERT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
  QStringList listed;
  for (int i = 0; i < w->cbbImprimante->count(); ++i) listed << w->cbbImprimante->itemText(i);
  EXPECT_EQ(listed, QPrinterInfo::availablePrinterNames()) << "the system's order";
  ASSERT_EQ(w->cbbImprimante->currentText(), queue);

  dialogs.QueueAnswer(false);  // no technical descriptions
  w->btnImprimerClick();
  ASSERT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join('\n').toStdString();
  EXPECT_EQ(dialogs.Questions.size(), 1);
  EXPECT_TRUE(opened.isEmpty());
  EXPECT_TRUE(w->isEnabled());

  // The job completes and its file holds the document.
  const bool done = PumpUntil(
      [&] {
        TRun s = cups.Admin("lpstat", {"-W", "completed", "-o", queue});
        return s.code == 0 && s.out.contains(queue + "-");
      },
      30000);
  ASSERT_TRUE(done) << cups.Admin("lpstat", {"-W", "all", "-o"}).out.toStdString() << cups.Log().toStdString();
  ASSERT_TRUE(PumpUntil([&] { return QFileInfo(output).size() > 0; }, 5000))
      << cups.Admin("lpstat", {"-W", "all", "-l", "-o"}).out.toStdString() << cups.Log().toStdString();
  TRun text = Command("pdftotext", {"-layout", output, "-"});
  ASSERT_EQ(text.code, 0) << text.out.toStdString();
  EXPECT_TRUE(text.out.contains("D2023-0042")) << text.out.toStdString();
  EXPECT_TRUE(text.out.contains("Fenêtre deux vantaux PVC")) << text.out.toStdString();
  EXPECT_TRUE(text.out.contains("Hélène Martin")) << text.out.toStdString();

  // The queue vanishes while the window is open: a clear message and no job
  // anywhere else.
  r = cups.Admin("lpadmin", {"-x", queue});
  ASSERT_EQ(r.code, 0) << r.out.toStdString();
  dialogs.QueueAnswer(false);
  w->btnImprimerClick();
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].contains(queue)) << dialogs.Messages[0].toStdString();
  QThread::msleep(500);
  const QString jobs = cups.Admin("lpstat", {"-W", "all", "-o"}).out;
  EXPECT_FALSE(jobs.contains("AAutre-")) << jobs.toStdString();
  EXPECT_TRUE(w->isEnabled());
}
