// Report engine: prepare and export to PDF a 200-line document with a
// sketch on every line, on the sample "Prix nets" template. Reports pages
// per second. Peer measured in the same run: Qt's own rich-text printing of
// the same content (an HTML table with the same pictures) to a PDF writer.
//
// Print manager: its set-up on the sample quote (data load, settings read
// from a settings database, template load, title list, template tree and
// first preparation), against `tessaly-report render` of the same document
// to PDF, in the same run; the ratio set-up / render should stay at or
// below 1.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextStream>
#include <cstdio>
#include <map>

#include "BenchMedians.h"
#include "FicheImpression.h"
#include "Installation.h"
#include "MemTable.h"
#include "Render.h"
#include "settings/DataModuleSdb.h"
#include "Report.h"
#include "ReportDataset.h"
#include "ReportExport.h"

using namespace tessaly;
using namespace tessaly::report;

namespace {

constexpr int kLines = 200;

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

struct Document {
  TMemTable Header{"header"}, Lines{"ligne"}, Descriptions{"ligne_description"}, Config{"configuration"};
  TReportDataset DsHeader{"Données du dossier", &Header};
  TReportDataset DsLines{"Données des lignes produits", &Lines};
  TReportDataset DsDescriptions{"Description des lignes produits", &Descriptions};
  TReportDataset DsConfig{"Données de la configuration", &Config};
  TfrxReport Report;
  QByteArray Sketches[3];

  Document() {
    for (int i = 0; i < 3; ++i) Sketches[i] = ReadFile(QStringLiteral(TESSALY_SAMPLES "/jobs/devis/croquis%1.png").arg(i + 1));
    Header.AddFieldDef("numero", TFieldType::String, 20);
    Header.AddFieldDef("totalHT", TFieldType::Float);
    Header.CreateDataSet();
    Header.Append();
    Header.FieldByName("numero").SetAsString("D2023-0042");
    Header.FieldByName("totalHT").SetAsFloat(123456.78);
    Header.Post();
    DsHeader.AddFieldAlias("numero", "Numéro");
    DsHeader.AddFieldAlias("totalHT", "Total HT");
    Lines.AddFieldDef("Id", TFieldType::Integer);
    Lines.AddFieldDef("Modele", TFieldType::String, 100);
    Lines.AddFieldDef("Quantite", TFieldType::Integer);
    Lines.AddFieldDef("Largeur", TFieldType::Integer);
    Lines.AddFieldDef("Hauteur", TFieldType::Integer);
    Lines.AddFieldDef("PrixUnitaire", TFieldType::Float);
    Lines.AddFieldDef("Uw", TFieldType::Float);
    Lines.AddFieldDef("Fournisseur", TFieldType::String, 60);
    Lines.AddFieldDef("croquis", TFieldType::Graphic);
    Lines.CreateDataSet();
    Lines.SetIndexFieldNames("Id");
    for (int i = 1; i <= kLines; ++i) {
      Lines.Append();
      Lines.FieldByName("Id").SetAsInteger(i);
      Lines.FieldByName("Modele").SetAsString(QStringLiteral("Fenêtre deux vantaux PVC, modèle %1").arg(i));
      Lines.FieldByName("Quantite").SetAsInteger(1 + i % 4);
      Lines.FieldByName("Largeur").SetAsInteger(800 + i);
      Lines.FieldByName("Hauteur").SetAsInteger(1000 + i);
      Lines.FieldByName("PrixUnitaire").SetAsFloat(500 + i * 1.25);
      Lines.FieldByName("Uw").SetAsFloat(1.3);
      Lines.FieldByName("Fournisseur").SetAsString("Menuiseries du Rhône");
      Lines.FieldByName("croquis").SetAsBytes(Sketches[i % 3]);
      Lines.Post();
    }
    for (auto [f, a] : {std::pair{"Modele", "Modèle"}, {"Quantite", "Quantité"}, {"PrixUnitaire", "Prix unitaire"},
                        {"croquis", "Croquis"}})
      DsLines.AddFieldAlias(f, QString::fromUtf8(a));
    Descriptions.AddFieldDef("IdLigne", TFieldType::Integer);
    Descriptions.AddFieldDef("texte", TFieldType::String, 100);
    Descriptions.CreateDataSet();
    Descriptions.SetMasterSource(&Lines);
    Descriptions.SetIndexFieldNames("IdLigne");
    Descriptions.SetMasterFields("Id");
    DsDescriptions.AddFieldAlias("texte", "Texte");
    for (const char* b : {"Croquis", "Dimensions", "Fournisseurs"}) {
      Config.AddFieldDef(b, TFieldType::Boolean);
      DsConfig.AddFieldAlias(b, b);
    }
    Config.CreateDataSet();
    Config.Append();
    for (const char* b : {"Croquis", "Dimensions", "Fournisseurs"}) Config.FieldByName(b).SetAsBoolean(true);
    Config.Post();
    for (TReportDataset* d : {&DsHeader, &DsLines, &DsDescriptions, &DsConfig}) Report.AddDataset(d);
    Report.SetLocale(QLocale(QLocale::French, QLocale::France));
    Report.LoadFromFile(TESSALY_SAMPLES "/Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3");
  }
};

Document& Doc() {
  static Document d;
  return d;
}

void BM_Report_PrepareAndExportPdf(benchmark::State& state) {
  Document& d = Doc();
  TfrxPDFExport pdf;
  size_t pages = 0, bytes = 0;
  for (auto _ : state) {
    d.Report.PrepareReport(true);
    QByteArray out = PdfBytes(d.Report, pdf);
    pages += d.Report.PreparedPages().size();
    bytes = static_cast<size_t>(out.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
  state.counters["pages"] = static_cast<double>(d.Report.PreparedPages().size());
  state.counters["pdf_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Report_PrepareAndExportPdf)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Report_PrepareOnly(benchmark::State& state) {
  Document& d = Doc();
  for (auto _ : state) {
    d.Report.PrepareReport(true);
    benchmark::DoNotOptimize(d.Report.PreparedPages().data());
  }
}
BENCHMARK(BM_Report_PrepareOnly)->Unit(benchmark::kMillisecond);

// Peer: the same 200 rows with their pictures as a QTextDocument table,
// laid out and printed to PDF by Qt.
void BM_Peer_QTextDocumentPdf(benchmark::State& state) {
  Document& d = Doc();
  QTextDocument doc;
  for (int i = 0; i < 3; ++i) {
    QImage img = QImage::fromData(d.Sketches[i]);
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("croquis%1").arg(i)), img);
  }
  QString html = "<h2>DEVIS N° D2023-0042</h2><table width='100%' cellspacing='0' cellpadding='2'>";
  for (int i = 1; i <= kLines; ++i)
    html += QStringLiteral("<tr><td><img src='croquis%1' width='90' height='100'></td><td><b>Fenêtre deux vantaux PVC, "
                           "modèle %2</b></td><td>%3 x %4 mm</td><td>Menuiseries du Rhône</td><td>1,3</td><td>%5</td>"
                           "<td>%6 €</td></tr>")
                .arg(i % 3)
                .arg(i)
                .arg(800 + i)
                .arg(1000 + i)
                .arg(1 + i % 4)
                .arg(500 + i * 1.25);
  html += "</table>";
  size_t pages = 0;
  for (auto _ : state) {
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buf);
    writer.setPageSize(QPageSize(QPageSize::A4));
    doc.setHtml(html);
    doc.print(&writer);
    pages += static_cast<size_t>(doc.pageCount());
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Peer_QTextDocumentPdf)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// ---- print manager set-up against the render tool

// An installation in a temporary folder: Tessaly.ini, the sample templates,
// a settings database with a remembered printer and a print configuration.
struct Installation {
  QTemporaryDir Dir;
  QString App, Data, Template;
  TDataModuleSdb Store;
  QStringList Droits{QStringLiteral("Impression_Configuration")}, Pieces;

  Installation() {
    App = Dir.path() + QStringLiteral("/app");
    QDirIterator it(TESSALY_SAMPLES "/Modeles", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      it.next();
      const QString target = App + QStringLiteral("/Modeles/") + QDir(TESSALY_SAMPLES "/Modeles").relativeFilePath(it.filePath());
      QDir().mkpath(QFileInfo(target).absolutePath());
      QFile::copy(it.filePath(), target);
    }
    QFile::copy(TESSALY_SAMPLES "/Tessaly.ini", App + QStringLiteral("/Tessaly.ini"));
    Data = TESSALY_SAMPLES "/jobs/devis/devis.xml";
    Template = App + QStringLiteral("/Modeles/Documents/DEVIS/Devis/Corvanel/Portrait/Prix nets.fr3");
    const QString sdb = App + QStringLiteral("/Tessaly.sdb");
    if (QProcess::execute(QStringLiteral(TESSDB_TOOL), {QStringLiteral("settings-init"), sdb}) != 0)
      std::fprintf(stderr, "bench: settings-init failed\n");
    Store.OuvertureBDD(sdb.toStdString());
    Store.EcritureChaine("01", "U01", "Impression", "DerniereImprimante", "Laser");
    Store.EcritureChaine("01", "U01", "DEVIS", "CGV", "Article 1%Article 2");
    Store.EcritureChaine("01", "U01", "DEVIS", "DebutLigne", "Début des lignes");
    Store.EcritureChaine("01", "U01", "DEVIS", "FinLigne", "Fin des lignes");
    Store.FermetureBDD();
    SetDataModuleSdb(&Store);
    SetDossierApplication(App);
    TFicheImpression::SetPrinterSource([] { return QStringList{QStringLiteral("Laser")}; });
  }
};

Installation& Install() {
  static Installation i;
  return i;
}

void BM_PrintManager_SetUp(benchmark::State& state) {
  Installation& in = Install();
  size_t pages = 0;
  for (auto _ : state) {
    TFicheImpression w;
    w.SetModeImpression(kModeDocument);
    w.SetAgence(QStringLiteral("01"));
    w.SetUtilisateur(QStringLiteral("U01"));
    w.SetDroits(&in.Droits);
    w.SetPiecesJointes(&in.Pieces);
    w.SetFichierXml(in.Data);
    w.FormActivate();
    if (w.Report().FileName() != in.Template) state.SkipWithError("the set-up did not load the default template");
    pages = w.Report().PreparedPages().size();
  }
  state.counters["pages"] = static_cast<double>(pages);
}
BENCHMARK(BM_PrintManager_SetUp)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);

void BM_Render_SampleQuotePdf(benchmark::State& state) {
  Installation& in = Install();
  TRenderOptions o;
  o.TemplatePath = in.Template;
  o.DataPath = in.Data;
  o.PdfPath = in.Dir.path() + QStringLiteral("/devis.pdf");
  QString outText, errText;
  for (auto _ : state) {
    QTextStream out(&outText), err(&errText);
    if (Render(o, out, err) != 0) state.SkipWithError("render failed");
    outText.clear();
  }
}
BENCHMARK(BM_Render_SampleQuotePdf)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);


}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The sample data is French (decimal comma, dd/MM/yyyy).
  qputenv("LC_ALL", "fr_FR.UTF-8");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  TMedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto a = reporter.Times.find("BM_PrintManager_SetUp"), b = reporter.Times.find("BM_Render_SampleQuotePdf");
  if (a != reporter.Times.end() && b != reporter.Times.end() && b->second > 0)
    std::printf("ratio print manager set-up / render to PDF (medians) = %.2f (goal: at most 1)\n", a->second / b->second);
  benchmark::Shutdown();
  return 0;
}
