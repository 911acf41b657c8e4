#include "ReportPrepared.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPaintDevice>
#include <QPainter>
#include <memory>

namespace tessaly::report {

namespace {

// Text is measured on a reference device so that the layout does not depend
// on the screen; drawing scales the same font to the target device.
constexpr double kRefDpi = 288.0;
constexpr double kRefPxToMm = 25.4 / kRefDpi;

// Both live until the process ends: font objects must not be destroyed
// after the application object during static destruction.
QImage& RefDevice() {
  static QImage* img = [] {
    auto* i = new QImage(4, 4, QImage::Format_ARGB32_Premultiplied);
    const int dpm = static_cast<int>(kRefDpi / 0.0254 + 0.5);
    i->setDotsPerMeterX(dpm);
    i->setDotsPerMeterY(dpm);
    return i;
  }();
  return *img;
}

const QFontMetricsF& Metrics(const TfrxFont& f) {
  static auto& cache = *new QHash<QString, std::shared_ptr<QFontMetricsF>>;
  const QString key = f.Family + '|' + QString::number(f.Size) + (f.Bold ? 'b' : '-') + (f.Italic ? 'i' : '-') +
                      (f.Underline ? 'u' : '-');
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.insert(key, std::make_shared<QFontMetricsF>(MakeFont(f), &RefDevice()));
  return **it;
}

}  // namespace

QFont MakeFont(const TfrxFont& f) {
  QFont font(f.Family);
  font.setPointSizeF(f.Size);
  font.setBold(f.Bold);
  font.setItalic(f.Italic);
  font.setUnderline(f.Underline);
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setKerning(false);
  return font;
}

double TextWidthMm(const TfrxFont& f, const QString& text) { return Metrics(f).horizontalAdvance(text) * kRefPxToMm; }

double LineHeightMm(const TfrxFont& f) { return Metrics(f).lineSpacing() * kRefPxToMm; }

QStringList WrapText(const TfrxFont& f, const QString& text, double widthMm, bool wordWrap) {
  QStringList lines;
  const QStringList paragraphs = text.split('\n');
  for (const QString& para : paragraphs) {
    if (!wordWrap || widthMm <= 0 || TextWidthMm(f, para) <= widthMm) {
      lines << para;
      continue;
    }
    QString current;
    const QStringList words = para.split(' ');
    for (qsizetype w = 0; w < words.size(); ++w) {
      QString word = words[w];
      QString candidate = current.isEmpty() ? word : current + ' ' + word;
      if (TextWidthMm(f, candidate) <= widthMm) {
        current = candidate;
        continue;
      }
      if (!current.isEmpty()) {
        lines << current;
        current.clear();
      }
      // A word wider than the line is broken where it overflows.
      while (!word.isEmpty() && TextWidthMm(f, word) > widthMm) {
        qsizetype n = 1;
        while (n < word.size() && TextWidthMm(f, word.left(n + 1)) <= widthMm) ++n;
        lines << word.left(n);
        word = word.mid(n);
      }
      current = word;
    }
    lines << current;
  }
  return lines;
}

QString TfrxPreparedPage::Text() const {
  QString s;
  for (const auto& it : Items)
    if (it.Kind == TfrxObjectKind::Text) s += it.Lines.join('\n') + '\n';
  return s;
}

namespace {

void DrawFrame(QPainter& p, const QRectF& r, const TfrxFrame& fr, double k) {
  if (!fr.Any()) return;
  QPen pen(fr.Color);
  pen.setWidthF(std::max(fr.Width * k, 0.5));
  pen.setCapStyle(Qt::SquareCap);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  QRectF d(r.left() * k, r.top() * k, r.width() * k, r.height() * k);
  if (fr.Left) p.drawLine(d.topLeft(), d.bottomLeft());
  if (fr.Top) p.drawLine(d.topLeft(), d.topRight());
  if (fr.Right) p.drawLine(d.topRight(), d.bottomRight());
  if (fr.Bottom) p.drawLine(d.bottomLeft(), d.bottomRight());
}

QRectF Scaled(const QRectF& r, double k) { return QRectF(r.left() * k, r.top() * k, r.width() * k, r.height() * k); }

}  // namespace

void RenderPage(const TfrxPreparedPage& page, QPainter& p, double k) {
  const double dpiY = p.device() ? p.device()->logicalDpiY() : 96.0;
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  for (const auto& it : page.Items) {
    switch (it.Kind) {
      case TfrxObjectKind::Text: {
        if (it.Fill.isValid()) p.fillRect(Scaled(it.Rect, k), it.Fill);
        if (!it.Lines.isEmpty()) {
          QFont font = MakeFont(it.Font);
          // Point size that gives the template's size in millimetres on this device.
          font.setPointSizeF(std::max(it.Font.Size * k * 25.4 / dpiY, 0.1));
          p.setFont(font);
          p.setPen(it.Font.Color);
          const QFontMetricsF& m = Metrics(it.Font);
          const double lineH = m.lineSpacing() * kRefPxToMm;
          const double ascent = m.ascent() * kRefPxToMm;
          const double textH = lineH * it.Lines.size();
          const QRectF inner = it.Rect.adjusted(it.Padding, it.Padding, -it.Padding, -it.Padding);
          double y = inner.top();
          if (it.VAlign == TVAlign::Center) y += (inner.height() - textH) / 2;
          else if (it.VAlign == TVAlign::Bottom) y += inner.height() - textH;
          const bool clip = textH > inner.height() + 0.01 || y < inner.top();
          if (clip) {
            p.save();
            p.setClipRect(Scaled(it.Rect, k));
          }
          for (const QString& line : it.Lines) {
            double x = inner.left();
            if (it.HAlign == THAlign::Center || it.HAlign == THAlign::Right) {
              double w = m.horizontalAdvance(line) * kRefPxToMm;
              x += it.HAlign == THAlign::Center ? (inner.width() - w) / 2 : inner.width() - w;
            }
            p.drawText(QPointF(x * k, (y + ascent) * k), line);
            y += lineH;
          }
          if (clip) p.restore();
        }
        DrawFrame(p, it.Rect, it.Frame, k);
        break;
      }
      case TfrxObjectKind::Picture:
        if (!it.Image.isNull()) p.drawImage(Scaled(it.ImageRect, k), it.Image);
        DrawFrame(p, it.Rect, it.Frame, k);
        break;
      case TfrxObjectKind::Line: {
        QPen pen(it.Color);
        pen.setWidthF(std::max(it.PenWidth * k, 0.5));
        p.setPen(pen);
        p.drawLine(QPointF(it.Rect.left() * k, it.Rect.top() * k), QPointF(it.Rect.right() * k, it.Rect.bottom() * k));
        break;
      }
      case TfrxObjectKind::Rect: {
        QPen pen(it.Color);
        pen.setWidthF(std::max(it.PenWidth * k, 0.5));
        p.setPen(it.Color.isValid() ? pen : QPen(Qt::NoPen));
        p.setBrush(it.Fill.isValid() ? QBrush(it.Fill) : QBrush(Qt::NoBrush));
        p.drawRect(Scaled(it.Rect, k));
        break;
      }
    }
  }
  p.restore();
}

QImage RenderPageImage(const TfrxPreparedPage& page, int widthPixels) {
  const double k = widthPixels / page.Width;
  QImage img(widthPixels, std::max(1, static_cast<int>(page.Height * k + 0.5)), QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::white);
  QPainter p(&img);
  RenderPage(page, p, k);
  return img;
}

}  // namespace tessaly::report
