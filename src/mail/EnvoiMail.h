// The print manager's "Mail" action: the prepared document as a temporary
// PDF, the mail window, and the PDF deleted afterwards.
#pragma once

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

// btnMailClick.
void EnvoiMailDocument(const TEnvoiMailContexte& contexte);

}  // namespace tessaly
