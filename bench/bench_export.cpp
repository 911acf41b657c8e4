// Batch export: N one-page documents (the sample report list with its
// sample data file) rendered to N PDF files.
//   BM_ExporterProcess/N: ONE `tessaly PARAMS EXPORTER` process, unattended
//     and offscreen, whose export list holds the N entries. Its time includes
//     the process start, the start-up window's 100 ms timer and the
//     exporter's 1000 ms timer before the batch begins (N = 0 measures that
//     fixed part alone), then per entry: template load, data file load,
//     settings database open/read/close, preparation and PDF export.
//   BM_RenderProcesses/N (peer, same run): N separate
//     `tessaly-report render TEMPLATE DATA --set ... --pdf OUT` processes,
//     one per entry, run one after the other: each pays the process start,
//     the template and data load, the preparation and the PDF export.
// Both sides write into the same kind of temporary folder and check that
// every PDF appeared. At the end the program prints, for N = 10 and 100,
// the cost per entry of each side, their ratio (goal: exporter / render
// <= 0.5) and the exporter's cost per entry once its fixed part is taken
// off, which shows whether its time grows linearly with N.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <map>

namespace {

const QString kTemplate = QStringLiteral(TESSALY_SAMPLES "/Modeles/Rapports/Liste.fr3");
const QString kData = QStringLiteral(TESSALY_SAMPLES "/jobs/export/liste1.xml");

QProcessEnvironment Environment() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TESSALY_UNATTENDED", "1");
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("LC_ALL", "fr_FR.UTF-8");
  return env;
}

bool Run(const QString& program, const QStringList& args, QString* error) {
  QProcess p;
  p.setProcessEnvironment(Environment());
  p.start(program, args);
  if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    *error = program + " failed: " + QString::fromUtf8(p.readAllStandardError());
    return false;
  }
  return true;
}

// An installation in a temporary folder: a copy of the executable with its
// Tessaly.ini and settings database, and an output folder.
struct Installation {
  QTemporaryDir root;
  QString app, exe, out;
  QString error;

  Installation() {
    app = root.filePath("app") + '/';
    exe = app + "tessaly";
    out = root.filePath("sorties");
    QDir().mkpath(app);
    QDir().mkpath(out);
    QFile::copy(TESSALY_EXE, exe);
    QFile ini(app + "Tessaly.ini");
    ini.open(QIODevice::WriteOnly);
    ini.write("[Database]\nFichier=\n");
    ini.close();
    Run(TESSALY_DB_EXE, {"settings-init", app + "Tessaly.sdb"}, &error);
  }
  void ClearOutput() const {
    QDir dir(out);
    for (const QString& f : dir.entryList(QDir::Files)) dir.remove(f);
  }
  int OutputCount() const { return static_cast<int>(QDir(out).entryList(QDir::Files).size()); }
  QString Output(int i) const { return QDir(out).filePath(QStringLiteral("entree%1.pdf").arg(i)); }
  QString Job(int n) const {
    QString text = QStringLiteral("[Configuration]\nAgence=01\nUtilisateur=U01\n[Export]\nNombre=%1\n").arg(n);
    for (int i = 1; i <= n; ++i)
      text += QStringLiteral("Rapport%1=%2\nXml%1=%3\nExport%1=%4\n").arg(i).arg(kTemplate, kData, Output(i));
    const QString path = root.filePath(QStringLiteral("parametres%1.ini").arg(n));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text.toUtf8());
    return path;
  }
};

Installation& Inst() {
  static Installation inst;
  return inst;
}

// Seconds per run of each side, by N (the last measurement's mean).
std::map<int, double> gExporter, gRender;

void BM_ExporterProcess(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Installation& inst = Inst();
  if (!inst.error.isEmpty()) return state.SkipWithError(inst.error.toStdString().c_str());
  const QString job = inst.Job(n);
  double total = 0;
  int runs = 0;
  for (auto _ : state) {
    inst.ClearOutput();
    QElapsedTimer t;
    t.start();
    QString error;
    if (!Run(inst.exe, {job, "EXPORTER"}, &error)) return state.SkipWithError(error.toStdString().c_str());
    const double s = t.nsecsElapsed() / 1e9;
    state.SetIterationTime(s);
    total += s;
    ++runs;
    if (inst.OutputCount() != n) return state.SkipWithError("the exporter did not write every PDF");
  }
  gExporter[n] = total / runs;
  if (n > 0) state.counters["ms/entry"] = total / runs * 1000 / n;
}
BENCHMARK(BM_ExporterProcess)->Arg(0)->Arg(10)->Arg(100)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_RenderProcesses(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Installation& inst = Inst();
  double total = 0;
  int runs = 0;
  for (auto _ : state) {
    inst.ClearOutput();
    QElapsedTimer t;
    t.start();
    for (int i = 1; i <= n; ++i) {
      QString error;
      if (!Run(TESSALY_REPORT_EXE,
               {"render", kTemplate, kData, "--set", "Croquis=1", "--set", "Dimensions=1", "--set", "Fournisseurs=1",
                "--pdf", inst.Output(i)},
               &error))
        return state.SkipWithError(error.toStdString().c_str());
    }
    const double s = t.nsecsElapsed() / 1e9;
    state.SetIterationTime(s);
    total += s;
    ++runs;
    if (inst.OutputCount() != n) return state.SkipWithError("the render tool did not write every PDF");
  }
  gRender[n] = total / runs;
  state.counters["ms/entry"] = total / runs * 1000 / n;
}
BENCHMARK(BM_RenderProcesses)->Arg(10)->Arg(100)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void Summary() {
  std::printf("\nPer entry (mean of the runs above):\n");
  const double fixed = gExporter.count(0) ? gExporter[0] : 0;
  for (int n : {10, 100}) {
    if (!gExporter.count(n) || !gRender.count(n)) continue;
    const double e = gExporter[n] * 1000 / n, r = gRender[n] * 1000 / n;
    const double marginal = (gExporter[n] - fixed) * 1000 / n;
    std::printf("  N=%3d  exporter %7.1f ms/entry  render processes %7.1f ms/entry  ratio %.2f (goal <= 0.5)\n"
                "         exporter without its fixed %.0f ms: %.1f ms/entry, ratio %.2f\n",
                n, e, r, e / r, fixed * 1000, marginal, marginal / r);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Summary();
  return 0;
}
