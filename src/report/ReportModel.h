// Template model of the report engine: a report holds pages, a page holds
// bands, a band holds objects (text, picture, line, rectangle). Positions
// and sizes are in millimetres; an object's position is relative to its
// band. The model is plain data: loading, saving, preparing and drawing
// live in their own files.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tessaly::report {

// Errors of the report engine (unreadable template, export failures,
// printer problems). The message is user-facing.
class EReportError : public std::runtime_error {
 public:
  explicit EReportError(const QString& message)
      : std::runtime_error(message.toStdString()), FMessage(message) {}
  const QString& Message() const noexcept { return FMessage; }

 private:
  QString FMessage;
};

struct TfrxFont {
  QString Family = QStringLiteral("Arial");
  double Size = 9.75;  // points; 13 pixels at 96 dpi
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  QColor Color = Qt::black;
  bool operator==(const TfrxFont&) const = default;
};

// Which sides of an object's rectangle get a line, and how it looks.
struct TfrxFrame {
  bool Left = false, Top = false, Right = false, Bottom = false;
  double Width = 0.2;  // millimetres
  QColor Color = Qt::black;
  bool Any() const { return Left || Top || Right || Bottom; }
  bool operator==(const TfrxFrame&) const = default;
};

enum class THAlign { Left, Center, Right, Justify };
enum class TVAlign { Top, Center, Bottom };

enum class TfrxObjectKind { Text, Picture, Line, Rect };

class TfrxComponent {
 public:
  virtual ~TfrxComponent() = default;
  virtual TfrxObjectKind Kind() const = 0;
  virtual std::unique_ptr<TfrxComponent> Clone() const = 0;

  QString Name;
  bool Visible = true;
  // Optional condition ("[Dataset."Alias"]", "not [...]", "[...] <> -1");
  // the object prints only when it holds. Empty: always.
  QString VisibleIf;
  double Left = 0, Top = 0, Width = 0, Height = 0;
};

// Text with embedded expressions in square brackets.
class TfrxMemoView : public TfrxComponent {
 public:
  TfrxObjectKind Kind() const override { return TfrxObjectKind::Text; }
  std::unique_ptr<TfrxComponent> Clone() const override { return std::make_unique<TfrxMemoView>(*this); }

  QString Text;
  TfrxFont Font;
  THAlign HAlign = THAlign::Left;
  TVAlign VAlign = TVAlign::Top;
  bool WordWrap = true;
  bool Stretch = false;  // grows downwards to show all its text
  TfrxFrame Frame;
  QColor Fill;  // invalid: transparent
  QString Format;  // default display format of its expressions ("N2", "D", ...)
  double Padding = 0.5;  // millimetres between the frame and the text
};

// A picture from a dataset field (an expression naming a picture field) or
// from a file; scaled to its frame, proportionally by default.
class TfrxPictureView : public TfrxComponent {
 public:
  TfrxObjectKind Kind() const override { return TfrxObjectKind::Picture; }
  std::unique_ptr<TfrxComponent> Clone() const override { return std::make_unique<TfrxPictureView>(*this); }

  QString DataField;  // e.g. [Données des lignes produits."Croquis"]
  QString FileName;   // used when DataField is empty
  bool KeepAspectRatio = true;
  bool Center = true;
  TfrxFrame Frame;
};

// A line from (Left, Top) to (Left + Width, Top + Height).
class TfrxLineView : public TfrxComponent {
 public:
  TfrxObjectKind Kind() const override { return TfrxObjectKind::Line; }
  std::unique_ptr<TfrxComponent> Clone() const override { return std::make_unique<TfrxLineView>(*this); }

  double PenWidth = 0.2;  // millimetres
  QColor Color = Qt::black;
};

class TfrxShapeView : public TfrxComponent {
 public:
  TfrxObjectKind Kind() const override { return TfrxObjectKind::Rect; }
  std::unique_ptr<TfrxComponent> Clone() const override { return std::make_unique<TfrxShapeView>(*this); }

  double PenWidth = 0.2;
  QColor Color = Qt::black;
  QColor Fill;  // invalid: not filled
};

enum class TfrxBandType { ReportTitle, PageHeader, GroupHeader, MasterData, DetailData, GroupFooter, PageFooter, ReportSummary };

QString BandTypeName(TfrxBandType type);
bool BandTypeFromName(const QString& name, TfrxBandType* type);

class TfrxBand {
 public:
  TfrxBand() = default;
  TfrxBand(const TfrxBand& other);
  TfrxBand& operator=(const TfrxBand& other);
  TfrxBand(TfrxBand&&) = default;
  TfrxBand& operator=(TfrxBand&&) = default;

  bool IsData() const { return Type == TfrxBandType::MasterData || Type == TfrxBandType::DetailData; }

  QString Name;
  TfrxBandType Type = TfrxBandType::MasterData;
  double Height = 10;
  bool Stretch = false;       // grows to hold its stretched objects
  bool KeepTogether = false;  // a master row stays on one page with its detail rows
  bool Visible = true;
  QString DataSet;  // data bands: user name of the dataset they iterate
  QString Filter;   // data bands: rows printed by this band (condition)
  QString Condition;  // group header: a new group starts when its value changes
  std::vector<std::unique_ptr<TfrxComponent>> Objects;
};

enum class TfrxOrientation { Portrait, Landscape };

class TfrxReportPage {
 public:
  QString Name = QStringLiteral("Page1");
  QString PaperName = QStringLiteral("A4");  // "A4", "A5", "A3", "Letter", "Legal" or "Custom"
  double PaperWidth = 210, PaperHeight = 297;  // portrait dimensions, millimetres
  TfrxOrientation Orientation = TfrxOrientation::Portrait;
  double LeftMargin = 10, TopMargin = 10, RightMargin = 10, BottomMargin = 10;
  // Export option: a CSV export writes only the rows of the data bands.
  bool DataOnly = false;
  std::vector<TfrxBand> Bands;

  // Page size as printed (orientation applied).
  double Width() const { return Orientation == TfrxOrientation::Portrait ? PaperWidth : PaperHeight; }
  double Height() const { return Orientation == TfrxOrientation::Portrait ? PaperHeight : PaperWidth; }
  // Sets the paper by name (known sizes), keeping the orientation.
  void SetPaper(const QString& name);
};

// Known paper sizes in millimetres (portrait); false for an unknown name.
bool PaperSize(const QString& name, double* width, double* height);

// The whole template.
struct TfrxTemplate {
  QString Title;
  QString PrinterName;  // printer named by the template (empty: the default one)
  int Copies = 1;
  QString PageRange;  // "1-3,5"; empty: all pages
  std::vector<TfrxReportPage> Pages;

  // The component so named on any page (objects first), or nullptr.
  TfrxComponent* FindComponent(const QString& name);
  TfrxBand* FindBand(const QString& name);
  int ObjectCount() const;
  // A name not yet used in the template: base followed by the first free number.
  QString UniqueName(const QString& base) const;
  bool NameUsed(const QString& name) const;
};

// The built-in blank report: an A4 page with 10 mm margins, a title band, a
// data band and a footer showing the page number.
TfrxTemplate BlankTemplate();

// Designer defaults used for new pages and objects.
struct TfrxDesignerOptions {
  QString ScriptLanguage = QStringLiteral("PascalScript");
  QString FontName = QStringLiteral("Arial");
  int FontSizePixels = 13;
  double Margin = 10;
  int PaperSize = 9;  // A4
  TfrxOrientation Orientation = TfrxOrientation::Portrait;
  QString Extension = QStringLiteral("fr3");
  bool PageOptionsLocked = true;
  bool AllowLoad = false;
  bool AllowSave = false;
  bool ShowRecentFiles = false;
};

}  // namespace tessaly::report
