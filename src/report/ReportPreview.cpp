#include "ReportPreview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolBar>
#include <QVBoxLayout>
#include <QResizeEvent>
#include <QWheelEvent>
#include <map>

#include "Report.h"
#include "ReportExport.h"
#include "ui/Dialogs.h"

namespace tessaly::report {

namespace {
constexpr int kGap = 12;  // pixels around and between pages
}

class TfrxPreview::Canvas : public QWidget {
 public:
  explicit Canvas(TfrxPreview* owner) : QWidget(owner), FOwner(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  // Top of each page in pixels, and the canvas size.
  std::vector<int> Tops;
  void Layout() {
    Tops.clear();
    const double k = FOwner->PixelsPerMm();
    int y = kGap, w = 0;
    for (const auto& p : FOwner->FPages) {
      Tops.push_back(y);
      y += static_cast<int>(p.Height * k) + kGap;
      w = std::max(w, static_cast<int>(p.Width * k));
    }
    resize(std::max(w + 2 * kGap, 10), std::max(y, 10));
  }

 protected:
  void paintEvent(QPaintEvent* e) override {
    QPainter p(this);
    p.fillRect(e->rect(), QColor(0x80, 0x80, 0x80));
    const double k = FOwner->PixelsPerMm();
    for (size_t i = 0; i < FOwner->FPages.size() && i < Tops.size(); ++i) {
      const auto& page = FOwner->FPages[i];
      const int w = static_cast<int>(page.Width * k), h = static_cast<int>(page.Height * k);
      QRect r((width() - w) / 2, Tops[i], w, h);
      const QRect part = r.intersected(e->rect());
      if (part.isEmpty()) continue;
      // Only the exposed part is drawn, so high zooms stay cheap.
      QImage img(part.size(), QImage::Format_ARGB32_Premultiplied);
      img.fill(Qt::white);
      {
        QPainter ip(&img);
        ip.translate(r.topLeft() - part.topLeft());
        RenderPage(page, ip, k);
      }
      p.drawImage(part.topLeft(), img);
      p.setPen(Qt::black);
      p.drawRect(r.adjusted(0, 0, -1, -1));
    }
  }

 private:
  TfrxPreview* FOwner;
};

TfrxPreview::TfrxPreview(QWidget* parent) : QScrollArea(parent), FCanvas(new Canvas(this)) {
  setWidget(FCanvas);
  setWidgetResizable(false);
  setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
    if (FPositioning) return;
    FCurrentPage = PageAtScroll();
    emit PageChanged(FCurrentPage);
  });
  FCanvas->Layout();
}

double TfrxPreview::PixelsPerMm() const { return FZoom * logicalDpiX() / 25.4; }

void TfrxPreview::Relayout() {
  FCanvas->Layout();
  FCanvas->update();
}

void TfrxPreview::ShowPages(const std::vector<TfrxPreparedPage>& pages) {
  FPages = pages;
  FFoundPage = 0;
  Relayout();
  SetPageNo(1);
}

void TfrxPreview::Clear() {
  FPages.clear();
  FCurrentPage = 0;
  FFoundPage = 0;
  Relayout();
}

void TfrxPreview::SetZoom(double zoom) {
  FFitWidth = 0;
  ApplyZoom(zoom);
}

void TfrxPreview::resizeEvent(QResizeEvent* e) {
  QScrollArea::resizeEvent(e);
  if (FFitWidth > 0) ZoomToPageWidth(FFitWidth);
}

void TfrxPreview::ApplyZoom(double zoom) {
  const int page = PageNo();
  FZoom = std::clamp(zoom, 0.1, 8.0);
  Relayout();
  SetPageNo(page);
}

void TfrxPreview::ZoomToPageWidth(double factor) {
  double widest = 0;
  for (const auto& p : FPages) widest = std::max(widest, p.Width);
  if (widest <= 0) widest = 210;
  const double avail = std::max(100, viewport()->width() - 2 * kGap);
  ApplyZoom(avail / (widest * logicalDpiX() / 25.4) * factor);
  FFitWidth = factor;
}

void TfrxPreview::ZoomToWholePage() {
  if (FPages.empty()) return;
  const auto& p = FPages.front();
  const double zx = (viewport()->width() - 2 * kGap) / (p.Width * logicalDpiX() / 25.4);
  const double zy = (viewport()->height() - 2 * kGap) / (p.Height * logicalDpiY() / 25.4);
  SetZoom(std::min(zx, zy));
}

int TfrxPreview::PageNo() const { return FPages.empty() ? 0 : std::clamp(FCurrentPage, 1, PageCount()); }

int TfrxPreview::PageAtScroll() const {
  if (FPages.empty()) return 0;
  const int y = verticalScrollBar()->value() + kGap;
  int n = 1;
  for (size_t i = 0; i < FCanvas->Tops.size(); ++i)
    if (FCanvas->Tops[i] <= y) n = static_cast<int>(i) + 1;
  return n;
}

void TfrxPreview::SetPageNo(int page) {
  if (FPages.empty()) return;
  page = std::clamp(page, 1, PageCount());
  FPositioning = true;
  verticalScrollBar()->setValue(FCanvas->Tops[static_cast<size_t>(page - 1)] - kGap);
  FPositioning = false;
  FCurrentPage = page;
  emit PageChanged(page);
}

void TfrxPreview::MouseWheelScroll(int delta, Qt::KeyboardModifiers shift, const QPoint& position) {
  Q_UNUSED(position);
  if (shift & (Qt::ControlModifier | Qt::ShiftModifier)) {
    SetZoom(FZoom * (delta > 0 ? 1.1 : 1 / 1.1));
    return;
  }
  // One unit is one line of the scroll bar's single step.
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->value() - delta * std::max(1, bar->singleStep()) / 4);
}

int TfrxPreview::Find(const QString& text, bool fromStart) {
  if (text.isEmpty() || FPages.empty()) return 0;
  const int start = fromStart ? 0 : FFoundPage;
  for (int i = 0; i < PageCount(); ++i) {
    const int idx = (start + i) % PageCount();
    if (FPages[static_cast<size_t>(idx)].Text().contains(text, Qt::CaseInsensitive)) {
      FFoundPage = idx + 1;
      SetPageNo(FFoundPage);
      return FFoundPage;
    }
  }
  return 0;
}

// ---- preview window ---------------------------------------------------------

TfrxPreviewForm::TfrxPreviewForm(TfrxReport& report, QWidget* parent)
    : QDialog(parent), FReport(report), FPreview(new TfrxPreview(this)) {
  setWindowTitle(report.Template().Title.isEmpty() ? QStringLiteral("Aperçu") : QStringLiteral("Aperçu - ") + report.Template().Title);
  resize(900, 1000);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* bar = new QToolBar(this);
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  bar->addAction(QStringLiteral("Enregistrer"), this, &TfrxPreviewForm::SavePdf);
  bar->addAction(QStringLiteral("Exporter CSV"), this, &TfrxPreviewForm::ExportCsv);
  bar->addSeparator();
  bar->addAction(QStringLiteral("Zoom +"), this, [this] { FPreview->SetZoom(FPreview->Zoom() * 1.25); });
  bar->addAction(QStringLiteral("Zoom -"), this, [this] { FPreview->SetZoom(FPreview->Zoom() / 1.25); });
  bar->addAction(QStringLiteral("Largeur de page"), this, [this] { FPreview->ZoomToPageWidth(); });
  bar->addAction(QStringLiteral("Page entière"), this, [this] { FPreview->ZoomToWholePage(); });
  bar->addSeparator();
  FFindEdit = new QLineEdit(this);
  FFindEdit->setPlaceholderText(QStringLiteral("Rechercher"));
  FFindEdit->setMaximumWidth(160);
  bar->addWidget(FFindEdit);
  bar->addAction(QStringLiteral("Suivant"), this, &TfrxPreviewForm::FindText);
  connect(FFindEdit, &QLineEdit::returnPressed, this, &TfrxPreviewForm::FindText);
  bar->addSeparator();
  bar->addAction(QStringLiteral("|<"), this, [this] { FPreview->First(); });
  bar->addAction(QStringLiteral("<"), this, [this] { FPreview->Prior(); });
  FPageBox = new QSpinBox(this);
  FPageBox->setMinimum(1);
  bar->addWidget(FPageBox);
  FPageCount = new QLabel(this);
  bar->addWidget(FPageCount);
  bar->addAction(QStringLiteral(">"), this, [this] { FPreview->Next(); });
  bar->addAction(QStringLiteral(">|"), this, [this] { FPreview->Last(); });
  bar->addSeparator();
  bar->addAction(QStringLiteral("Fermer"), this, &QDialog::accept);
  layout->addWidget(bar);
  layout->addWidget(FPreview, 1);
  connect(FPageBox, &QSpinBox::valueChanged, this, [this](int v) {
    if (v != FPreview->PageNo()) FPreview->SetPageNo(v);
  });
  connect(FPreview, &TfrxPreview::PageChanged, this, [this] { UpdatePageInfo(); });
  FPreview->ShowPages(report.PreparedPages());
  FPreview->ZoomToPageWidth(report.PreviewOptions.WindowZoom);
  UpdatePageInfo();
}

void TfrxPreviewForm::UpdatePageInfo() {
  FPageBox->blockSignals(true);
  FPageBox->setMaximum(std::max(1, FPreview->PageCount()));
  FPageBox->setValue(std::max(1, FPreview->PageNo()));
  FPageBox->blockSignals(false);
  FPageCount->setText(QStringLiteral(" / %1 ").arg(FPreview->PageCount()));
}

void TfrxPreviewForm::SavePdf() {
  TfrxPDFExport pdf;
  pdf.FileName.clear();
  pdf.ShowDialog = true;
  pdf.DialogParent = this;
  try {
    FReport.Export(pdf);
  } catch (const EReportError& e) {
    tessaly::ui::ShowMessage(e.Message(), this);
  }
}

void TfrxPreviewForm::ExportCsv() {
  TfrxCSVExport csv;
  csv.ShowDialog = true;
  csv.DialogParent = this;
  try {
    FReport.Export(csv);
  } catch (const EReportError& e) {
    tessaly::ui::ShowMessage(e.Message(), this);
  }
}

void TfrxPreviewForm::FindText() {
  if (FPreview->Find(FFindEdit->text()) == 0)
    tessaly::ui::ShowMessage(QStringLiteral("Texte introuvable : %1").arg(FFindEdit->text()), this);
}

}  // namespace tessaly::report
