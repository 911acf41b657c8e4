// Template model, file format, expressions and layout.
#include "ReportExpr.h"
#include "ReportTestSupport.h"

using namespace reporttest;

namespace {

std::unique_ptr<TfrxMemoView> Memo(const QString& name, const QString& text, double left = 0, double width = 60,
                                   double height = 5) {
  auto m = std::make_unique<TfrxMemoView>();
  m->Name = name;
  m->Text = text;
  m->Left = left;
  m->Width = width;
  m->Height = height;
  return m;
}

TfrxBand Band(const QString& name, TfrxBandType type, double height, const QString& dataset = QString()) {
  TfrxBand b;
  b.Name = name;
  b.Type = type;
  b.Height = height;
  b.DataSet = dataset;
  return b;
}

// A line table with `n` rows (Id 1..n) and a description table with `perLine`
// rows for each line.
void FillTables(Documents& d, int n, int perLine = 0) {
  d.Lines.AddFieldDef("Id", TFieldType::Integer);
  d.Lines.AddFieldDef("Modele", TFieldType::String, 100);
  d.Lines.CreateDataSet();
  d.Lines.SetIndexFieldNames("Id");
  for (int i = 1; i <= n; ++i) {
    d.Lines.Append();
    d.Lines.FieldByName("Id").SetAsInteger(i);
    d.Lines.FieldByName("Modele").SetAsString(QStringLiteral("Article %1").arg(i));
    d.Lines.Post();
  }
  d.Descriptions.AddFieldDef("IdLigne", TFieldType::Integer);
  d.Descriptions.AddFieldDef("texte", TFieldType::String, 100);
  d.Descriptions.CreateDataSet();
  d.Descriptions.SetIndexFieldNames("IdLigne");
  d.Descriptions.SetMasterFields("Id");
  for (int i = 1; i <= n; ++i)
    for (int k = 1; k <= perLine; ++k) {
      d.Descriptions.Append();
      d.Descriptions.FieldByName("IdLigne").SetAsInteger(i);
      d.Descriptions.FieldByName("texte").SetAsString(QStringLiteral("Détail %1.%2").arg(i).arg(k));
      d.Descriptions.Post();
    }
  d.DsLines.AddFieldAlias("Modele", "Modèle");
  d.DsDescriptions.AddFieldAlias("texte", "Texte");
}

// Title, page header, lines with their descriptions, page footer with the
// page count.
TfrxTemplate ListTemplate(double lineHeight = 6) {
  TfrxTemplate t;
  TfrxReportPage p;
  TfrxBand title = Band("Title", TfrxBandType::ReportTitle, 15);
  title.Objects.push_back(Memo("MemTitle", "Liste des articles"));
  TfrxBand header = Band("Header", TfrxBandType::PageHeader, 8);
  header.Objects.push_back(Memo("MemHead", "Désignation"));
  TfrxBand data = Band("Lines", TfrxBandType::MasterData, lineHeight, "Données des lignes produits");
  data.Objects.push_back(Memo("MemLine", "[Données des lignes produits.\"Modèle\"]"));
  TfrxBand detail = Band("Desc", TfrxBandType::DetailData, 5, "Description des lignes produits");
  detail.Objects.push_back(Memo("MemDesc", "[Description des lignes produits.\"Texte\"]", 10));
  TfrxBand footer = Band("Footer", TfrxBandType::PageFooter, 8);
  footer.Objects.push_back(Memo("MemPage", "Page [Page#] / [TotalPages#]", 130));
  for (auto* b : {&title, &header, &data, &detail, &footer}) p.Bands.push_back(std::move(*b));
  t.Pages.push_back(std::move(p));
  return t;
}

QStringList ItemsNamed(const TfrxPreparedPage& page, const QString& name) {
  QStringList out;
  for (const auto& it : page.Items)
    if (it.Name == name) out << it.Lines.join('\n');
  return out;
}

}  // namespace

// ---- file format --------------------------------------------------------------

TEST(TemplateFile, SaveThenLoadGivesTheSameModel) {
  // A model with every property away from its default, plus a sample template.
  TfrxTemplate t = ListTemplate();
  t.Title = "Essai <&> \"complet\"";
  t.PrinterName = "Bureau";
  t.Copies = 3;
  t.PageRange = "1-2,4";
  TfrxReportPage& p = t.Pages.front();
  p.Orientation = TfrxOrientation::Landscape;
  p.SetPaper("A5");
  p.LeftMargin = 12.5;
  p.DataOnly = true;
  TfrxBand& data = p.Bands[2];
  data.Stretch = data.KeepTogether = true;
  data.Filter = "[Données des lignes produits.\"Id\"] <> -1";
  auto* m = static_cast<TfrxMemoView*>(data.Objects.front().get());
  m->Text = "Ligne 1\nLigne 2 [x] é";
  m->Font = TfrxFont{"DejaVu Serif", 11.5, true, true, true, QColor("#123456")};
  m->HAlign = THAlign::Right;
  m->VAlign = TVAlign::Bottom;
  m->WordWrap = false;
  m->Stretch = true;
  m->Frame = TfrxFrame{true, false, true, false, 0.7, QColor("#abcdef")};
  m->Fill = QColor("#eeeeee");
  m->Format = "N2";
  m->Visible = false;
  m->VisibleIf = "not [Données de la configuration.\"Croquis\"]";
  auto pic = std::make_unique<TfrxPictureView>();
  pic->Name = "Pic";
  pic->DataField = "[Données des lignes produits.\"Croquis\"]";
  pic->FileName = "logo.png";
  pic->KeepAspectRatio = false;
  pic->Center = false;
  pic->Frame.Bottom = true;
  data.Objects.push_back(std::move(pic));
  auto line = std::make_unique<TfrxLineView>();
  line->Name = "Ln";
  line->Width = 100;
  line->PenWidth = 1.5;
  line->Color = QColor("#ff0000");
  data.Objects.push_back(std::move(line));
  auto rect = std::make_unique<TfrxShapeView>();
  rect->Name = "Rc";
  rect->Fill = QColor(10, 20, 30, 40);
  data.Objects.push_back(std::move(rect));
  p.Bands[0].Condition = "[x]";

  QTemporaryDir dir;
  for (const TfrxTemplate& model : {t, LoadTemplateFile(Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Paysage/Prix nets.fr3"))}) {
    TfrxReport r;
    r.SetTemplate(model);
    const QString path = dir.filePath("copie.fr3");
    r.SaveToFile(path);
    EXPECT_EQ(r.FileName(), path);
    TfrxReport back;
    ASSERT_TRUE(back.LoadFromFile(path));
    EXPECT_EQ(TemplateToXml(back.Template()), TemplateToXml(model));
  }
  TfrxTemplate back = TemplateFromXml(TemplateToXml(t), "mem");
  auto* m2 = static_cast<TfrxMemoView*>(back.Pages[0].Bands[2].Objects[0].get());
  EXPECT_EQ(m2->Text, m->Text);
  EXPECT_EQ(m2->Font, m->Font);
  EXPECT_EQ(m2->Frame, m->Frame);
  EXPECT_EQ(back.Pages[0].Orientation, TfrxOrientation::Landscape);
  EXPECT_EQ(back.Pages[0].PaperWidth, 148);
  EXPECT_EQ(back.Copies, 3);
}

TEST(TemplateFile, MissingFileKeepsTheCurrentTemplate) {
  TfrxReport r;
  ASSERT_TRUE(r.LoadFromFile(Sample("Modeles/Rapports/Liste.fr3")));
  const QByteArray before = TemplateToXml(r.Template());
  EXPECT_FALSE(r.LoadFromFile(Sample("Modeles/Rapports/absent.fr3")));
  EXPECT_EQ(TemplateToXml(r.Template()), before);
  EXPECT_EQ(r.FileName(), Sample("Modeles/Rapports/Liste.fr3"));
  EXPECT_FALSE(r.LoadFromFile(QString()));
}

TEST(TemplateFile, NonTemplatesRaiseAnErrorNamingTheFile) {
  QTemporaryDir dir;
  struct Case {
    const char* name;
    QByteArray content;
    const char* expected;
  } cases[] = {
      {"binary.fr3", QByteArray("\x89PNG\r\n\x1a\n\0\0", 10), "n'est pas un modèle de rapport"},
      {"other.fr3", "<?xml version='1.0'?><html/>", "élément racine <html>"},
      {"empty.fr3", "", "n'est pas un modèle de rapport"},
      {"future.fr3", "<TessalyReport version='7'><Page/></TessalyReport>", "version 7"},
      {"noversion.fr3", "<TessalyReport><Page/></TessalyReport>", "pas de version de format"},
      {"nopage.fr3", "<TessalyReport version='1'/>", "aucune page"},
      {"badband.fr3", "<TessalyReport version='1'><Page><Band name='b' type='Middle'/></Page></TessalyReport>",
       "type inconnu"},
      {"badnum.fr3",
       "<TessalyReport version='1'><Page><Band name='b' type='MasterData' height='abc'/></Page></TessalyReport>",
       "pas un nombre"},
      {"noname.fr3",
       "<TessalyReport version='1'><Page><Band name='b' type='MasterData'><Text/></Band></Page></TessalyReport>",
       "pas de nom"},
      {"margins.fr3", "<TessalyReport version='1'><Page leftMargin='150' rightMargin='100'/></TessalyReport>",
       "aucune place"},
  };
  for (const auto& c : cases) {
    QFile f(dir.filePath(c.name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(c.content);
    f.close();
    TfrxReport r;
    const QByteArray blank = TemplateToXml(r.Template());
    try {
      r.LoadFromFile(f.fileName());
      ADD_FAILURE() << c.name << " loaded";
    } catch (const EReportError& e) {
      EXPECT_TRUE(e.Message().contains(f.fileName())) << e.Message().toStdString();
      EXPECT_TRUE(e.Message().contains(c.expected)) << c.name << ": " << e.Message().toStdString();
    }
    EXPECT_EQ(TemplateToXml(r.Template()), blank) << c.name;
    EXPECT_TRUE(r.FileName().isEmpty());
  }
}

TEST(TemplateFile, EverySampleTemplateLoadsAndRendersWithoutWarnings) {
  QDir root(Sample("Modeles"));
  QStringList files;
  for (const QString& type : QDir(root.filePath("Documents")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    for (const QString& orient : {QStringLiteral("Portrait"), QStringLiteral("Paysage")})
      for (const QString& title : QDir(root.filePath("Documents/" + type)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QString& file : {QStringLiteral("Prix nets.fr3"), QStringLiteral("Prix TTC.fr3")})
          files << root.filePath(QStringLiteral("Documents/%1/%2/Corvanel/%3/%4").arg(type, title, orient, file));
  ASSERT_EQ(files.size(), 20);
  for (const QString& f : files) {
    Documents d;
    d.Load(Sample("jobs/devis/devis.xml"));
    ASSERT_TRUE(d.Report.LoadFromFile(f)) << f.toStdString();
    ASSERT_TRUE(d.Report.PrepareReport(true));
    EXPECT_TRUE(d.Report.Warnings().isEmpty()) << f.toStdString() << ": " << d.Report.Warnings().join("; ").toStdString();
    const bool landscape = f.contains("/Paysage/");
    EXPECT_EQ(d.Report.GetPages(1)->Orientation, landscape ? TfrxOrientation::Landscape : TfrxOrientation::Portrait);
    EXPECT_EQ(d.Report.PreparedPages().front().Width > d.Report.PreparedPages().front().Height, landscape);
    EXPECT_NE(d.Report.FindObject("Image_Croquis"), nullptr);
    EXPECT_NE(d.Report.FindObject("Mem_UW"), nullptr);
    EXPECT_TRUE(d.PreparedText().contains("Fenêtre deux vantaux PVC"));
  }
}

// ---- expressions ----------------------------------------------------------------

TEST(Expressions, FormatsAndConditions) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"), {"Fournisseurs=false"});
  TExprContext ctx;
  ctx.Locale = French();
  ctx.Page = 4;
  QStringList warnings;
  ctx.Warnings = &warnings;
  ctx.Field = [&](const QString& ds, const QString& alias, bool* found) {
    *found = false;
    TReportDataset* r = d.Report.FindDataset(ds);
    if (!r) return QVariant();
    TMemField* f = r->Table()->FindField(r->FieldOf(alias));
    if (!f) return QVariant();
    *found = true;
    return f->AsVariant();
  };
  d.Header.First();
  d.Lines.First();
  struct {
    const char* text;
    const char* expected;
  } texts[] = {
      {"N° [Données du dossier.\"Numéro\"]", "N° D2023-0042"},
      {"[Données du dossier.\"Total HT\"|N2]", "4\u202F287,60"},
      {"[Données du dossier.\"Total HT\"|F1]", "4287,6"},
      {"[Données du dossier.\"Total HT\"]", "4287,6"},
      {"[Données du dossier.\"Date\"|D:dd MMMM yyyy]", "15 février 2023"},
      {"[Données du dossier.\"Date\"|D]", "15/02/2023"},
      {"[Données du dossier.\"Acompte demandé\"]", "Oui"},
      {"Page [Page#]", "Page 4"},
      {"[Données des lignes produits.\"Largeur\"] x [Données des lignes produits.\"Hauteur\"]", "1200 x 1350"},
      {"sans [crochet", "sans [crochet"},
  };
  for (const auto& c : texts) EXPECT_EQ(ExpandText(QString::fromUtf8(c.text), ctx), QString::fromUtf8(c.expected)) << c.text;
  EXPECT_TRUE(warnings.isEmpty()) << warnings.join("; ").toStdString();

  struct {
    const char* cond;
    bool expected;
  } conds[] = {
      {"", true},
      {"[Données de la configuration.\"Croquis\"]", true},
      {"[Données de la configuration.\"Fournisseurs\"]", false},
      {"not [Données de la configuration.\"Fournisseurs\"]", true},
      {"[Données des lignes produits.\"Id\"] = 1", true},
      {"[Données des lignes produits.\"Id\"] <> -1", true},
      {"[Données des lignes produits.\"Id\"] >= 2", false},
      {"[Données des lignes produits.\"Fournisseur\"] = \"Menuiseries du Rhône\"", true},
      {"[Données de la configuration.\"Croquis\"] and [Données de la configuration.\"Fournisseurs\"]", false},
      {"[Données de la configuration.\"Fournisseurs\"] or [Données des lignes produits.\"Uw\"] < 1.5", true},
      {"[Données de la configuration.\"CGV\"]", false},  // empty text
  };
  for (const auto& c : conds) EXPECT_EQ(EvaluateCondition(QString::fromUtf8(c.cond), ctx), c.expected) << c.cond;

  EXPECT_EQ(ExpandText("[Inconnu.\"X\"]", ctx), QString());
  EXPECT_EQ(ExpandText("[n'importe quoi]", ctx), QString());
  EXPECT_EQ(warnings.size(), 2);
}

// ---- layout -----------------------------------------------------------------------

TEST(Layout, BlankReportIsAnA4PageWithThePageNumber) {
  TfrxReport r;
  ASSERT_NE(r.GetPages(1), nullptr);
  EXPECT_EQ(r.GetPages(0), nullptr);  // the data page
  EXPECT_EQ(r.GetPages(2), nullptr);
  const TfrxReportPage& p = *r.GetPages(1);
  EXPECT_EQ(p.Width(), 210);
  EXPECT_EQ(p.Height(), 297);
  EXPECT_EQ(p.LeftMargin, 10);
  EXPECT_EQ(p.BottomMargin, 10);
  std::vector<TfrxBandType> types;
  for (const auto& b : p.Bands) types.push_back(b.Type);
  EXPECT_EQ(types, (std::vector<TfrxBandType>{TfrxBandType::ReportTitle, TfrxBandType::MasterData, TfrxBandType::PageFooter}));
  ASSERT_TRUE(r.PrepareReport(true));
  ASSERT_EQ(r.PreparedPages().size(), 1u);
  EXPECT_EQ(ItemsNamed(r.PreparedPages()[0], "Memo1"), QStringList{"1"});
}

TEST(Layout, DetailRowsFollowTheirMaster) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"));
  TfrxTemplate t = ListTemplate();
  d.Report.SetTemplate(t);
  ASSERT_TRUE(d.Report.PrepareReport(true));
  const QStringList rows = d.CsvText(true).split("\r\n", Qt::SkipEmptyParts);
  EXPECT_EQ(rows, (QStringList{"Fenêtre deux vantaux PVC", "Vitrage isolant 4/20/4 argon",
                               "Poignée centrée, teinte blanc satiné", "Fenêtre un vantail oscillo-battant",
                               "Ouverture oscillo-battante à droite", "Porte d'entrée aluminium",
                               "Serrure 5 points, seuil PMR"}));
}

TEST(Layout, TwoHundredLinesPaginateWithHeadersFootersAndPageTotals) {
  Documents d;
  FillTables(d, 200);
  d.Report.SetTemplate(ListTemplate());
  ASSERT_TRUE(d.Report.PrepareReport(true));
  const auto& pages = d.Report.PreparedPages();
  // 277 mm of body per page, 15 mm title, 8 mm header and footer, 6 mm rows.
  ASSERT_GE(pages.size(), 5u);
  const int n = static_cast<int>(pages.size());
  int rows = 0;
  for (int i = 0; i < n; ++i) {
    const auto& p = pages[static_cast<size_t>(i)];
    EXPECT_EQ(ItemsNamed(p, "MemHead").size(), 1) << "page " << i + 1;
    EXPECT_EQ(ItemsNamed(p, "MemPage"), QStringList{QStringLiteral("Page %1 / %2").arg(i + 1).arg(n)});
    EXPECT_EQ(ItemsNamed(p, "MemTitle").size(), i == 0 ? 1 : 0);
    double footerTop = 0, lowestLine = 0, headerBottom = 0;
    for (const auto& it : p.Items) {
      if (it.Name == "MemPage") footerTop = it.Rect.top();
      if (it.Name == "MemHead") headerBottom = it.Rect.bottom();
      if (it.Name == "MemLine") {
        lowestLine = std::max(lowestLine, it.Rect.bottom());
        EXPECT_GE(it.Rect.top(), headerBottom);
        ++rows;
      }
    }
    EXPECT_LE(lowestLine, footerTop + 1e-6) << "page " << i + 1;
    EXPECT_NEAR(footerTop, 297 - 10 - 8, 1e-6);
  }
  EXPECT_EQ(rows, 200);
  // Pages are filled: the first row of page 2 would not have fitted on page 1.
  EXPECT_EQ(d.CsvText(true).count("\r\n"), 200);
  EXPECT_TRUE(ItemsNamed(pages[1], "MemLine").contains("Article 42") ||
              ItemsNamed(pages[0], "MemLine").contains("Article 42"));
}

TEST(Layout, KeepTogetherMovesAMasterWithItsDetailsToTheNextPage) {
  for (bool keep : {false, true}) {
    Documents d;
    FillTables(d, 12, 4);  // each line: 6 mm + 4 x 5 mm = 26 mm
    TfrxTemplate t = ListTemplate();
    t.Pages[0].Bands[2].KeepTogether = keep;
    d.Report.SetTemplate(t);
    ASSERT_TRUE(d.Report.PrepareReport(true));
    const auto& pages = d.Report.PreparedPages();
    ASSERT_GE(pages.size(), 2u);
    // The last item of page 1 is a description; with keep-together it is the
    // last description of its line.
    QString lastOnFirst;
    for (const auto& it : pages[0].Items)
      if (it.Name == "MemDesc" || it.Name == "MemLine") lastOnFirst = it.Lines.join("");
    if (keep) EXPECT_TRUE(lastOnFirst.endsWith(".4")) << lastOnFirst.toStdString();
    else EXPECT_FALSE(lastOnFirst.endsWith(".4")) << lastOnFirst.toStdString();
  }
}

TEST(Layout, StretchedTextGrowsItsBandAndPushesObjectsBelow) {
  Documents d;
  FillTables(d, 1);
  TfrxTemplate t = ListTemplate();
  TfrxBand& data = t.Pages[0].Bands[2];
  data.Stretch = true;
  auto* m = static_cast<TfrxMemoView*>(data.Objects[0].get());
  m->Stretch = true;
  m->Width = 20;
  m->Text = QString("mot ").repeated(30) + "[Données des lignes produits.\"Modèle\"]";
  auto below = Memo("MemBelow", "dessous");
  below->Top = 6;
  data.Objects.push_back(std::move(below));
  d.Report.SetTemplate(t);
  d.Report.PrepareReport(true);
  const auto& items = d.Report.PreparedPages()[0].Items;
  auto find = [&](const QString& n) {
    return *std::find_if(items.begin(), items.end(), [&](const TfrxPreparedItem& i) { return i.Name == n; });
  };
  const TfrxPreparedItem line = find("MemLine"), low = find("MemBelow"), desc = find("MemPage");
  EXPECT_GT(line.Lines.size(), 5);
  EXPECT_EQ(line.Lines.join(" ").simplified(), m->Text.replace("[Données des lignes produits.\"Modèle\"]", "Article 1").simplified());
  EXPECT_GT(line.Rect.height(), 20);
  EXPECT_GE(low.Rect.top(), line.Rect.bottom() - 1e-6);
  for (const auto& l : line.Lines) EXPECT_LE(TextWidthMm(m->Font, l), 20 - 2 * m->Padding + 1e-6) << l.toStdString();
}

TEST(Layout, HiddenObjectsAndConditionsStayOutOfTheOutput) {
  const QString tpl = Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3");
  struct Case {
    const char* what;
    QStringList settings;
    const char* hide;
    const char* absentText;
    const char* absentItem;
  } cases[] = {
      {"Uw hidden by name", {}, "Mem_UW", "1,3", "Mem_UW"},
      {"sketch hidden by name", {}, "Image_Croquis", nullptr, "Image_Croquis"},
      {"suppliers off", {"Fournisseurs=false"}, nullptr, "Menuiseries du Rhône", "Mem_Fournisseur"},
      {"dimensions off", {"Dimensions=false"}, nullptr, "1200 x 1350", "Mem_Dimensions"},
      {"sketches off", {"Croquis=0"}, nullptr, nullptr, "Image_Croquis"},
  };
  for (const auto& c : cases) {
    Documents d;
    d.Load(Sample("jobs/devis/devis.xml"), c.settings);
    ASSERT_TRUE(d.Report.LoadFromFile(tpl));
    // Shown with the defaults.
    d.Report.PrepareReport(true);
    auto count = [&](const char* name) {
      int n = 0;
      for (const auto& p : d.Report.PreparedPages())
        for (const auto& it : p.Items) n += it.Name == QLatin1String(name);
      return n;
    };
    if (c.hide) {
      EXPECT_EQ(count(c.absentItem), 3) << c.what;
      TfrxComponent* o = d.Report.FindObject(c.hide);
      ASSERT_NE(o, nullptr);
      o->Visible = false;
      d.Report.PrepareReport(true);
    }
    EXPECT_EQ(count(c.absentItem), 0) << c.what;
    if (c.absentText) {
      EXPECT_FALSE(d.PreparedText().contains(QString::fromUtf8(c.absentText))) << c.what;
      EXPECT_FALSE(d.CsvText(false).contains(QString::fromUtf8(c.absentText))) << c.what;
    }
    EXPECT_TRUE(d.PreparedText().contains("Fenêtre deux vantaux PVC")) << c.what;
  }
}

TEST(Layout, LineStartAndEndRowsPrintAroundTheProductLines) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"), {"DebutLigne=Texte de début", "FinLigne=Texte de fin"});
  ASSERT_TRUE(d.Report.LoadFromFile(Sample("Modeles/Documents/FACTURE/Facture/Corvanel/Portrait/Prix TTC.fr3")));
  d.Report.PrepareReport(true);
  const QStringList rows = d.CsvText(true).split("\r\n", Qt::SkipEmptyParts);
  ASSERT_GE(rows.size(), 9);
  EXPECT_EQ(rows.front(), "Texte de début");
  EXPECT_EQ(rows.back(), "Texte de fin");
  EXPECT_TRUE(rows[1].startsWith("Fenêtre deux vantaux PVC;")) << rows[1].toStdString();
}

TEST(Layout, MissingPictureFileLeavesItsFrameEmpty) {
  TfrxReport r;
  TfrxTemplate t = BlankTemplate();
  auto pic = std::make_unique<TfrxPictureView>();
  pic->Name = "Logo";
  pic->FileName = "/nonexistent/logo.png";
  pic->Width = 40;
  pic->Height = 20;
  pic->Frame = TfrxFrame{true, true, true, true, 0.3, Qt::black};
  auto good = std::make_unique<TfrxPictureView>(*pic);
  good->Name = "Croquis";
  good->FileName = Sample("jobs/devis/croquis1.png");
  good->Left = 50;
  t.Pages[0].Bands[0].Objects.push_back(std::move(pic));
  t.Pages[0].Bands[0].Objects.push_back(std::move(good));
  r.SetTemplate(t);
  ASSERT_TRUE(r.PrepareReport(true));
  const auto& items = r.PreparedPages()[0].Items;
  int seen = 0;
  for (const auto& it : items) {
    if (it.Name == "Logo") {
      ++seen;
      EXPECT_TRUE(it.Image.isNull());
      EXPECT_TRUE(it.Frame.Any());
    }
    if (it.Name == "Croquis") {
      ++seen;
      ASSERT_FALSE(it.Image.isNull());
      // 200 x 240 picture in a 40 x 20 frame: scaled proportionally, centred.
      EXPECT_NEAR(it.ImageRect.height(), 20, 1e-6);
      EXPECT_NEAR(it.ImageRect.width(), 20.0 * 200 / 240, 1e-6);
      EXPECT_NEAR(it.ImageRect.center().x(), it.Rect.center().x(), 1e-6);
    }
  }
  EXPECT_EQ(seen, 2);
  QTemporaryDir dir;
  TfrxPDFExport pdf;
  pdf.ShowDialog = false;
  pdf.FileName = dir.filePath("cadre.pdf");
  ASSERT_TRUE(r.Export(pdf));
  EXPECT_TRUE(PdfStructureOk(pdf.FileName));
}

TEST(Layout, PageRangeSelection) {
  struct {
    const char* range;
    int count;
    std::vector<int> pages;
  } cases[] = {
      {"", 3, {1, 2, 3}},       {"2", 3, {2}},       {"1-2,3", 3, {1, 2, 3}}, {"3-", 5, {3, 4, 5}},
      {"2,2,1", 3, {2, 1}},     {"7", 3, {}},        {"x, 2", 3, {2}},        {"0-9", 2, {1, 2}},
      {"1-2-3", 3, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsePageRange(c.range, c.count), c.pages) << c.range;
}

TEST(Layout, GroupHeaderAndFooterFramePerValueOfTheCondition) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"));
  TfrxTemplate t;
  TfrxReportPage p;
  TfrxBand gh = Band("GroupHeader1", TfrxBandType::GroupHeader, 6);
  gh.Condition = "[Données des lignes produits.\"Fournisseur\"]";
  gh.Objects.push_back(Memo("MemGroup", "Fournisseur : [Données des lignes produits.\"Fournisseur\"]", 0, 120));
  TfrxBand data = Band("Lines", TfrxBandType::MasterData, 6, "Données des lignes produits");
  data.Objects.push_back(Memo("MemLine", "[Line#]. [Données des lignes produits.\"Modèle\"]", 0, 120));
  TfrxBand gf = Band("GroupFooter1", TfrxBandType::GroupFooter, 6);
  gf.Objects.push_back(Memo("MemEnd", "fin du groupe"));
  for (auto* b : {&gh, &data, &gf}) p.Bands.push_back(std::move(*b));
  t.Pages.push_back(std::move(p));
  d.Report.SetTemplate(t);
  ASSERT_TRUE(d.Report.PrepareReport(true));
  EXPECT_EQ(d.CsvText(false).split("\r\n", Qt::SkipEmptyParts),
            (QStringList{"Fournisseur : Menuiseries du Rhône", "1. Fenêtre deux vantaux PVC",
                         "2. Fenêtre un vantail oscillo-battant", "fin du groupe", "Fournisseur : Alu Confluence",
                         "3. Porte d'entrée aluminium", "fin du groupe"}));
  // Preparing again gives the same pages (no state kept between runs).
  const QString first = d.PreparedText();
  d.Report.PrepareReport(true);
  EXPECT_EQ(d.PreparedText(), first);
}
