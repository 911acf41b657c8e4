// Layout of the prepared pages: bands are printed top to bottom, data bands
// once per row of their dataset (detail bands under each master row), page
// header and footer on every page, and a new page starts when a band does
// not fit above the page footer.
#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <cmath>
#include <algorithm>

#include "MemTable.h"
#include "Report.h"
#include "ReportExpr.h"

namespace tessaly::report {

namespace {

// A band evaluated for the current rows, positioned at y = 0.
struct BandInstance {
  double Height = 0;
  std::vector<TfrxPreparedItem> Items;
  TfrxPreparedRow Row;
  bool HasRow = false;
};

// Data bands that belong together: an optional group header, the master
// bands iterating one dataset (alternatives with their own filters), the
// detail bands of each detail dataset, and an optional group footer.
struct Section {
  const TfrxBand* GroupHeader = nullptr;
  std::vector<const TfrxBand*> Masters;
  std::vector<std::vector<const TfrxBand*>> Details;
  const TfrxBand* GroupFooter = nullptr;
};

class Preparer {
 public:
  Preparer(TfrxReport& report, const TfrxReportPage& page, std::vector<TfrxPreparedPage>& out, QStringList& warnings)
      : FReport(report), FPage(page), FOut(out), FWarnings(warnings) {
    FCtx.Locale = report.Locale();
    FCtx.Warnings = &warnings;
    FCtx.Field = [this](const QString& ds, const QString& alias, bool* found) { return FieldValue(ds, alias, found); };
  }

  void Run() {
    const TfrxBand* title = nullptr;
    const TfrxBand* summary = nullptr;
    std::vector<Section> sections;
    const TfrxBand* pendingHeader = nullptr;
    for (const TfrxBand& b : FPage.Bands) {
      if (!b.Visible) continue;
      switch (b.Type) {
        case TfrxBandType::ReportTitle: title = title ? title : &b; break;
        case TfrxBandType::ReportSummary: summary = summary ? summary : &b; break;
        case TfrxBandType::PageHeader: FHeader = FHeader ? FHeader : &b; break;
        case TfrxBandType::PageFooter: FFooter = FFooter ? FFooter : &b; break;
        case TfrxBandType::GroupHeader: pendingHeader = &b; break;
        case TfrxBandType::MasterData: {
          bool joins = !sections.empty() && !pendingHeader && sections.back().Details.empty() &&
                       !sections.back().GroupFooter && sections.back().Masters.back()->DataSet == b.DataSet &&
                       !b.DataSet.isEmpty();
          if (joins) {
            sections.back().Masters.push_back(&b);
          } else {
            Section s;
            s.GroupHeader = pendingHeader;
            s.Masters.push_back(&b);
            sections.push_back(std::move(s));
          }
          pendingHeader = nullptr;
          break;
        }
        case TfrxBandType::DetailData:
          if (sections.empty() || sections.back().GroupFooter) {
            Section s;
            s.Masters.push_back(&b);
            sections.push_back(std::move(s));
          } else {
            auto& d = sections.back().Details;
            if (!d.empty() && d.back().front()->DataSet == b.DataSet) d.back().push_back(&b);
            else d.push_back({&b});
          }
          break;
        case TfrxBandType::GroupFooter:
          if (!sections.empty() && !sections.back().GroupFooter) sections.back().GroupFooter = &b;
          break;
      }
    }

    // Datasets read outside their data band (header, configuration) show
    // their first row.
    for (TfrxDBDataset* ds : FReport.Datasets()) {
      TMemTable* t = ds ? ds->Table() : nullptr;
      if (t && t->Active() && t->State() == TDataSetState::Browse) t->First();
    }

    // The report title comes first on the first page, above the page header.
    NewPage(title);
    for (const Section& s : sections) RunSection(s);
    if (summary) Place(Build(*summary));
    FinishPage();

    // Now that the pages are counted, resolve the total.
    const QString total = QString::number(FOut.size() - FFirstPage);
    for (size_t i = FFirstPage; i < FOut.size(); ++i) {
      for (auto& it : FOut[i].Items)
        for (QString& l : it.Lines) l.replace(kTotalPagesMark, total);
      for (auto& r : FOut[i].Rows)
        for (QString& c : r.Cells) c.replace(kTotalPagesMark, total);
    }
  }

 private:
  // ---- data
  QVariant FieldValue(const QString& dsName, const QString& alias, bool* found) {
    *found = false;
    TfrxDBDataset* ds = FReport.FindDataset(dsName);
    if (!ds || !ds->Table()) return QVariant();
    TMemTable* t = ds->Table();
    if (!t->Active()) {
      *found = true;  // a closed table shows nothing, without complaint
      return QVariant();
    }
    QString field = ds->FieldOf(alias);
    TMemField* f = field.isEmpty() ? nullptr : t->FindField(field);
    if (!f) return QVariant();
    *found = true;
    return f->AsVariant();
  }

  TMemTable* TableOf(const TfrxBand& b) {
    if (b.DataSet.isEmpty()) return nullptr;
    TfrxDBDataset* ds = FReport.FindDataset(b.DataSet);
    if (!ds) {
      QString w = QStringLiteral("band %1: unknown dataset \"%2\"").arg(b.Name, b.DataSet);
      if (!FWarnings.contains(w)) FWarnings << w;
      return nullptr;
    }
    TMemTable* t = ds->Table();
    return t && t->Active() ? t : nullptr;
  }

  // ---- pages
  double ContentTop() const { return FPage.TopMargin; }
  double ContentBottom() const {
    return FPage.Height() - FPage.BottomMargin - (FFooter ? FFooter->Height : 0);
  }

  void NewPage(const TfrxBand* title = nullptr) {
    if (FPageOpen) FinishPage();
    TfrxPreparedPage p;
    p.Width = FPage.Width();
    p.Height = FPage.Height();
    p.Orientation = FPage.Orientation;
    FOut.push_back(std::move(p));
    FPageOpen = true;
    FCtx.Page = static_cast<int>(FOut.size() - FFirstPage);
    FY = ContentTop();
    if (title) Put(Build(*title));
    if (FHeader) Put(Build(*FHeader));
    FBodyStart = FY;
  }

  void FinishPage() {
    if (!FPageOpen) return;
    if (FFooter) {
      BandInstance f = Build(*FFooter);
      FY = FPage.Height() - FPage.BottomMargin - f.Height;
      Put(std::move(f));
    }
    FPageOpen = false;
  }

  // Appends a band at the current position.
  void Put(BandInstance b) {
    TfrxPreparedPage& p = FOut.back();
    for (auto& it : b.Items) {
      it.Rect.translate(FPage.LeftMargin, FY);
      it.ImageRect.translate(FPage.LeftMargin, FY);
      p.Items.push_back(std::move(it));
    }
    if (b.HasRow) p.Rows.push_back(std::move(b.Row));
    FY += b.Height;
  }

  // Appends a body band, starting a new page first when it does not fit
  // (unless the page holds nothing else, so a band taller than the page
  // cannot loop).
  void Place(BandInstance b) {
    if (FY + b.Height > ContentBottom() + 1e-6 && FY > FBodyStart + 1e-6) NewPage();
    Put(std::move(b));
  }

  // ---- bands
  bool Printable(const TfrxBand& b) { return b.Filter.isEmpty() || EvaluateCondition(b.Filter, FCtx); }

  void RunSection(const Section& s) {
    const TfrxBand& first = *s.Masters.front();
    TMemTable* table = TableOf(first);
    if (first.DataSet.isEmpty() || !table) {
      // A data band without a dataset prints once.
      if (first.DataSet.isEmpty()) {
        if (s.GroupHeader) Place(Build(*s.GroupHeader));
        for (const TfrxBand* m : s.Masters) Place(Build(*m));
        if (s.GroupFooter) Place(Build(*s.GroupFooter));
      }
      return;
    }
    table->First();
    bool any = false;
    QString groupValue;
    int line = 0;
    const bool keep = std::any_of(s.Masters.begin(), s.Masters.end(), [](const TfrxBand* b) { return b->KeepTogether; });
    // Protects against a table whose cursor does not advance.
    for (int guard = 0; !table->Eof() && guard < 10'000'000; ++guard) {
      if (s.GroupHeader) {
        QString v = ExpandText(s.GroupHeader->Condition, FCtx);
        if (!any || v != groupValue) {
          if (any && s.GroupFooter) Place(Build(*s.GroupFooter));
          Place(Build(*s.GroupHeader));
          groupValue = v;
        }
      }
      any = true;
      FCtx.Line = ++line;
      std::vector<BandInstance> block;
      for (const TfrxBand* m : s.Masters)
        if (Printable(*m)) block.push_back(Build(*m));
      for (const auto& group : s.Details) {
        TMemTable* dt = TableOf(*group.front());
        if (!dt) continue;
        dt->First();
        int dline = 0;
        for (int g2 = 0; !dt->Eof() && g2 < 10'000'000; ++g2) {
          FCtx.Line = ++dline;
          for (const TfrxBand* d : group)
            if (Printable(*d)) block.push_back(Build(*d));
          dt->Next();
        }
        FCtx.Line = line;
      }
      if (keep && !block.empty()) {
        double total = 0;
        for (const auto& b : block) total += b.Height;
        const double room = ContentBottom() - FY;
        const double fresh = ContentBottom() - FBodyStart;
        if (total > room + 1e-6 && total <= fresh && FY > FBodyStart + 1e-6) NewPage();
      }
      for (auto& b : block) Place(std::move(b));
      table->Next();
    }
    if (any && s.GroupFooter) Place(Build(*s.GroupFooter));
  }

  QImage PictureFor(const TfrxPictureView& pv) {
    if (!pv.DataField.isEmpty()) {
      QString expr = pv.DataField.trimmed();
      if (expr.startsWith('[') && expr.endsWith(']')) expr = expr.mid(1, expr.size() - 2);
      QVariant v = EvaluateExpression(expr, FCtx);
      QByteArray bytes = v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
      if (bytes.isEmpty()) {
        // A text value names a picture file.
        QString path = v.typeId() == QMetaType::QString ? v.toString() : QString();
        return path.isEmpty() ? QImage() : FileImage(path);
      }
      QByteArray key = QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
      auto it = FImageCache.find(key);
      if (it == FImageCache.end()) it = FImageCache.insert(key, QImage::fromData(bytes));
      return *it;
    }
    return pv.FileName.isEmpty() ? QImage() : FileImage(ExpandText(pv.FileName, FCtx));
  }

  QImage FileImage(const QString& path) {
    auto it = FFileCache.find(path);
    if (it == FFileCache.end()) {
      QImage img;
      if (QFile::exists(path)) img.load(path);
      it = FFileCache.insert(path, img);
    }
    return *it;
  }

  BandInstance Build(const TfrxBand& band) {
    BandInstance inst;
    inst.Height = band.Height;
    std::vector<std::pair<const TfrxComponent*, QString>> cells;
    std::vector<const TfrxComponent*> design;  // template object of each item
    for (const auto& obj : band.Objects) {
      if (!obj->Visible) continue;
      if (!obj->VisibleIf.isEmpty() && !EvaluateCondition(obj->VisibleIf, FCtx)) continue;
      TfrxPreparedItem it;
      it.Kind = obj->Kind();
      it.Name = obj->Name;
      it.Rect = QRectF(obj->Left, obj->Top, obj->Width, obj->Height);
      switch (obj->Kind()) {
        case TfrxObjectKind::Text: {
          const auto& m = static_cast<const TfrxMemoView&>(*obj);
          QString text = ExpandText(m.Text, FCtx, m.Format);
          it.Font = m.Font;
          it.HAlign = m.HAlign;
          it.VAlign = m.VAlign;
          it.Padding = m.Padding;
          it.Fill = m.Fill;
          it.Frame = m.Frame;
          it.Lines = WrapText(m.Font, text, m.Width - 2 * m.Padding, m.WordWrap);
          if (m.Stretch) {
            double h = LineHeightMm(m.Font) * it.Lines.size() + 2 * m.Padding;
            it.Rect.setHeight(std::max(m.Height, h));
          }
          if (text.isEmpty()) it.Lines.clear();
          cells.emplace_back(obj.get(), QString(text).replace('\n', ' '));
          break;
        }
        case TfrxObjectKind::Picture: {
          const auto& pv = static_cast<const TfrxPictureView&>(*obj);
          it.Frame = pv.Frame;
          it.Image = PictureFor(pv);
          if (!it.Image.isNull()) {
            QRectF target = it.Rect;
            if (pv.KeepAspectRatio && it.Image.width() > 0 && it.Image.height() > 0) {
              QSizeF s = QSizeF(it.Image.size()).scaled(target.size(), Qt::KeepAspectRatio);
              QPointF at = pv.Center ? QPointF(target.left() + (target.width() - s.width()) / 2,
                                               target.top() + (target.height() - s.height()) / 2)
                                     : target.topLeft();
              target = QRectF(at, s);
            }
            it.ImageRect = target;
          }
          break;
        }
        case TfrxObjectKind::Line: {
          const auto& l = static_cast<const TfrxLineView&>(*obj);
          it.PenWidth = l.PenWidth;
          it.Color = l.Color;
          break;
        }
        case TfrxObjectKind::Rect: {
          const auto& r = static_cast<const TfrxShapeView&>(*obj);
          it.PenWidth = r.PenWidth;
          it.Color = r.Color;
          it.Fill = r.Fill;
          break;
        }
      }
      inst.Items.push_back(std::move(it));
      design.push_back(obj.get());
    }
    // Objects under a stretched text move down with it (when they overlap
    // it horizontally), so stretched paragraphs do not run over them.
    for (size_t i = 0; i < inst.Items.size(); ++i) {
      const double growth = inst.Items[i].Rect.height() - design[i]->Height;
      if (growth <= 1e-6) continue;
      const double bottom = design[i]->Top + design[i]->Height;
      for (size_t j = 0; j < inst.Items.size(); ++j) {
        if (j == i || design[j]->Top < bottom - 1e-6) continue;
        const double l = std::max(design[i]->Left, design[j]->Left);
        const double r = std::min(design[i]->Left + design[i]->Width, design[j]->Left + design[j]->Width);
        if (r <= l) continue;
        inst.Items[j].Rect.translate(0, growth);
        inst.Items[j].ImageRect.translate(0, growth);
      }
    }
    if (band.Stretch)
      for (const auto& it : inst.Items) inst.Height = std::max(inst.Height, it.Rect.bottom());
    if (!cells.empty()) {
      std::stable_sort(cells.begin(), cells.end(), [](const auto& a, const auto& b) {
        if (std::abs(a.first->Top - b.first->Top) > 1.0) return a.first->Top < b.first->Top;
        return a.first->Left < b.first->Left;
      });
      inst.HasRow = true;
      inst.Row.BandType = band.Type;
      for (auto& c : cells) inst.Row.Cells << c.second;
    }
    return inst;
  }

  TfrxReport& FReport;
  const TfrxReportPage& FPage;
  std::vector<TfrxPreparedPage>& FOut;
  QStringList& FWarnings;
  TExprContext FCtx;
  const TfrxBand* FHeader = nullptr;
  const TfrxBand* FFooter = nullptr;
  size_t FFirstPage = 0;
  bool FPageOpen = false;
  double FY = 0;
  double FBodyStart = 0;
  QHash<QByteArray, QImage> FImageCache;
  QHash<QString, QImage> FFileCache;

 public:
  void SetFirstPage(size_t n) { FFirstPage = n; }
};

}  // namespace

bool TfrxReport::PrepareReport(bool clearLastReport) {
  if (clearLastReport) FPrepared.clear();
  FWarnings.clear();
  for (size_t i = 0; i < FTemplate.Pages.size(); ++i) {
    const size_t first = FPrepared.size();
    Preparer p(*this, FTemplate.Pages[i], FPrepared, FWarnings);
    p.SetFirstPage(first);
    p.Run();
    for (size_t k = first; k < FPrepared.size(); ++k) FPrepared[k].SourcePage = static_cast<int>(i);
  }
  // Table cursors go back to the first row, as the windows expect after a
  // preparation.
  for (TfrxDBDataset* ds : FDatasets) {
    TMemTable* t = ds ? ds->Table() : nullptr;
    if (t && t->Active() && t->State() == TDataSetState::Browse) t->First();
  }
  // The new pages show in the attached preview.
  if (FPreview) FPreview->ShowPages(FPrepared);
  return !FPrepared.empty();
}

}  // namespace tessaly::report
