// What leaves the engine: PDF and CSV files, printing, the preview, the
// designer and the render tool.
#include <QApplication>
#include <QMouseEvent>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>

#include "ReportDesigner.h"
#include "ReportPreview.h"
#include "ReportTestSupport.h"
#include "ui/Dialogs.h"

using namespace reporttest;

namespace {

const QStringList kSettings = {"CGV=Paiement à 30 jours.%Validité : 3 mois.", "QCM=Questionnaire qualité",
                               "PiedDePage1=Corvanel SAS %1", "PiedDePage2=Capital 10 000 €%TVA FR00",
                               "Logo=" TESSALY_SAMPLES "/jobs/devis/croquis1.png"};

}  // namespace

TEST(PdfExport, SampleQuoteIsAValidSearchablePdf) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"), kSettings);
  ASSERT_TRUE(d.Report.LoadFromFile(Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3")));
  ASSERT_TRUE(d.Report.PrepareReport(true));
  QTemporaryDir dir;
  TfrxPDFExport pdf;
  pdf.ShowDialog = false;
  pdf.DefaultPath = dir.path();
  pdf.FileName = "devis.pdf";
  ASSERT_TRUE(d.Report.Export(pdf));
  const QString path = dir.filePath("devis.pdf");
  EXPECT_EQ(pdf.LastPath(), path);
  ASSERT_TRUE(QFile::exists(path));
  EXPECT_TRUE(PdfStructureOk(path));
  const QString text = Blanks(PdfText(path));
  for (const char* expected :
       {"DEVIS N° D2023-0042", "Lyon, le 15/02/2023", "Mme Hélène Martin", "12 rue des Érables", "Fenêtre deux vantaux PVC",
        "Vitrage isolant 4/20/4 argon", "Porte d'entrée aluminium", "1 236,00 €", "Total net HT : 4 287,60 €",
        "Paiement à 30 jours.", "Validité : 3 mois.", "Questionnaire qualité", "Corvanel SAS %1", "TVA FR00",
        "Page 1 / 1", "Menuiseries du"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << "\n" << text.toStdString();
  const QString info = PdfInfo(path);
  EXPECT_TRUE(info.contains(QRegularExpression("Author:\\s+Corvanel"))) << info.toStdString();
  EXPECT_TRUE(info.contains(QRegularExpression("Subject:\\s+PDF export"))) << info.toStdString();
  EXPECT_TRUE(info.contains(QRegularExpression("Pages:\\s+1\\b")));
  EXPECT_TRUE(info.contains(QRegularExpression("Page size:\\s+595(\\.\\d+)? x 84[12]"))) << info.toStdString();
  // Fonts are embedded.
  const QString fonts = RunTool("pdffonts", {path}).out;
  EXPECT_FALSE(fonts.contains(QRegularExpression("\\bno\\s+(yes|no)\\s+(yes|no)\\s+\\d+\\s+0\\s*$",
                                                 QRegularExpression::MultilineOption)))
      << fonts.toStdString();
  EXPECT_TRUE(fonts.contains(" yes ")) << fonts.toStdString();
}

TEST(PdfExport, LandscapeTemplateGivesLandscapePages) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"));
  ASSERT_TRUE(d.Report.LoadFromFile(Sample("Modeles/Documents/COMMANDE CLIENT/Commande Client/Corvanel/Paysage/Prix TTC.fr3")));
  d.Report.PrepareReport(true);
  QTemporaryDir dir;
  TfrxPDFExport pdf;
  pdf.ShowDialog = false;
  pdf.FileName = dir.filePath("commande.pdf");
  ASSERT_TRUE(d.Report.Export(pdf));
  const QString info = PdfInfo(pdf.FileName);
  EXPECT_TRUE(info.contains(QRegularExpression("Page size:\\s+84[12](\\.\\d+)? x 595"))) << info.toStdString();
  EXPECT_TRUE(Blanks(PdfText(pdf.FileName)).contains("Total TTC : 5 145,12 €"));
}

TEST(PdfExport, DialogAsksForTheFileAndCancellingWritesNothing) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"));
  d.Report.LoadFromFile(Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3"));
  d.Report.PrepareReport(true);
  QTemporaryDir dir;
  tessaly::ui::TScriptedDialogs dialogs;
  tessaly::ui::TDialogsGuard guard(&dialogs);
  for (int kind = 0; kind < 2; ++kind) {
    std::unique_ptr<TfrxCustomExportFilter> filter;
    if (kind == 0) filter = std::make_unique<TfrxPDFExport>();
    else filter = std::make_unique<TfrxCSVExport>();
    filter->ShowDialog = true;
    filter->FileName = dir.filePath("preset.out");
    // No answer queued: the dialog is cancelled.
    EXPECT_FALSE(d.Report.Export(*filter));
    const QString chosen = dir.filePath(kind == 0 ? "choisi.pdf" : "choisi.csv");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), kind == 0 ? QStringList() : QStringList{"choisi.pdf"});
    dialogs.QueuePath(chosen);
    EXPECT_TRUE(d.Report.Export(*filter));
    EXPECT_TRUE(QFile::exists(chosen));
    EXPECT_FALSE(QFile::exists(dir.filePath("preset.out")));
  }
  EXPECT_EQ(dialogs.FileDialogs, (QStringList{"Exporter en PDF", "Exporter en PDF", "Exporter en CSV", "Exporter en CSV"}));
  EXPECT_TRUE(PdfStructureOk(dir.filePath("choisi.pdf")));
}

TEST(PdfExport, UnwritableTargetRaisesAClearError) {
  TfrxReport r;
  r.PrepareReport(true);
  TfrxPDFExport pdf;
  pdf.ShowDialog = false;
  pdf.FileName = "/nonexistent-folder/x.pdf";
  try {
    r.Export(pdf);
    ADD_FAILURE() << "no error";
  } catch (const EReportError& e) {
    EXPECT_TRUE(e.Message().contains("/nonexistent-folder/x.pdf")) << e.Message().toStdString();
  }
}

TEST(CsvExport, OneLinePerDataRowWithSeparatorAndEncoding) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"));
  ASSERT_TRUE(d.Report.LoadFromFile(Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3")));
  d.Report.PrepareReport(true);
  // The page option the print manager switches for the CSV export.
  TfrxReportPage* page = d.Report.FindPage("Page1");
  ASSERT_NE(page, nullptr);
  QTemporaryDir dir;
  TfrxCSVExport csv;
  csv.ShowDialog = false;
  csv.FileName = dir.filePath("devis.csv");
  page->DataOnly = true;
  ASSERT_TRUE(d.Report.Export(csv));
  page->DataOnly = false;
  QFile f(csv.FileName);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  // Windows-1252: é is 0xE9, the euro sign 0x80, the en dash 0x96.
  EXPECT_TRUE(bytes.contains("Fen\xEAtre deux vantaux PVC;1200 x 1350 mm;Menuiseries du Rh\xF4ne;1,3;3;842,50 \x80\r\n"))
      << bytes.toStdString();
  EXPECT_TRUE(bytes.contains("\x96 Vitrage isolant 4/20/4 argon\r\n"));
  EXPECT_TRUE(bytes.contains("1\xA0" "236,00 \x80"));
  EXPECT_EQ(bytes.count("\r\n"), 7);  // 3 lines, 4 descriptions
  EXPECT_FALSE(bytes.contains("D2023-0042"));  // the title band is not a data row

  // Without the page option every printed band gives its line.
  const QString all = d.CsvText(false);
  EXPECT_TRUE(all.contains("DEVIS N° D2023-0042;")) << all.toStdString();
  EXPECT_TRUE(all.contains("Croquis;Désignation;Dimensions;Fournisseur;Uw;Qté;P.U. HT\r\n"));
  // UTF-8 on request; a separator inside a value is quoted.
  csv.UTF8 = true;
  csv.Separator = ",";
  const QString utf8 = QString::fromUtf8(csv.Content(d.Report));
  EXPECT_TRUE(utf8.contains("\"1 236,00 €\"") || utf8.contains(QString::fromUtf8("\"1\u202F236,00 €\"")))
      << utf8.toStdString();
}

TEST(CsvExport, ReportListOfTheBatchSample) {
  Documents d;
  d.Load(Sample("jobs/export/liste1.xml"));
  ASSERT_TRUE(d.Report.LoadFromFile(Sample("Modeles/Rapports/Liste.fr3")));
  ASSERT_TRUE(d.Report.PrepareReport(true));
  EXPECT_TRUE(d.Report.Warnings().isEmpty()) << d.Report.Warnings().join("; ").toStdString();
  EXPECT_EQ(Blanks(d.CsvText(true)), "D2023-0040;Martin;4 287,60 €\r\nD2023-0041;Durand;1 290,00 €\r\n");
  EXPECT_TRUE(d.PreparedText().contains("Devis en cours - Agence de Lyon"));
  EXPECT_TRUE(d.PreparedText().contains("Édité le 15/02/2023"));
}

TEST(Printing, CopiesAndRangeComeFromTheTemplate) {
  Documents d;
  // Three pages of lines.
  d.Lines.AddFieldDef("Id", TFieldType::Integer);
  d.Lines.CreateDataSet();
  for (int i = 1; i <= 120; ++i) {
    d.Lines.Append();
    d.Lines.FieldByName("Id").SetAsInteger(i);
    d.Lines.Post();
  }
  TfrxTemplate t = BlankTemplate();
  t.Pages[0].Bands[1].DataSet = "Données des lignes produits";
  auto memo = std::make_unique<TfrxMemoView>();
  memo->Name = "MemId";
  memo->Width = 50;
  memo->Height = 5;
  memo->Text = "Ligne [Données des lignes produits.\"Id\"]";
  t.Pages[0].Bands[1].Objects.push_back(std::move(memo));
  t.PageRange = "2-3";
  d.Report.SetTemplate(t);
  ASSERT_TRUE(d.Report.PrepareReport(true));
  ASSERT_GE(d.Report.PreparedPages().size(), 3u);
  QTemporaryDir dir;
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(dir.filePath("impression.pdf"));
  ASSERT_TRUE(d.Report.PrintTo(printer));
  EXPECT_TRUE(PdfStructureOk(printer.outputFileName()));
  const QString text = PdfText(printer.outputFileName());
  EXPECT_FALSE(text.contains("Ligne 1\n"));
  EXPECT_TRUE(text.contains(QString("Ligne %1").arg(120))) << text.toStdString();
  EXPECT_TRUE(PdfInfo(printer.outputFileName()).contains(QRegularExpression("Pages:\\s+2\\b")));

  // A printer that is not installed falls back to the default one, and
  // without any printer the error says so.
  d.Report.PrintOptions.Printer = "Imprimante inexistante";
  if (QPrinterInfo::availablePrinterNames().isEmpty()) {
    try {
      d.Report.Print();
      ADD_FAILURE() << "printed without a printer";
    } catch (const EReportError& e) {
      EXPECT_TRUE(e.Message().contains("Imprimante inexistante")) << e.Message().toStdString();
    }
  }
}

TEST(Preview, EmbeddedPreviewShowsNavigatesAndClears) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"));
  TfrxPreview preview;
  preview.resize(600, 800);
  preview.show();
  EXPECT_FALSE(preview.OutlineVisible);
  EXPECT_FALSE(preview.ThumbnailVisible);
  d.Report.SetPreview(&preview);
  // Many pages.
  TfrxTemplate t = LoadTemplateFile(Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3"));
  d.Report.SetTemplate(t);
  d.Report.PrepareReport(true);
  d.Report.PreviewOptions.Zoom = 1.0;
  d.Report.ShowPreparedReport();
  EXPECT_EQ(preview.PageCount(), 1);
  EXPECT_DOUBLE_EQ(preview.Zoom(), 1.0);
  preview.MouseWheelScroll(-20, Qt::NoModifier, QPoint(10, 10));
  preview.MouseWheelScroll(20, Qt::ControlModifier, QPoint(10, 10));
  EXPECT_GT(preview.Zoom(), 1.0);
  EXPECT_EQ(preview.Find("Porte d'entrée"), 1);
  EXPECT_EQ(preview.Find("absent du document"), 0);
  // Several pages: navigation.
  std::vector<TfrxPreparedPage> pages(5, d.Report.PreparedPages().front());
  preview.ShowPages(pages);
  preview.SetZoom(0.5);
  preview.Last();
  EXPECT_EQ(preview.PageNo(), 5);
  preview.Prior();
  EXPECT_EQ(preview.PageNo(), 4);
  preview.First();
  EXPECT_EQ(preview.PageNo(), 1);
  preview.grab();  // paints every visible page
  preview.Clear();
  EXPECT_EQ(preview.PageCount(), 0);
  EXPECT_EQ(preview.PageNo(), 0);
  d.Report.SetPreview(nullptr);
}

TEST(Preview, PreviewWindowOpensAtPageWidth) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"));
  d.Report.LoadFromFile(Sample("Modeles/Documents/DEVIS/Devis/Corvanel/Paysage/Prix nets.fr3"));
  d.Report.PrepareReport(true);
  TfrxPreviewForm form(d.Report);
  form.show();
  EXPECT_EQ(form.Preview()->PageCount(), static_cast<int>(d.Report.PreparedPages().size()));
  const double width = form.Preview()->Pages()[0].Width * form.Preview()->logicalDpiX() / 25.4 * form.Preview()->Zoom();
  EXPECT_NEAR(width, (form.Preview()->viewport()->width() - 24) * 0.8, 2.0);
  EXPECT_FALSE(d.Report.PreviewOptions.ShowPrintButton);
}

TEST(Designer, EditsTheWorkingReportAndHandsItBackOnOk) {
  Documents d;
  d.Load(Sample("jobs/devis/devis.xml"));
  d.Report.LoadFromFile(Sample("Modeles/Rapports/Liste.fr3"));
  const QByteArray before = TemplateToXml(d.Report.Template());
  tessaly::ui::TScriptedDialogs dialogs;
  tessaly::ui::TDialogsGuard guard(&dialogs);
  {
    TfrxDesignerForm form(d.Report);
    form.AddBand(TfrxBandType::ReportSummary);
    form.AddObject(TfrxObjectKind::Text);
    form.reject();
  }
  EXPECT_EQ(TemplateToXml(d.Report.Template()), before);  // cancelled: unchanged

  TfrxDesignerForm form(d.Report);
  form.AddBand(TfrxBandType::ReportSummary);
  const int band = form.SelectedBand();
  ASSERT_GE(band, 0);
  EXPECT_EQ(form.Design().Pages[0].Bands[static_cast<size_t>(band)].Type, TfrxBandType::ReportSummary);
  form.AddObject(TfrxObjectKind::Text);
  TfrxComponent* c = form.Design().Pages[0].Bands[static_cast<size_t>(band)].Objects.back().get();
  EXPECT_EQ(c->Name, "Memo1");
  EXPECT_EQ(static_cast<TfrxMemoView*>(c)->Font.Family, "Arial");
  EXPECT_DOUBLE_EQ(static_cast<TfrxMemoView*>(c)->Font.Size, 9.75);  // 13 pixels
  SetPropertyValue(*c, "Text", "Fin de liste ([TotalPages#] page)");
  form.MoveSelection(10, 1.5);
  form.ResizeSelection(30, 0);
  EXPECT_DOUBLE_EQ(c->Left, 10);
  EXPECT_DOUBLE_EQ(c->Width, 70);
  EXPECT_THROW(SetPropertyValue(*c, "FontSize", "grand"), EReportError);
  EXPECT_THROW(SetPropertyValue(*c, "HAlign", "milieu"), EReportError);
  EXPECT_EQ(PropertyValue(*c, "FontSize"), "9.75");
  // A band below another object's band, then removed again.
  form.AddObject(TfrxObjectKind::Line);
  form.DeleteSelection();
  EXPECT_EQ(form.Design().Pages[0].Bands[static_cast<size_t>(band)].Objects.size(), 1u);
  form.RefreshPreview();
  EXPECT_EQ(form.LivePreview()->PageCount(), 1);
  EXPECT_TRUE(form.LivePreview()->Pages()[0].Text().contains("Fin de liste (1 page)"));
  form.accept();
  EXPECT_NE(d.Report.FindObject("Memo1"), nullptr);
  EXPECT_TRUE(dialogs.Messages.isEmpty()) << dialogs.Messages.join("; ").toStdString();
  // The designed page keeps its orientation for GetPages(1).
  EXPECT_EQ(d.Report.GetPages(1)->Orientation, TfrxOrientation::Portrait);
}

TEST(Designer, ObjectsAreSelectedMovedAndResizedWithTheMouse) {
  TfrxReport report;
  ASSERT_TRUE(report.LoadFromFile(Sample("Modeles/Rapports/Liste.fr3")));
  TfrxDesignerForm form(report);
  form.show();
  QWidget* canvas = form.findChild<QWidget*>("designerCanvas");
  ASSERT_NE(canvas, nullptr);
  auto mouse = [&](QEvent::Type type, QPointF at) {
    QMouseEvent e(type, at, canvas->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &e);
  };
  // The canvas draws 3 pixels per millimetre; the title band's area starts
  // below the 10 mm margin and its 16-pixel caption, at y = 46.
  TfrxComponent* title = form.Design().FindComponent("Mem_Titre");
  ASSERT_NE(title, nullptr);
  ASSERT_EQ(title->Left, 0);
  mouse(QEvent::MouseButtonPress, QPointF(100, 60));
  EXPECT_EQ(form.SelectedBand(), 0);
  EXPECT_EQ(form.SelectedObject(), 0);
  mouse(QEvent::MouseMove, QPointF(130, 63));
  mouse(QEvent::MouseButtonRelease, QPointF(130, 63));
  EXPECT_DOUBLE_EQ(title->Left, 10);
  EXPECT_DOUBLE_EQ(title->Top, 1);
  // The handle at the bottom-right corner resizes.
  const QPointF corner(30 + (title->Left + title->Width) * 3 - 2, 46 + (title->Top + title->Height) * 3 - 2);
  mouse(QEvent::MouseButtonPress, corner);
  mouse(QEvent::MouseMove, corner + QPointF(-15, 15));
  mouse(QEvent::MouseButtonRelease, corner + QPointF(-15, 15));
  EXPECT_DOUBLE_EQ(title->Width, 185);
  EXPECT_DOUBLE_EQ(title->Height, 15);
  // A click on a band's caption selects the band.
  mouse(QEvent::MouseButtonPress, QPointF(40, 46 + 22 * 3 + 4 + 8));
  mouse(QEvent::MouseButtonRelease, QPointF(40, 46 + 22 * 3 + 4 + 8));
  EXPECT_EQ(form.SelectedBand(), 1);
  EXPECT_EQ(form.SelectedObject(), -1);
  canvas->grab();
}

TEST(RenderTool, WritesPdfAndCsvFromTheCommandLine) {
  QTemporaryDir dir;
  const QString pdf = dir.filePath("devis.pdf"), csv = dir.filePath("devis.csv");
  ToolResult r = RunTool(TESSALY_REPORT_EXE, {"render", Sample("Modeles/Documents/VARIANTE/Variante/Corvanel/Portrait/Prix nets.fr3"),
                                          Sample("jobs/devis/devis.xml"), "--set", "Fournisseurs=false", "--set",
                                          "FinLigne=Délai : 6 semaines", "--pdf", pdf, "--csv", csv, "--utf8"});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Pages: 1"));
  EXPECT_TRUE(PdfStructureOk(pdf));
  const QString text = PdfText(pdf);
  EXPECT_TRUE(text.contains("VARIANTE N° D2023-0042"));
  EXPECT_TRUE(text.contains("Délai : 6 semaines"));
  EXPECT_FALSE(text.contains("Menuiseries du"));
  QFile f(csv);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(QString::fromUtf8(f.readAll()).contains("Porte d'entrée aluminium;900 x 2150 mm;1,6;1;"));

  struct {
    QStringList args;
    int code;
    const char* err;
  } errors[] = {
      {{"render", "/nonexistent.fr3", Sample("jobs/devis/devis.xml")}, 1, "no such template"},
      {{"render", Sample("Modeles/Rapports/Liste.fr3"), "/nonexistent.xml"}, 1, "no such file"},
      {{"render", Sample("jobs/devis/devis.xml"), Sample("jobs/devis/devis.xml")}, 1, "n'est pas un modèle de rapport"},
      {{"render", Sample("Modeles/Rapports/Liste.fr3"), Sample("jobs/export/liste1.xml"), "--set", "Couleur=rouge"},
       1, "Unknown configuration field"},
      {{"render", Sample("Modeles/Rapports/Liste.fr3"), Sample("jobs/export/liste1.xml"), "--set", "Croquis=peut-être"},
       1, "true or false"},
      {{"render", Sample("Modeles/Rapports/Liste.fr3")}, 2, "usage"},
      {{"render", Sample("Modeles/Rapports/Liste.fr3"), Sample("jobs/export/liste1.xml"), "--pdf"}, 2, "usage"},
  };
  for (const auto& e : errors) {
    ToolResult x = RunTool(TESSALY_REPORT_EXE, e.args);
    EXPECT_EQ(x.exitCode, e.code) << e.args.join(' ').toStdString();
    EXPECT_TRUE(x.err.contains(e.err)) << x.err.toStdString();
  }
  // dump-data still works.
  ToolResult dump = RunTool(TESSALY_REPORT_EXE, {"dump-data", Sample("jobs/export/liste1.xml")});
  EXPECT_EQ(dump.exitCode, 0);
  EXPECT_TRUE(dump.out.contains("Template: \"Liste.fr3\""));
}
