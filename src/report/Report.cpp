#include "Report.h"

#include <QApplication>
#include <QFileInfo>
#include <algorithm>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include "ReportDesigner.h"
#include "ReportExport.h"
#include "ReportFile.h"
#include "ReportPreview.h"

namespace tessaly::report {

TfrxReport::TfrxReport(QObject* parent) : QObject(parent), FTemplate(BlankTemplate()), FLocale(QLocale::system()) {}

TfrxReport::~TfrxReport() = default;

void TfrxReport::AddDataset(TfrxDBDataset* dataset) {
  if (dataset && std::find(FDatasets.begin(), FDatasets.end(), dataset) == FDatasets.end()) FDatasets.push_back(dataset);
}

void TfrxReport::RemoveDataset(TfrxDBDataset* dataset) {
  FDatasets.erase(std::remove(FDatasets.begin(), FDatasets.end(), dataset), FDatasets.end());
}

TfrxDBDataset* TfrxReport::FindDataset(const QString& userName) const {
  for (TfrxDBDataset* d : FDatasets)
    if (d && d->UserName().compare(userName, Qt::CaseInsensitive) == 0) return d;
  return nullptr;
}

bool TfrxReport::LoadFromFile(const QString& path) {
  QFileInfo fi(path);
  if (path.isEmpty() || !fi.exists() || !fi.isFile()) return false;
  FTemplate = LoadTemplateFile(path);
  FFileName = path;
  return true;
}

void TfrxReport::SaveToFile(const QString& path) {
  SaveTemplateFile(FTemplate, path);
  FFileName = path;
}

void TfrxReport::Clear() {
  FTemplate = BlankTemplate();
  FFileName.clear();
  FPrepared.clear();
  FWarnings.clear();
}

void TfrxReport::SetTemplate(TfrxTemplate t) { FTemplate = std::move(t); }

TfrxReportPage* TfrxReport::GetPages(int index) {
  if (index < 1 || index > static_cast<int>(FTemplate.Pages.size())) return nullptr;
  return &FTemplate.Pages[static_cast<size_t>(index - 1)];
}

TfrxReportPage* TfrxReport::FindPage(const QString& name) {
  for (auto& p : FTemplate.Pages)
    if (p.Name.compare(name, Qt::CaseInsensitive) == 0) return &p;
  return nullptr;
}

void TfrxReport::SetPreview(TfrxPreview* preview) { FPreview = preview; }

void TfrxReport::ShowPreparedReport() {
  if (FPreview) {
    FPreview->ShowPages(FPrepared);
    FPreview->SetZoom(PreviewOptions.Zoom);
    return;
  }
  TfrxPreviewForm form(*this, QApplication::activeWindow());
  form.exec();
}

std::vector<int> ParsePageRange(const QString& range, int pageCount) {
  std::vector<int> out;
  std::vector<bool> seen(static_cast<size_t>(std::max(pageCount, 0)) + 1, false);
  auto add = [&](int p) {
    if (p >= 1 && p <= pageCount && !seen[static_cast<size_t>(p)]) {
      seen[static_cast<size_t>(p)] = true;
      out.push_back(p);
    }
  };
  if (range.trimmed().isEmpty()) {
    for (int p = 1; p <= pageCount; ++p) add(p);
    return out;
  }
  for (const QString& part : range.split(',', Qt::SkipEmptyParts)) {
    QStringList ends = part.split('-');
    bool ok1 = false, ok2 = false;
    int a = ends[0].trimmed().toInt(&ok1);
    int b = ends.size() > 1 ? (ends[1].trimmed().isEmpty() ? pageCount : ends[1].trimmed().toInt(&ok2)) : a;
    if (ends.size() > 1 && ends[1].trimmed().isEmpty()) ok2 = true;
    if (ends.size() == 1) ok2 = ok1;
    if (!ok1 || !ok2 || ends.size() > 2) continue;
    for (int p = std::max(a, 1); p <= std::min(b, pageCount); ++p) add(p);
  }
  return out;
}

bool TfrxReport::PrintTo(QPrinter& printer) {
  if (FPrepared.empty()) return false;
  const std::vector<int> pages = ParsePageRange(FTemplate.PageRange, static_cast<int>(FPrepared.size()));
  if (pages.empty()) return false;
  printer.setFullPage(true);
  printer.setCopyCount(std::max(1, FTemplate.Copies));
  printer.setDocName(FTemplate.Title.isEmpty() ? QFileInfo(FFileName).completeBaseName() : FTemplate.Title);
  auto layoutOf = [](const TfrxPreparedPage& p) {
    const bool landscape = p.Width > p.Height;
    QSizeF portrait = landscape ? QSizeF(p.Height, p.Width) : QSizeF(p.Width, p.Height);
    return QPageLayout(QPageSize(portrait, QPageSize::Millimeter), landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                       QMarginsF(0, 0, 0, 0));
  };
  printer.setPageLayout(layoutOf(FPrepared[static_cast<size_t>(pages.front() - 1)]));
  QPainter painter;
  if (!painter.begin(&printer))
    throw EReportError(QStringLiteral("L'imprimante \"%1\" ne peut pas être utilisée").arg(printer.printerName()));
  // Without driver-side copies, repeat the pages ourselves.
  const int passes = printer.supportsMultipleCopies() ? 1 : std::max(1, FTemplate.Copies);
  const double k = printer.resolution() / 25.4;
  bool first = true;
  for (int c = 0; c < passes; ++c)
    for (int n : pages) {
      const TfrxPreparedPage& page = FPrepared[static_cast<size_t>(n - 1)];
      if (!first) {
        printer.setPageLayout(layoutOf(page));
        printer.newPage();
      }
      first = false;
      RenderPage(page, painter, k);
    }
  painter.end();
  return true;
}

bool TfrxReport::Print() {
  QString name = PrintOptions.Printer;
  if (name.isEmpty()) name = FTemplate.PrinterName;
  QPrinterInfo info = name.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(name);
  if (info.isNull() && !name.isEmpty()) info = QPrinterInfo::defaultPrinter();
  if (info.isNull())
    throw EReportError(name.isEmpty() ? QStringLiteral("Aucune imprimante n'est installée")
                                      : QStringLiteral("L'imprimante \"%1\" n'est pas installée").arg(name));
  QPrinter printer(info, QPrinter::HighResolution);
  return PrintTo(printer);
}

bool TfrxReport::Export(TfrxCustomExportFilter& filter) { return filter.Run(*this); }

bool TfrxReport::DesignReport(bool modal, bool mdiChild, QWidget* parent) {
  Q_UNUSED(mdiChild);
  TfrxDesignerForm form(*this, parent ? parent : QApplication::activeWindow());
  if (!modal) form.setModal(false);
  return form.exec() == QDialog::Accepted;
}

}  // namespace tessaly::report
