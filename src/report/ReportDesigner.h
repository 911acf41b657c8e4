// The template designer: a modal window working on a copy of the report's
// template — object tree, property editor, a page canvas where objects are
// selected, moved and resized with the mouse, commands to add and remove
// bands and objects, and a live preview with the data currently bound to
// the report. OK hands the design back to the report; loading and saving
// files are the caller's business (the designer offers neither).
#pragma once

#include <QDialog>
#include <QStringList>

#include "ReportModel.h"

class QTableWidget;
class QTreeWidget;
class QTabWidget;

namespace tessaly::report {

class TfrxReport;
class TfrxPreview;

// Properties of template elements by name, as the property editor shows
// and edits them (values as text). Setting raises EReportError for a value
// the property cannot take.
QStringList PropertyNames(const TfrxComponent& c);
QString PropertyValue(const TfrxComponent& c, const QString& name);
void SetPropertyValue(TfrxComponent& c, const QString& name, const QString& value);
QStringList BandPropertyNames();
QString BandPropertyValue(const TfrxBand& b, const QString& name);
void SetBandPropertyValue(TfrxBand& b, const QString& name, const QString& value);

class TfrxDesignerForm : public QDialog {
  Q_OBJECT
 public:
  TfrxDesignerForm(TfrxReport& report, QWidget* parent = nullptr);
  ~TfrxDesignerForm() override;

  // The design being edited (copied back to the report on OK).
  TfrxTemplate& Design() { return FDesign; }
  // Selection: band index and object index (-1: the band itself) on the
  // current page; band -1: nothing.
  void Select(int band, int object);
  int SelectedBand() const { return FBand; }
  int SelectedObject() const { return FObject; }
  // Commands of the toolbar.
  void AddBand(TfrxBandType type);
  void AddObject(TfrxObjectKind kind);
  void DeleteSelection();
  // Moves or resizes the selected object by a delta in millimetres.
  void MoveSelection(double dx, double dy);
  void ResizeSelection(double dw, double dh);
  void RefreshPreview();
  TfrxPreview* LivePreview() const { return FPreview; }

  void accept() override;

 private:
  class Canvas;
  friend class Canvas;
  void RebuildTree();
  void RebuildProperties();
  void PropertyEdited(int row, int column);
  TfrxReportPage& Page() { return FDesign.Pages.front(); }
  TfrxComponent* SelectedComponent();

  TfrxReport& FReport;
  TfrxTemplate FDesign;
  int FBand = -1, FObject = -1;
  bool FUpdating = false;
  QTreeWidget* FTree;
  QTableWidget* FProps;
  QTabWidget* FTabs;
  Canvas* FCanvas;
  TfrxPreview* FPreview;
};

}  // namespace tessaly::report
