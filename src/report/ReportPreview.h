// Preview of prepared pages: an embeddable widget (pages one under the
// other, zoom, page navigation, mouse-wheel scrolling driven by the
// window) and the engine's own preview window around it (toolbar with
// save, export, zoom, find and page navigation; no print button).
#pragma once

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QScrollArea>
#include <vector>

#include "ReportPrepared.h"

class QLabel;
class QLineEdit;
class QSpinBox;

namespace tessaly::report {

class TfrxReport;

class TfrxPreview : public QScrollArea {
  Q_OBJECT
 public:
  explicit TfrxPreview(QWidget* parent = nullptr);

  // Side panels; hidden by default and kept so (no outline or thumbnails
  // are drawn); they are properties so windows can state their choice.
  bool OutlineVisible = false;
  int OutlineWidth = 120;
  bool ThumbnailVisible = false;
  bool FindPanelVisible = false;

  // Shows these pages (copied), keeping the zoom; resets to the first page.
  void ShowPages(const std::vector<TfrxPreparedPage>& pages);
  // Empties the view.
  void Clear();
  int PageCount() const { return static_cast<int>(FPages.size()); }
  const std::vector<TfrxPreparedPage>& Pages() const { return FPages; }

  // Zoom: 1.0 shows a page at its real size on the screen.
  double Zoom() const { return FZoom; }
  void SetZoom(double zoom);
  // Fits the page width into the view, times `factor`.
  void ZoomToPageWidth(double factor = 1.0);
  void ZoomToWholePage();

  // 1-based current page: the one at the top of the view.
  int PageNo() const;
  void SetPageNo(int page);
  void First() { SetPageNo(1); }
  void Prior() { SetPageNo(PageNo() - 1); }
  void Next() { SetPageNo(PageNo() + 1); }
  void Last() { SetPageNo(PageCount()); }

  // Scrolls by `delta` wheel units (positive: up); with Shift or Control
  // held, zooms instead. `position` is where the pointer is (global).
  void MouseWheelScroll(int delta, Qt::KeyboardModifiers shift, const QPoint& position);

  // Finds a text from the page after the current match (letter case
  // ignored); goes to that page and answers its number, or 0.
  int Find(const QString& text, bool fromStart = false);

 signals:
  void PageChanged(int page);

 private:
  class Canvas;
  void Relayout();
  double PixelsPerMm() const;
  int PageAtScroll() const;
  void ApplyZoom(double zoom);
  void resizeEvent(QResizeEvent* e) override;
  // Page-width mode: the zoom follows the view's width (factor; 0: off).
  double FFitWidth = 0;

  std::vector<TfrxPreparedPage> FPages;
  double FZoom = 1.0;
  int FFoundPage = 0;
  // The page last gone to; scrolling by hand recomputes it (the last pages
  // may not reach the top of the view).
  int FCurrentPage = 0;
  bool FPositioning = false;
  Canvas* FCanvas;
  friend class Canvas;
};

// The engine's own preview window.
class TfrxPreviewForm : public QDialog {
  Q_OBJECT
 public:
  TfrxPreviewForm(TfrxReport& report, QWidget* parent = nullptr);
  TfrxPreview* Preview() const { return FPreview; }

 private:
  void SavePdf();
  void ExportCsv();
  void FindText();
  void UpdatePageInfo();

  TfrxReport& FReport;
  TfrxPreview* FPreview;
  QSpinBox* FPageBox;
  QLabel* FPageCount;
  QLineEdit* FFindEdit;
};

}  // namespace tessaly::report
