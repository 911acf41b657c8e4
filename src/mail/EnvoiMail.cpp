#include "EnvoiMail.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QPointer>
#include <QWidget>

#include "FicheSendMail.h"
#include "Installation.h"
#include "Report.h"
#include "ReportExport.h"
#include "ui/Dialogs.h"

namespace tessaly {

namespace {

QString TitreOuRapport(const QString& titre) { return titre.isEmpty() ? QStringLiteral("rapport") : titre; }

// Everything the hand-off changes, put back whatever happens.
class TRestauration {
 public:
  explicit TRestauration(const TEnvoiMailContexte& c) : FFenetre(c.Fenetre), LPdf(c.PdfExport) {
    if (LPdf) {
      FShowDialog = LPdf->ShowDialog;
      FOpenAfterExport = LPdf->OpenAfterExport;
      FFileName = LPdf->FileName;
      FDefaultPath = LPdf->DefaultPath;
    }
  }
  ~TRestauration() {
    if (!FPdf.isEmpty()) QFile::remove(FPdf);
    if (LPdf) {
      LPdf->ShowDialog = FShowDialog;
      LPdf->OpenAfterExport = FOpenAfterExport;
      LPdf->FileName = FFileName;
      LPdf->DefaultPath = FDefaultPath;
    }
    if (FFenetre) FFenetre->setEnabled(true);
  }
  void PdfASupprimer(const QString& chemin) { FPdf = chemin; }

 private:
  QPointer<QWidget> FFenetre;
  report::TfrxPDFExport* LPdf;
  bool FShowDialog = false, FOpenAfterExport = false;
  QString FFileName, FDefaultPath, FPdf;
};

}  // namespace

QString NomFichierMail(const QString& agence, const QString& utilisateur, const QString& titre,
                       const QDateTime& maintenant, qint64 tick) {
  QString nom;
  if (!agence.isEmpty()) nom += (QStringLiteral("0000000000") + agence).right(10);
  if (!utilisateur.isEmpty()) nom += (QStringLiteral("0000") + utilisateur).right(4);
  nom += maintenant.toString(QStringLiteral("yyyyMMddHHmmss"));
  nom += QStringLiteral("%1").arg(tick % 99, 2, 10, QChar('0'));
  nom += '_' + TitreOuRapport(titre) + QStringLiteral(".pdf");
  for (QChar& c : nom)
    if (c == '/' || c == '\\' || c.unicode() < 0x20) c = '_';
  return nom;
}

QString ObjetMail(const QString& titre) {
  return QStringLiteral("Corvanel - ") + QLocale::system().toUpper(TitreOuRapport(titre));
}

void EnvoiMailDocument(const TEnvoiMailContexte& c) {
  TRestauration restauration(c);
  if (c.Fenetre) c.Fenetre->setEnabled(false);
  QString pdf;
  try {
    if (!c.Report || !c.PdfExport) throw std::runtime_error("aucun rapport préparé à envoyer.");
    const QDir application(DossierApplication());
    const QString dossier = application.filePath(QStringLiteral("Devis"));
    if (!QDir(dossier).exists() && !application.mkdir(QStringLiteral("Devis")))
      throw std::runtime_error(
          QStringLiteral("le dossier « %1 » ne peut pas être créé.").arg(QDir::toNativeSeparators(dossier)).toStdString());
    QElapsedTimer tick;
    tick.start();
    const QString nom =
        NomFichierMail(c.Agence, c.Utilisateur, c.Titre, QDateTime::currentDateTime(), tick.msecsSinceReference());
    pdf = QDir(dossier).filePath(nom);
    c.PdfExport->ShowDialog = false;
    c.PdfExport->OpenAfterExport = false;  // the temporary file is never shown in a viewer
    c.PdfExport->DefaultPath = dossier;
    c.PdfExport->FileName = nom;
    restauration.PdfASupprimer(pdf);
    if (!c.Report->Export(*c.PdfExport) || !QFile::exists(pdf))
      throw std::runtime_error(QStringLiteral("le fichier « %1 » n'a pas été écrit.").arg(pdf).toStdString());
  } catch (const std::exception& e) {
    ui::ShowMessage(QStringLiteral("TFicheImpression::btnMailClick : ") + QString::fromUtf8(e.what()), c.Fenetre);
    return;
  }

  if (c.Rafraichir) c.Rafraichir();

  TFicheSendMail fiche(c.Fenetre);
  fiche.SetAgence(c.Agence);
  fiche.SetFichierBDD(c.FichierBDD);
  fiche.SetUtilisateur(c.Utilisateur);
  fiche.SetDestinataire(c.ClientMail);
  fiche.SetObjet(ObjetMail(c.Titre));
  fiche.AjouterPieceJointe(pdf);
  if (c.PiecesJointes)
    for (const QString& p : *c.PiecesJointes) fiche.AjouterPieceJointe(p);
  fiche.exec();
}

}  // namespace tessaly
