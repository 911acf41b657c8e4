#include "ReportModel.h"

namespace tessaly::report {

namespace {
struct BandName {
  TfrxBandType type;
  const char* name;
};
constexpr BandName kBandNames[] = {
    {TfrxBandType::ReportTitle, "ReportTitle"}, {TfrxBandType::PageHeader, "PageHeader"},
    {TfrxBandType::GroupHeader, "GroupHeader"}, {TfrxBandType::MasterData, "MasterData"},
    {TfrxBandType::DetailData, "DetailData"},   {TfrxBandType::GroupFooter, "GroupFooter"},
    {TfrxBandType::PageFooter, "PageFooter"},   {TfrxBandType::ReportSummary, "ReportSummary"},
};

struct Paper {
  const char* name;
  double w, h;
};
constexpr Paper kPapers[] = {{"A4", 210, 297}, {"A3", 297, 420}, {"A5", 148, 210},
                             {"Letter", 215.9, 279.4}, {"Legal", 215.9, 355.6}};
}  // namespace

QString BandTypeName(TfrxBandType type) {
  for (const auto& b : kBandNames)
    if (b.type == type) return QLatin1String(b.name);
  return QString();
}

bool BandTypeFromName(const QString& name, TfrxBandType* type) {
  for (const auto& b : kBandNames)
    if (name == QLatin1String(b.name)) {
      *type = b.type;
      return true;
    }
  return false;
}

TfrxBand::TfrxBand(const TfrxBand& other)
    : Name(other.Name),
      Type(other.Type),
      Height(other.Height),
      Stretch(other.Stretch),
      KeepTogether(other.KeepTogether),
      Visible(other.Visible),
      DataSet(other.DataSet),
      Filter(other.Filter),
      Condition(other.Condition) {
  for (const auto& o : other.Objects) Objects.push_back(o->Clone());
}

TfrxBand& TfrxBand::operator=(const TfrxBand& other) {
  if (this != &other) {
    TfrxBand copy(other);
    *this = std::move(copy);
  }
  return *this;
}

bool PaperSize(const QString& name, double* width, double* height) {
  for (const auto& p : kPapers)
    if (name.compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0) {
      *width = p.w;
      *height = p.h;
      return true;
    }
  return false;
}

void TfrxReportPage::SetPaper(const QString& name) {
  double w, h;
  if (PaperSize(name, &w, &h)) {
    PaperName = name;
    PaperWidth = w;
    PaperHeight = h;
  }
}

TfrxComponent* TfrxTemplate::FindComponent(const QString& name) {
  for (auto& p : Pages)
    for (auto& b : p.Bands)
      for (auto& o : b.Objects)
        if (o->Name.compare(name, Qt::CaseInsensitive) == 0) return o.get();
  return nullptr;
}

TfrxBand* TfrxTemplate::FindBand(const QString& name) {
  for (auto& p : Pages)
    for (auto& b : p.Bands)
      if (b.Name.compare(name, Qt::CaseInsensitive) == 0) return &b;
  return nullptr;
}

int TfrxTemplate::ObjectCount() const {
  int n = 0;
  for (const auto& p : Pages) {
    ++n;
    for (const auto& b : p.Bands) n += 1 + static_cast<int>(b.Objects.size());
  }
  return n;
}

bool TfrxTemplate::NameUsed(const QString& name) const {
  for (const auto& p : Pages) {
    if (p.Name.compare(name, Qt::CaseInsensitive) == 0) return true;
    for (const auto& b : p.Bands) {
      if (b.Name.compare(name, Qt::CaseInsensitive) == 0) return true;
      for (const auto& o : b.Objects)
        if (o->Name.compare(name, Qt::CaseInsensitive) == 0) return true;
    }
  }
  return false;
}

QString TfrxTemplate::UniqueName(const QString& base) const {
  for (int i = 1;; ++i) {
    QString n = base + QString::number(i);
    if (!NameUsed(n)) return n;
  }
}

TfrxTemplate BlankTemplate() {
  TfrxTemplate t;
  TfrxReportPage page;
  {
    TfrxBand title;
    title.Name = QStringLiteral("ReportTitle1");
    title.Type = TfrxBandType::ReportTitle;
    title.Height = 20;
    page.Bands.push_back(std::move(title));
  }
  {
    TfrxBand data;
    data.Name = QStringLiteral("MasterData1");
    data.Type = TfrxBandType::MasterData;
    data.Height = 6;
    page.Bands.push_back(std::move(data));
  }
  {
    TfrxBand footer;
    footer.Name = QStringLiteral("PageFooter1");
    footer.Type = TfrxBandType::PageFooter;
    footer.Height = 8;
    auto memo = std::make_unique<TfrxMemoView>();
    memo->Name = QStringLiteral("Memo1");
    memo->Left = 150;
    memo->Top = 1;
    memo->Width = 40;
    memo->Height = 5;
    memo->HAlign = THAlign::Right;
    memo->Text = QStringLiteral("[Page#]");
    footer.Objects.push_back(std::move(memo));
    page.Bands.push_back(std::move(footer));
  }
  t.Pages.push_back(std::move(page));
  return t;
}

}  // namespace tessaly::report
