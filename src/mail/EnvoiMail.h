// The print manager's "Mail" action: the prepared document as a temporary
// PDF, the mail window, and the PDF deleted afterwards.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace tessaly {
namespace report {
class TfrxReport;
class TfrxPDFExport;
}  // namespace report

struct TEnvoiMailContexte {
  QWidget* Fenetre = nullptr;  // the print manager: owner of the mail window, disabled meanwhile
  report::TfrxReport* Report = nullptr;        // prepared
  report::TfrxPDFExport* PdfExport = nullptr;  // the print manager's PDF filter
  QString Titre;       // selected title (subject and file name)
  QString ClientMail;  // recipient
  QString Agence, Utilisateur, FichierBDD;
  const QStringList* PiecesJointes = nullptr;  // attachments of the parameter file
  // Run once the PDF is written: the print manager applies its display
  // options and rebuilds its template tree.
  std::function<void()> Rafraichir;
};

// btnMailClick: exports the prepared report as a temporary PDF into the
// folder "Devis" of the application folder (without its dialog and without
// opening it), runs Rafraichir, opens TFicheSendMail with the recipient, the
// subject, the PDF and the attachments, and deletes the PDF when the mail
// window closes. The window is disabled meanwhile and enabled again in
// every case; the filter's settings are restored. A failed export shows the
// error and opens no mail window.
void EnvoiMailDocument(const TEnvoiMailContexte& contexte);

// The temporary PDF's name: the agency code on 10 digits and the user code
// on 4 (each only when given; longer codes keep their last characters), the
// time "yyyyMMddHHmmss", the tick modulo 99 on two digits, "_", the title
// ("rapport" when empty) and ".pdf". Characters that cannot be in a file
// name ("/", control characters) become "_".
QString NomFichierMail(const QString& agence, const QString& utilisateur, const QString& titre,
                       const QDateTime& maintenant, qint64 tick);
// "Corvanel - " and the title in upper case ("RAPPORT" when empty).
QString ObjetMail(const QString& titre);

}  // namespace tessaly
