// How the windows name their controls for keyboard users and screen
// readers: a label is the buddy of its field (its mnemonic moves the focus
// there) and the field is announced by the label's caption.
#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace tessaly::ui {

// The name announced for a control labelled `caption`: the caption without
// its surrounding blanks and trailing colon ("Imprimante : " -> "Imprimante").
QString NomAccessible(const QString& caption);

// Makes `label` the label of `field`: buddy, and the field's accessible
// name from the label's caption.
void Etiqueter(QLabel* label, QWidget* field);

}  // namespace tessaly::ui
