// Prepared pages: what a prepared report holds once bands are laid out and
// expressions evaluated — positioned items in millimetres, plus the text
// rows of the printed bands for the CSV export. Drawing a prepared page on
// any paint device (screen, PDF, printer) is one function.
#pragma once

#include <QImage>
#include <QRectF>
#include <QStringList>
#include <vector>

#include "ReportModel.h"

class QPainter;

namespace tessaly::report {

struct TfrxPreparedItem {
  TfrxObjectKind Kind = TfrxObjectKind::Text;
  QString Name;   // the template object it comes from
  QRectF Rect;    // millimetres, page coordinates
  // Text
  QStringList Lines;  // wrapped lines
  TfrxFont Font;
  THAlign HAlign = THAlign::Left;
  TVAlign VAlign = TVAlign::Top;
  double Padding = 0;
  QColor Fill;
  TfrxFrame Frame;
  // Picture: the image (null when missing) and where it goes inside Rect.
  QImage Image;
  QRectF ImageRect;
  // Line and rectangle
  double PenWidth = 0.2;
  QColor Color = Qt::black;
};

struct TfrxPreparedRow {
  TfrxBandType BandType = TfrxBandType::MasterData;
  QStringList Cells;
};

struct TfrxPreparedPage {
  double Width = 210, Height = 297;  // millimetres
  TfrxOrientation Orientation = TfrxOrientation::Portrait;
  int SourcePage = 0;  // index of the template page it was prepared from
  std::vector<TfrxPreparedItem> Items;
  std::vector<TfrxPreparedRow> Rows;
  // All the text of the page, for searching.
  QString Text() const;
};

// Draws a page with its top-left corner at the painter's origin;
// `pixelsPerMm` converts millimetres to device pixels.
void RenderPage(const TfrxPreparedPage& page, QPainter& painter, double pixelsPerMm);
// The page as an image of the given width in pixels (white background).
QImage RenderPageImage(const TfrxPreparedPage& page, int widthPixels);

// Text measurement shared by the layout and the drawing.
QFont MakeFont(const TfrxFont& f);
// Width of a text and height of one line, in millimetres.
double TextWidthMm(const TfrxFont& f, const QString& text);
double LineHeightMm(const TfrxFont& f);
// Splits a text into the lines drawn in `widthMm` (paragraphs at line feeds,
// word wrap at blanks, long words broken).
QStringList WrapText(const TfrxFont& f, const QString& text, double widthMm, bool wordWrap);

}  // namespace tessaly::report
