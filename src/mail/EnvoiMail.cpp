#include "EnvoiMail.h"

#include <QWidget>

namespace tessaly {

void EnvoiMailDocument(const TEnvoiMailContexte& c) {
  if (c.Fenetre) c.Fenetre->setEnabled(true);
}

}  // namespace tessaly
