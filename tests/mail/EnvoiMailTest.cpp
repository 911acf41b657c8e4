// The print manager's "Mail" hand-off: the temporary PDF of the prepared
// sample quote, the mail window it opens, and what is put back afterwards.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTreeWidget>

#include "DocumentTables.h"
#include "EnvoiMail.h"
#include "FicheSendMail.h"
#include "MailTestSupport.h"
#include "MailWindowSupport.h"
#include "Report.h"
#include "ReportExport.h"

using namespace tessaly;
using namespace mailtest;

namespace {

TEST(MailFileName, BuiltFromCodesTimeTickAndTitle) {
  const QDateTime t(QDate(2026, 12, 10), QTime(15, 4, 5));
  struct Case {
    const char *agence, *utilisateur, *titre;
    qint64 tick;
    const char* expected;
  } cases[] = {
      {"12", "3", "Devis", 1234, "0000000012000320261210150405" "46" "_Devis.pdf"},
      {"", "", "Devis", 5, "20261210150405" "05" "_Devis.pdf"},
      {"12", "", "Devis", 98, "0000000012" "20261210150405" "98" "_Devis.pdf"},
      {"", "3", "Devis", 99, "0003" "20261210150405" "00" "_Devis.pdf"},
      // Longer codes keep their last characters.
      {"ABCDEFGHIJKL", "USER7", "Devis", 0, "CDEFGHIJKL" "SER7" "20261210150405" "00" "_Devis.pdf"},
      {"01", "U01", "", 0, "0000000001" "0U01" "20261210150405" "00" "_rapport.pdf"},
      {"", "", "Devis / Variante", 0, "20261210150405" "00" "_Devis _ Variante.pdf"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NomFichierMail(QString::fromUtf8(c.agence), QString::fromUtf8(c.utilisateur),
                             QString::fromUtf8(c.titre), t, c.tick),
              QString::fromUtf8(c.expected));
}

TEST(MailSubject, CorvanelAndTheTitleInUpperCase) {
  EXPECT_EQ(ObjetMail(QStringLiteral("Devis fenêtres")), QStringLiteral("Corvanel - DEVIS FENÊTRES"));
  EXPECT_EQ(ObjetMail(QString()), "Corvanel - RAPPORT");
}

// The sample quote, prepared with a template of the sample installation.
struct SampleQuote : TDocumentTables {
  report::TfrxReport Report;
  report::TfrxPDFExport Pdf;
  SampleQuote() {
    const QLocale fr(QLocale::French, QLocale::France);
    for (TMemTable* t : {&Header, &Lines, &Descriptions, &Config}) t->SetLocale(fr);
    Report.SetLocale(fr);
    BindTo(Report);
    LectureXml(QStringLiteral(TESSALY_SAMPLES "/jobs/devis/devis.xml"));
    ConstructionConfiguration(*this, TConfigurationValues{});
    Report.LoadFromFile(QStringLiteral(TESSALY_SAMPLES "/Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3"));
    Report.PrepareReport();
    // The print manager's filter between two interactive exports.
    Pdf.ShowDialog = true;
    Pdf.OpenAfterExport = true;
    Pdf.FileName = QStringLiteral("test.pdf");
  }
};

class MailHandOff : public MailWindows {
 protected:
  static void SetUpTestSuite() { certs = new TCertificates(); }
  static void TearDownTestSuite() {
    delete certs;
    certs = nullptr;
  }
  void SetUp() override {
    MailWindows::SetUp();
    plan = dir.filePath("plan.txt");
    QFile f(plan);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Plan de pose\r\n");
    fenetre.show();
  }
  TEnvoiMailContexte Contexte() {
    TEnvoiMailContexte c;
    c.Fenetre = &fenetre;
    c.Report = &doc.Report;
    c.PdfExport = &doc.Pdf;
    c.Titre = QStringLiteral("Devis");
    c.ClientMail = doc.HeaderText("clientMail");
    c.Agence = "A1";
    c.Utilisateur = "U1";
    c.FichierBDD = base;
    c.PiecesJointes = &pieces;
    c.Rafraichir = [this] {
      ++rafraichi;
      EXPECT_EQ(QDir(dir.filePath("Devis")).entryList(QDir::Files).size(), 1);  // the PDF is written first
    };
    return c;
  }
  void ExpectRestored() {
    EXPECT_TRUE(fenetre.isEnabled());
    EXPECT_TRUE(doc.Pdf.ShowDialog);
    EXPECT_TRUE(doc.Pdf.OpenAfterExport);
    EXPECT_EQ(doc.Pdf.FileName, "test.pdf");
    EXPECT_EQ(doc.Pdf.DefaultPath, "");
    EXPECT_TRUE(dialogs.FileDialogs.isEmpty());  // the export asked for no file
  }

  static TCertificates* certs;
  SampleQuote doc;
  QWidget fenetre;
  QString plan;
  QStringList pieces;
  int rafraichi = 0;
};
TCertificates* MailHandOff::certs = nullptr;

TEST_F(MailHandOff, OpensTheMailWindowWithThePdfAndDeletesItAfterwards) {
  ASSERT_FALSE(doc.Report.PreparedPages().empty());
  pieces = {plan, QString(), QStringLiteral("/nulle/part/notice.pdf")};
  QString pdf;
  auto fait = QuandModal<TFicheSendMail>([&](TFicheSendMail* w) {
    EXPECT_FALSE(fenetre.isEnabled());
    EXPECT_TRUE(w->isEnabled());  // only the print manager is disabled
    EXPECT_FALSE(doc.Pdf.OpenAfterExport);  // the temporary file is not opened in a viewer
    EXPECT_EQ(w->parentWidget(), &fenetre);
    const QStringList p = w->PiecesJointes();
    ASSERT_EQ(p.size(), 3);
    pdf = p[0];
    EXPECT_EQ(p[1], plan);
    EXPECT_EQ(p[2], "/nulle/part/notice.pdf");
    EXPECT_EQ(QFileInfo(pdf).absolutePath(), QDir(dir.filePath("Devis")).absolutePath());
    EXPECT_TRUE(QRegularExpression("^00000000A1" "00U1" "\\d{14}\\d{2}_Devis\\.pdf$")
                    .match(QFileInfo(pdf).fileName())
                    .hasMatch())
        << QFileInfo(pdf).fileName().toStdString();
    QFile f(pdf);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(5) == "%PDF-");
    EXPECT_EQ(Controle<QLineEdit>(w, "edtAdresse")->text(), "helene.martin@example.org");
    EXPECT_EQ(Controle<QLineEdit>(w, "edtObject")->text(), "Corvanel - DEVIS");
    EXPECT_EQ(w->Agence(), "A1");
    EXPECT_EQ(w->FichierBDD(), base);
    w->close();
  });
  EnvoiMailDocument(Contexte());
  ASSERT_TRUE(*fait);
  EXPECT_EQ(rafraichi, 1);
  EXPECT_FALSE(pdf.isEmpty());
  EXPECT_FALSE(QFile::exists(pdf));
  EXPECT_TRUE(QDir(dir.filePath("Devis")).exists());
  ExpectRestored();
}

TEST_F(MailHandOff, WithoutCodesTitleOrClientMail) {
  QString pdf;
  auto fait = QuandModal<TFicheSendMail>([&](TFicheSendMail* w) {
    pdf = w->PiecesJointes().value(0);
    EXPECT_TRUE(QRegularExpression("^\\d{16}_rapport\\.pdf$").match(QFileInfo(pdf).fileName()).hasMatch())
        << pdf.toStdString();
    EXPECT_EQ(w->PiecesJointes().size(), 1);
    EXPECT_EQ(Controle<QLineEdit>(w, "edtAdresse")->text(), "");
    EXPECT_EQ(Controle<QLineEdit>(w, "edtObject")->text(), "Corvanel - RAPPORT");
    w->close();
  });
  TEnvoiMailContexte c = Contexte();
  c.Agence.clear();
  c.Utilisateur.clear();
  c.Titre.clear();
  c.ClientMail.clear();
  c.PiecesJointes = nullptr;
  EnvoiMailDocument(c);
  ASSERT_TRUE(*fait);
  EXPECT_FALSE(QFile::exists(pdf));
  ExpectRestored();
}

TEST_F(MailHandOff, AFailedExportIsShownAndOpensNoMailWindow) {
  // "Devis" is taken by a file: the folder cannot be made.
  {
    QFile f(dir.filePath("Devis"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  EnvoiMailDocument(Contexte());
  ASSERT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(dialogs.Messages[0].startsWith("TFicheImpression::btnMailClick : ")) << dialogs.Messages[0].toStdString();
  EXPECT_EQ(rafraichi, 0);
  ExpectRestored();

  // No prepared report to send.
  dialogs.Messages.clear();
  TEnvoiMailContexte c = Contexte();
  c.Report = nullptr;
  EnvoiMailDocument(c);
  EXPECT_EQ(dialogs.Messages.size(), 1);
  EXPECT_TRUE(fenetre.isEnabled());
}

// The sample quote sent to a real server; the window is closed after a
// failed attempt and a good one, and the PDF is gone in the end.
TEST_F(MailHandOff, TheServerReceivesThePdfAsExported) {
  ASSERT_TRUE(certs->Error().isEmpty()) << certs->Error().toStdString();
  TServerOptions o;
  o.Tls = "implicit";
  TSmtpServer server(*certs, o);
  ASSERT_GT(server.Port(), 0) << server.Log().toStdString();
  {
    QFile ini(dir.filePath("Tessaly.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Mail]\nCAFile=" + certs->CA().toUtf8() + "\n");
  }
  Compte("127.0.0.1", mailtest::PortSansServeur(), 1);
  pieces = {plan};
  QString pdf;
  QByteArray exporte;
  auto fait = QuandModal<TFicheSendMail>([&](TFicheSendMail* w) {
    pdf = w->PiecesJointes().value(0);
    QFile f(pdf);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    exporte = f.readAll();
    Cliquer(w, "btnEnvoyer");  // nobody listens on the stored port
    // The account is corrected, then the mail is sent again.
    Compte("127.0.0.1", server.Port(), 1);
    w->LectureConfiguration();
    Cliquer(w, "btnEnvoyer");
    w->close();
  });
  EnvoiMailDocument(Contexte());
  ASSERT_TRUE(*fait);
  ASSERT_EQ(dialogs.Messages.size(), 2) << dialogs.Messages.join('\n').toStdString();
  EXPECT_TRUE(dialogs.Messages[0].startsWith("Echec de la connexion : ")) << dialogs.Messages[0].toStdString();
  EXPECT_EQ(dialogs.Messages[1], QStringLiteral("Le message a été envoyé."));
  EXPECT_FALSE(QFile::exists(pdf));
  ExpectRestored();

  ASSERT_EQ(server.Count(), 1);
  const TReceived got = server.Received(1);
  EXPECT_EQ(got.Rcpt, QStringList{"helene.martin@example.org"});
  EXPECT_EQ(got.Message["subject"].toString(), "Corvanel - DEVIS");
  const QJsonArray att = got.Message["attachments"].toArray();
  ASSERT_EQ(att.size(), 2);
  EXPECT_EQ(att[0]["filename"].toString(), QFileInfo(pdf).fileName());
  EXPECT_EQ(att[0]["type"].toString(), "application/pdf");
  EXPECT_FALSE(exporte.isEmpty());
  EXPECT_EQ(QByteArray::fromBase64(att[0]["data"].toString().toLatin1()), exporte);
  EXPECT_EQ(att[1]["filename"].toString(), "plan.txt");
}

}  // namespace
