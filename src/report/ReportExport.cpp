#include "ReportExport.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QStringConverter>
#include <QUrl>

#include "ui/Dialogs.h"

namespace tessaly::report {

namespace {

TFileOpener& FileOpener() {
  static TFileOpener opener;
  return opener;
}

void OpenWrittenFile(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (FileOpener()) FileOpener()(absolute);
  else QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
}

// A path the filter can write: it names a file (not a folder) inside a
// folder that exists.
void CheckTarget(const QString& path) {
  const QFileInfo info(path);
  if (info.fileName().isEmpty() || info.isDir())
    throw EReportError(QStringLiteral("Le chemin d'export \"%1\" ne nomme aucun fichier").arg(path));
  if (!info.absoluteDir().exists())
    throw EReportError(QStringLiteral("Le dossier du chemin d'export \"%1\" n'existe pas").arg(path));
}

// Writes `bytes` under a temporary name in the target folder, flushes it
// and renames it over `path` only when complete.
void WriteComplete(const QString& path, const QByteArray& bytes) {
  QSaveFile f(path);
  f.setDirectWriteFallback(false);
  // Unbuffered, so that a short write (disk full, file size limit) shows
  // in write()'s count: a buffered write would be flushed by commit(),
  // which renames a truncated file into place without reporting it.
  if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    throw EReportError(QStringLiteral("Le fichier \"%1\" ne peut pas être écrit : %2").arg(path, f.errorString()));
  if (f.write(bytes) != bytes.size()) {
    const QString why = f.errorString();
    f.cancelWriting();
    throw EReportError(QStringLiteral("Le fichier \"%1\" ne peut pas être écrit : %2").arg(path, why));
  }
  if (!f.commit()) throw EReportError(QStringLiteral("Le fichier \"%1\" ne peut pas être écrit : %2").arg(path, f.errorString()));
}

}  // namespace

void SetFileOpener(TFileOpener opener) { FileOpener() = std::move(opener); }

bool TfrxCustomExportFilter::Run(TfrxReport& report) {
  QString path = FileName;
  if (!path.isEmpty() && QFileInfo(path).isRelative() && !DefaultPath.isEmpty())
    path = QDir(DefaultPath).filePath(path);
  if (ShowDialog) {
    QString suggested = path;
    if (suggested.isEmpty()) {
      QString base = QFileInfo(report.FileName()).completeBaseName();
      if (base.isEmpty()) base = QStringLiteral("rapport");
      suggested = QDir(DefaultPath.isEmpty() ? QDir::currentPath() : DefaultPath)
                      .filePath(base + '.' + DefaultExtension());
    }
    path = tessaly::ui::Dialogs().SaveFile(DialogParent, DialogCaption(), suggested, DialogFilter());
    if (path.isEmpty()) return false;  // cancelled: nothing is written
  } else if (path.isEmpty()) {
    // No dialog and no file name: the target is the default folder alone.
    QString folder = DefaultPath;
    if (!folder.isEmpty() && !folder.endsWith('/')) folder += '/';
    throw EReportError(QStringLiteral("Le chemin d'export \"%1\" ne nomme aucun fichier").arg(folder));
  }
  CheckTarget(path);
  Write(report, path);
  FLastPath = path;
  if (OpenAfterExport) OpenWrittenFile(path);
  return true;
}

TfrxPDFExport::TfrxPDFExport() { FileName = QStringLiteral("test.pdf"); }

namespace {

void WritePdf(const TfrxReport& report, const TfrxPDFExport& s, QIODevice* device) {
  QPdfWriter writer(device);
  writer.setResolution(s.Resolution);
  writer.setCreator(s.Creator);
  writer.setTitle(s.Title.isEmpty() ? report.Template().Title : s.Title);
  writer.setPdfVersion(s.PDFVersion == QLatin1String("1.4") ? QPagedPaintDevice::PdfVersion_1_4
                                                             : QPagedPaintDevice::PdfVersion_1_6);
  const auto& pages = report.PreparedPages();
  auto layoutFor = [](const TfrxPreparedPage& p) {
    // The page size is given in portrait terms with the orientation apart,
    // so viewers report the orientation the template asks for.
    const bool landscape = p.Width > p.Height;
    QSizeF portrait = landscape ? QSizeF(p.Height, p.Width) : QSizeF(p.Width, p.Height);
    return QPageLayout(QPageSize(portrait, QPageSize::Millimeter), landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                       QMarginsF(0, 0, 0, 0));
  };
  if (!pages.empty()) writer.setPageLayout(layoutFor(pages.front()));
  QPainter painter;
  if (!painter.begin(&writer)) throw EReportError(QStringLiteral("Le fichier PDF ne peut pas être créé"));
  const double k = s.Resolution / 25.4;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (i > 0) {
      writer.setPageLayout(layoutFor(pages[i]));
      writer.newPage();
    }
    RenderPage(pages[i], painter, k);
  }
  painter.end();
}

// A PDF text string: literal when plain ASCII, else UTF-16BE in hex.
QByteArray PdfString(const QString& s) {
  bool ascii = true;
  for (QChar c : s)
    if (c.unicode() < 32 || c.unicode() > 126) ascii = false;
  if (ascii) {
    QByteArray out = "(";
    for (QChar c : s) {
      if (c == '(' || c == ')' || c == '\\') out += '\\';
      out += static_cast<char>(c.unicode());
    }
    return out + ')';
  }
  QByteArray out = "<FEFF";
  for (QChar c : s) out += QByteArray::number(c.unicode() + 0x10000, 16).mid(1).toUpper();
  return out + '>';
}

// The PDF writer has no author or subject; add them to the document
// information dictionary and shift the cross-reference offsets that follow.
// Anything unexpected leaves the file as written.
QByteArray AddInfoEntries(QByteArray pdf, const QString& author, const QString& subject) {
  const qsizetype at = pdf.indexOf("/Producer ");
  const qsizetype xref = pdf.lastIndexOf("\nxref\n");
  const qsizetype start = pdf.lastIndexOf("startxref\n");
  if (at < 0 || xref < at || start < xref) return pdf;
  QByteArray insert;
  if (!author.isEmpty()) insert += "/Author " + PdfString(author) + '\n';
  if (!subject.isEmpty()) insert += "/Subject " + PdfString(subject) + '\n';
  const qsizetype delta = insert.size();
  if (delta == 0) return pdf;
  // Cross-reference table: "0 N" then N entries of 20 bytes.
  qsizetype pos = xref + 6;
  qsizetype eol = pdf.indexOf('\n', pos);
  if (eol < 0) return pdf;
  const QList<QByteArray> head = pdf.mid(pos, eol - pos).trimmed().split(' ');
  if (head.size() != 2) return pdf;
  bool ok = false;
  const int count = head[1].toInt(&ok);
  if (!ok || count < 0) return pdf;
  pos = eol + 1;
  if (pos + qsizetype(count) * 20 > start) return pdf;
  for (int i = 0; i < count; ++i, pos += 20) {
    const qsizetype off = pdf.mid(pos, 10).toLongLong(&ok);
    if (!ok) return pdf;
    if (pdf.at(pos + 17) == 'n' && off > at)
      pdf.replace(pos, 10, QByteArray::number(off + delta).rightJustified(10, '0'));
  }
  const qsizetype numStart = start + 10;
  const qsizetype numEnd = pdf.indexOf('\n', numStart);
  if (numEnd < 0) return pdf;
  const qsizetype startxref = pdf.mid(numStart, numEnd - numStart).trimmed().toLongLong(&ok);
  if (!ok) return pdf;
  pdf.replace(numStart, numEnd - numStart, QByteArray::number(startxref + delta));
  pdf.insert(at, insert);
  return pdf;
}

}  // namespace

QByteArray PdfBytes(const TfrxReport& report, const TfrxPDFExport& settings) {
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    WritePdf(report, settings, &buffer);
  }
  return AddInfoEntries(bytes, settings.Author, settings.Subject);
}

void TfrxPDFExport::Write(TfrxReport& report, const QString& path) { WriteComplete(path, PdfBytes(report, *this)); }

// The 8-bit form spreadsheets on the users' machines read: Windows-1252,
// which is ISO-8859-1 plus typographic signs (euro, dashes, quotes) in
// 0x80-0x9F. Thin and narrow spaces (French digit grouping) become
// non-breaking spaces; anything else outside the set becomes '?'.
QByteArray ToWindows1252(const QString& text) {
  static const ushort kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                   0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  QByteArray out;
  out.reserve(text.size());
  for (QChar ch : text) {
    ushort u = ch.unicode();
    if (u == 0x202F || u == 0x2009) u = 0xA0;
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      out += static_cast<char>(u);
      continue;
    }
    char c = '?';
    for (int i = 0; i < 32; ++i)
      if (kHigh[i] == u) c = static_cast<char>(0x80 + i);
    out += c;
  }
  return out;
}

QByteArray TfrxCSVExport::Content(const TfrxReport& report) const {
  QString text;
  const auto& pages = report.PreparedPages();
  const auto& tpages = report.Template().Pages;
  for (const auto& page : pages) {
    const bool dataOnly = DataOnly || (page.SourcePage >= 0 && static_cast<size_t>(page.SourcePage) < tpages.size() &&
                                       tpages[static_cast<size_t>(page.SourcePage)].DataOnly);
    for (const auto& row : page.Rows) {
      if (dataOnly && row.BandType != TfrxBandType::MasterData && row.BandType != TfrxBandType::DetailData) continue;
      QStringList cells;
      for (QString c : row.Cells) {
        if (NoSysSymbols) {
          QString clean;
          clean.reserve(c.size());
          for (QChar ch : c) clean += ch.unicode() < 32 ? QChar(' ') : ch;
          c = clean;
        }
        if (ForcedQuotes || c.contains(Separator) || c.contains('"') || c.contains('\n'))
          c = '"' + QString(c).replace('"', QLatin1String("\"\"")) + '"';
        cells << c;
      }
      text += cells.join(Separator) + QLatin1String("\r\n");
    }
  }
  if (UTF8) return text.toUtf8();
  return ToWindows1252(text);
}

void TfrxCSVExport::Write(TfrxReport& report, const QString& path) { WriteComplete(path, Content(report)); }

}  // namespace tessaly::report
