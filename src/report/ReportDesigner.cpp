#include "ReportDesigner.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Report.h"
#include "ReportPreview.h"
#include "ui/Dialogs.h"

namespace tessaly::report {

// ---- properties -----------------------------------------------------------

namespace {

[[noreturn]] void BadValue(const QString& name, const QString& value) {
  throw EReportError(QStringLiteral("Valeur incorrecte pour %1 : \"%2\"").arg(name, value));
}

double ToNumber(const QString& name, const QString& value, double min, double max) {
  bool ok = false;
  double v = QString(value).replace(',', '.').trimmed().toDouble(&ok);
  if (!ok || v < min || v > max) BadValue(name, value);
  return v;
}

bool ToBool(const QString& name, const QString& value) {
  QString v = value.trimmed().toLower();
  if (v == QLatin1String("true") || v == QLatin1String("1") || v == QLatin1String("oui")) return true;
  if (v == QLatin1String("false") || v == QLatin1String("0") || v == QLatin1String("non")) return false;
  BadValue(name, value);
}

QColor ToColor(const QString& name, const QString& value, bool allowNone) {
  if (value.trimmed().isEmpty()) {
    if (allowNone) return QColor();
    BadValue(name, value);
  }
  QColor c = QColor::fromString(value.trimmed());
  if (!c.isValid()) BadValue(name, value);
  return c;
}

QString Num(double v) { return QString::number(v, 'g', 10); }
QString BoolText(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }
QString ColorText(const QColor& c) { return c.isValid() ? c.name() : QString(); }

QString FrameText(const TfrxFrame& f) {
  QString s;
  if (f.Left) s += 'L';
  if (f.Top) s += 'T';
  if (f.Right) s += 'R';
  if (f.Bottom) s += 'B';
  return s;
}

void SetFrame(TfrxFrame& f, const QString& name, const QString& value) {
  for (QChar c : value)
    if (!QStringLiteral("LTRBltrb").contains(c)) BadValue(name, value);
  QString v = value.toUpper();
  f.Left = v.contains('L');
  f.Top = v.contains('T');
  f.Right = v.contains('R');
  f.Bottom = v.contains('B');
}

const char* const kHAlign[] = {"left", "center", "right", "justify"};
const char* const kVAlign[] = {"top", "center", "bottom"};

}  // namespace

QStringList PropertyNames(const TfrxComponent& c) {
  QStringList n{"Name", "Visible", "VisibleIf", "Left", "Top", "Width", "Height"};
  switch (c.Kind()) {
    case TfrxObjectKind::Text:
      n << "Text" << "Font" << "FontSize" << "Bold" << "Italic" << "Underline" << "FontColor" << "HAlign" << "VAlign"
        << "WordWrap" << "Stretch" << "Frame" << "FrameWidth" << "Fill" << "Format";
      break;
    case TfrxObjectKind::Picture: n << "DataField" << "FileName" << "KeepAspectRatio" << "Center" << "Frame"; break;
    case TfrxObjectKind::Line: n << "PenWidth" << "Color"; break;
    case TfrxObjectKind::Rect: n << "PenWidth" << "Color" << "Fill"; break;
  }
  return n;
}

QString PropertyValue(const TfrxComponent& c, const QString& name) {
  if (name == QLatin1String("Name")) return c.Name;
  if (name == QLatin1String("Visible")) return BoolText(c.Visible);
  if (name == QLatin1String("VisibleIf")) return c.VisibleIf;
  if (name == QLatin1String("Left")) return Num(c.Left);
  if (name == QLatin1String("Top")) return Num(c.Top);
  if (name == QLatin1String("Width")) return Num(c.Width);
  if (name == QLatin1String("Height")) return Num(c.Height);
  if (c.Kind() == TfrxObjectKind::Text) {
    const auto& m = static_cast<const TfrxMemoView&>(c);
    if (name == QLatin1String("Text")) return m.Text;
    if (name == QLatin1String("Font")) return m.Font.Family;
    if (name == QLatin1String("FontSize")) return Num(m.Font.Size);
    if (name == QLatin1String("Bold")) return BoolText(m.Font.Bold);
    if (name == QLatin1String("Italic")) return BoolText(m.Font.Italic);
    if (name == QLatin1String("Underline")) return BoolText(m.Font.Underline);
    if (name == QLatin1String("FontColor")) return ColorText(m.Font.Color);
    if (name == QLatin1String("HAlign")) return QLatin1String(kHAlign[static_cast<int>(m.HAlign)]);
    if (name == QLatin1String("VAlign")) return QLatin1String(kVAlign[static_cast<int>(m.VAlign)]);
    if (name == QLatin1String("WordWrap")) return BoolText(m.WordWrap);
    if (name == QLatin1String("Stretch")) return BoolText(m.Stretch);
    if (name == QLatin1String("Frame")) return FrameText(m.Frame);
    if (name == QLatin1String("FrameWidth")) return Num(m.Frame.Width);
    if (name == QLatin1String("Fill")) return ColorText(m.Fill);
    if (name == QLatin1String("Format")) return m.Format;
  } else if (c.Kind() == TfrxObjectKind::Picture) {
    const auto& p = static_cast<const TfrxPictureView&>(c);
    if (name == QLatin1String("DataField")) return p.DataField;
    if (name == QLatin1String("FileName")) return p.FileName;
    if (name == QLatin1String("KeepAspectRatio")) return BoolText(p.KeepAspectRatio);
    if (name == QLatin1String("Center")) return BoolText(p.Center);
    if (name == QLatin1String("Frame")) return FrameText(p.Frame);
  } else if (c.Kind() == TfrxObjectKind::Line) {
    const auto& l = static_cast<const TfrxLineView&>(c);
    if (name == QLatin1String("PenWidth")) return Num(l.PenWidth);
    if (name == QLatin1String("Color")) return ColorText(l.Color);
  } else {
    const auto& r = static_cast<const TfrxShapeView&>(c);
    if (name == QLatin1String("PenWidth")) return Num(r.PenWidth);
    if (name == QLatin1String("Color")) return ColorText(r.Color);
    if (name == QLatin1String("Fill")) return ColorText(r.Fill);
  }
  return QString();
}

void SetPropertyValue(TfrxComponent& c, const QString& name, const QString& value) {
  if (name == QLatin1String("Name")) {
    if (value.trimmed().isEmpty()) BadValue(name, value);
    c.Name = value.trimmed();
    return;
  }
  if (name == QLatin1String("Visible")) return void(c.Visible = ToBool(name, value));
  if (name == QLatin1String("VisibleIf")) return void(c.VisibleIf = value);
  if (name == QLatin1String("Left")) return void(c.Left = ToNumber(name, value, -1000, 1000));
  if (name == QLatin1String("Top")) return void(c.Top = ToNumber(name, value, -1000, 1000));
  if (name == QLatin1String("Width")) return void(c.Width = ToNumber(name, value, 0, 1000));
  if (name == QLatin1String("Height")) return void(c.Height = ToNumber(name, value, 0, 1000));
  if (c.Kind() == TfrxObjectKind::Text) {
    auto& m = static_cast<TfrxMemoView&>(c);
    if (name == QLatin1String("Text")) return void(m.Text = value);
    if (name == QLatin1String("Font")) return void(m.Font.Family = value);
    if (name == QLatin1String("FontSize")) return void(m.Font.Size = ToNumber(name, value, 1, 200));
    if (name == QLatin1String("Bold")) return void(m.Font.Bold = ToBool(name, value));
    if (name == QLatin1String("Italic")) return void(m.Font.Italic = ToBool(name, value));
    if (name == QLatin1String("Underline")) return void(m.Font.Underline = ToBool(name, value));
    if (name == QLatin1String("FontColor")) return void(m.Font.Color = ToColor(name, value, false));
    if (name == QLatin1String("HAlign")) {
      for (int i = 0; i < 4; ++i)
        if (value.trimmed() == QLatin1String(kHAlign[i])) return void(m.HAlign = static_cast<THAlign>(i));
      BadValue(name, value);
    }
    if (name == QLatin1String("VAlign")) {
      for (int i = 0; i < 3; ++i)
        if (value.trimmed() == QLatin1String(kVAlign[i])) return void(m.VAlign = static_cast<TVAlign>(i));
      BadValue(name, value);
    }
    if (name == QLatin1String("WordWrap")) return void(m.WordWrap = ToBool(name, value));
    if (name == QLatin1String("Stretch")) return void(m.Stretch = ToBool(name, value));
    if (name == QLatin1String("Frame")) return SetFrame(m.Frame, name, value);
    if (name == QLatin1String("FrameWidth")) return void(m.Frame.Width = ToNumber(name, value, 0, 20));
    if (name == QLatin1String("Fill")) return void(m.Fill = ToColor(name, value, true));
    if (name == QLatin1String("Format")) return void(m.Format = value);
  } else if (c.Kind() == TfrxObjectKind::Picture) {
    auto& p = static_cast<TfrxPictureView&>(c);
    if (name == QLatin1String("DataField")) return void(p.DataField = value);
    if (name == QLatin1String("FileName")) return void(p.FileName = value);
    if (name == QLatin1String("KeepAspectRatio")) return void(p.KeepAspectRatio = ToBool(name, value));
    if (name == QLatin1String("Center")) return void(p.Center = ToBool(name, value));
    if (name == QLatin1String("Frame")) return SetFrame(p.Frame, name, value);
  } else if (c.Kind() == TfrxObjectKind::Line) {
    auto& l = static_cast<TfrxLineView&>(c);
    if (name == QLatin1String("PenWidth")) return void(l.PenWidth = ToNumber(name, value, 0, 20));
    if (name == QLatin1String("Color")) return void(l.Color = ToColor(name, value, false));
  } else {
    auto& r = static_cast<TfrxShapeView&>(c);
    if (name == QLatin1String("PenWidth")) return void(r.PenWidth = ToNumber(name, value, 0, 20));
    if (name == QLatin1String("Color")) return void(r.Color = ToColor(name, value, true));
    if (name == QLatin1String("Fill")) return void(r.Fill = ToColor(name, value, true));
  }
  throw EReportError(QStringLiteral("Propriété inconnue : %1").arg(name));
}

QStringList BandPropertyNames() {
  return {"Name", "Type", "Height", "Stretch", "KeepTogether", "Visible", "DataSet", "Filter", "Condition"};
}

QString BandPropertyValue(const TfrxBand& b, const QString& name) {
  if (name == QLatin1String("Name")) return b.Name;
  if (name == QLatin1String("Type")) return BandTypeName(b.Type);
  if (name == QLatin1String("Height")) return Num(b.Height);
  if (name == QLatin1String("Stretch")) return BoolText(b.Stretch);
  if (name == QLatin1String("KeepTogether")) return BoolText(b.KeepTogether);
  if (name == QLatin1String("Visible")) return BoolText(b.Visible);
  if (name == QLatin1String("DataSet")) return b.DataSet;
  if (name == QLatin1String("Filter")) return b.Filter;
  if (name == QLatin1String("Condition")) return b.Condition;
  return QString();
}

void SetBandPropertyValue(TfrxBand& b, const QString& name, const QString& value) {
  if (name == QLatin1String("Name")) {
    if (value.trimmed().isEmpty()) BadValue(name, value);
    return void(b.Name = value.trimmed());
  }
  if (name == QLatin1String("Type")) {
    if (!BandTypeFromName(value.trimmed(), &b.Type)) BadValue(name, value);
    return;
  }
  if (name == QLatin1String("Height")) return void(b.Height = ToNumber(name, value, 0, 1000));
  if (name == QLatin1String("Stretch")) return void(b.Stretch = ToBool(name, value));
  if (name == QLatin1String("KeepTogether")) return void(b.KeepTogether = ToBool(name, value));
  if (name == QLatin1String("Visible")) return void(b.Visible = ToBool(name, value));
  if (name == QLatin1String("DataSet")) return void(b.DataSet = value);
  if (name == QLatin1String("Filter")) return void(b.Filter = value);
  if (name == QLatin1String("Condition")) return void(b.Condition = value);
  throw EReportError(QStringLiteral("Propriété inconnue : %1").arg(name));
}

// ---- canvas -----------------------------------------------------------------

namespace {
constexpr double kScale = 3.0;     // pixels per millimetre on the canvas
constexpr int kBandCaption = 16;   // pixels of the band title strip
constexpr int kHandle = 7;         // resize handle size in pixels
}  // namespace

class TfrxDesignerForm::Canvas : public QWidget {
 public:
  explicit Canvas(TfrxDesignerForm* form) : QWidget(form), FForm(form) {
    setObjectName(QStringLiteral("designerCanvas"));
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
  }

  // Top of each band's drawing area in pixels.
  std::vector<int> BandTops() const {
    std::vector<int> tops;
    int y = static_cast<int>(FForm->Page().TopMargin * kScale);
    for (const auto& b : FForm->Page().Bands) {
      y += kBandCaption;
      tops.push_back(y);
      y += static_cast<int>(b.Height * kScale) + 4;
    }
    return tops;
  }

  void UpdateSize() {
    const auto& page = FForm->Page();
    auto tops = BandTops();
    int h = tops.empty() ? 0 : tops.back() + static_cast<int>(page.Bands.back().Height * kScale);
    h = std::max(h + 40, static_cast<int>(page.Height() * kScale));
    setFixedSize(static_cast<int>(page.Width() * kScale) + 1, h);
    update();
  }

  QRectF ObjectRect(int band, const TfrxComponent& o) const {
    const double x0 = FForm->Page().LeftMargin * kScale;
    const int top = BandTops()[static_cast<size_t>(band)];
    return QRectF(x0 + o.Left * kScale, top + o.Top * kScale, std::max(o.Width * kScale, 2.0), std::max(o.Height * kScale, 2.0));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const auto& page = FForm->Page();
    const double x0 = page.LeftMargin * kScale;
    const double w = (page.Width() - page.LeftMargin - page.RightMargin) * kScale;
    auto tops = BandTops();
    for (size_t i = 0; i < page.Bands.size(); ++i) {
      const auto& b = page.Bands[i];
      QRectF cap(x0, tops[i] - kBandCaption, w, kBandCaption);
      p.fillRect(cap, static_cast<int>(i) == FForm->FBand && FForm->FObject < 0 ? QColor(0xF5, 0xC0, 0x60) : QColor(0xE0, 0xE0, 0xE8));
      p.setPen(Qt::darkGray);
      QString caption = BandTypeName(b.Type) + QStringLiteral(" : ") + b.Name;
      if (!b.DataSet.isEmpty()) caption += QStringLiteral(" (") + b.DataSet + ')';
      p.drawText(cap.adjusted(4, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, caption);
      QRectF area(x0, tops[i], w, b.Height * kScale);
      p.setPen(QPen(QColor(0xC0, 0xC0, 0xC0), 1, Qt::DashLine));
      p.drawRect(area);
      for (size_t j = 0; j < b.Objects.size(); ++j) {
        const auto& o = *b.Objects[j];
        QRectF r = ObjectRect(static_cast<int>(i), o);
        const bool sel = static_cast<int>(i) == FForm->FBand && static_cast<int>(j) == FForm->FObject;
        switch (o.Kind()) {
          case TfrxObjectKind::Text: {
            const auto& m = static_cast<const TfrxMemoView&>(o);
            if (m.Fill.isValid()) p.fillRect(r, m.Fill);
            QFont f = MakeFont(m.Font);
            f.setPixelSize(std::max(4, static_cast<int>(m.Font.Size * 25.4 / 72 * kScale)));
            p.setFont(f);
            p.setPen(o.Visible ? m.Font.Color : QColor(Qt::gray));
            p.drawText(r.adjusted(2, 1, -2, -1), Qt::TextWordWrap | Qt::AlignTop | Qt::AlignLeft, m.Text);
            break;
          }
          case TfrxObjectKind::Picture:
            p.setPen(Qt::gray);
            p.drawLine(r.topLeft(), r.bottomRight());
            p.drawLine(r.topRight(), r.bottomLeft());
            break;
          case TfrxObjectKind::Line:
            p.setPen(QPen(Qt::black, 1));
            p.drawLine(QPointF(r.left(), r.top()), QPointF(r.left() + o.Width * kScale, r.top() + o.Height * kScale));
            break;
          case TfrxObjectKind::Rect: p.setPen(Qt::black); p.drawRect(r); break;
        }
        p.setPen(QPen(sel ? QColor(Qt::blue) : QColor(0xA0, 0xA0, 0xA0), 1, sel ? Qt::SolidLine : Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r);
        if (sel) p.fillRect(QRectF(r.right() - kHandle, r.bottom() - kHandle, kHandle, kHandle), Qt::blue);
      }
    }
  }

  void mousePressEvent(QMouseEvent* e) override {
    const QPointF pos = e->position();
    const auto& page = FForm->Page();
    auto tops = BandTops();
    FMode = None;
    for (int i = static_cast<int>(page.Bands.size()) - 1; i >= 0; --i) {
      const auto& b = page.Bands[static_cast<size_t>(i)];
      for (int j = static_cast<int>(b.Objects.size()) - 1; j >= 0; --j) {
        QRectF r = ObjectRect(i, *b.Objects[static_cast<size_t>(j)]);
        if (r.adjusted(-2, -2, 2, 2).contains(pos)) {
          FForm->Select(i, j);
          QRectF handle(r.right() - kHandle, r.bottom() - kHandle, kHandle + 2, kHandle + 2);
          FMode = handle.contains(pos) ? Resize : Move;
          FLast = pos;
          return;
        }
      }
    }
    for (int i = 0; i < static_cast<int>(page.Bands.size()); ++i) {
      const double top = tops[static_cast<size_t>(i)];
      const double bottom = top + page.Bands[static_cast<size_t>(i)].Height * kScale;
      if (pos.y() >= top - kBandCaption && pos.y() <= bottom + 3) {
        FForm->Select(i, -1);
        FMode = std::abs(pos.y() - bottom) <= 4 ? BandHeight : None;
        FLast = pos;
        return;
      }
    }
    FForm->Select(-1, -1);
  }

  void mouseMoveEvent(QMouseEvent* e) override {
    if (!(e->buttons() & Qt::LeftButton) || FMode == None) return;
    const QPointF d = (e->position() - FLast) / kScale;
    // Half-millimetre steps keep positions tidy.
    const double dx = std::round(d.x() * 2) / 2, dy = std::round(d.y() * 2) / 2;
    if (dx == 0 && dy == 0) return;
    FLast += QPointF(dx, dy) * kScale;
    if (FMode == Move) FForm->MoveSelection(dx, dy);
    else if (FMode == Resize) FForm->ResizeSelection(dx, dy);
    else if (FMode == BandHeight && FForm->FBand >= 0) {
      auto& b = FForm->Page().Bands[static_cast<size_t>(FForm->FBand)];
      b.Height = std::max(0.0, b.Height + dy);
      UpdateSize();
    }
  }

  void mouseReleaseEvent(QMouseEvent*) override {
    if (FMode != None) FForm->RebuildProperties();
    FMode = None;
  }

 private:
  enum Mode { None, Move, Resize, BandHeight };
  TfrxDesignerForm* FForm;
  Mode FMode = None;
  QPointF FLast;
};

// ---- the window ---------------------------------------------------------------

TfrxDesignerForm::TfrxDesignerForm(TfrxReport& report, QWidget* parent)
    : QDialog(parent), FReport(report), FDesign(report.Template()) {
  if (FDesign.Pages.empty()) {
    // A fresh page follows the designer's defaults.
    const auto& o = report.DesignerOptions();
    TfrxReportPage p;
    p.Orientation = o.Orientation;
    p.LeftMargin = p.TopMargin = p.RightMargin = p.BottomMargin = o.Margin;
    FDesign.Pages.push_back(std::move(p));
  }
  setWindowTitle(QStringLiteral("Concepteur de modèle") +
                 (report.FileName().isEmpty() ? QString() : QStringLiteral(" - ") + report.FileName()));
  resize(1280, 860);

  auto* layout = new QVBoxLayout(this);
  auto* bar = new QToolBar(this);
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  auto* bandMenu = new QMenu(this);
  for (TfrxBandType t : {TfrxBandType::ReportTitle, TfrxBandType::PageHeader, TfrxBandType::GroupHeader,
                         TfrxBandType::MasterData, TfrxBandType::DetailData, TfrxBandType::GroupFooter,
                         TfrxBandType::PageFooter, TfrxBandType::ReportSummary})
    bandMenu->addAction(BandTypeName(t), this, [this, t] { AddBand(t); });
  auto* bandButton = new QToolButton(this);
  bandButton->setText(QStringLiteral("Ajouter une bande"));
  bandButton->setMenu(bandMenu);
  bandButton->setPopupMode(QToolButton::InstantPopup);
  bar->addWidget(bandButton);
  bar->addAction(QStringLiteral("Texte"), this, [this] { AddObject(TfrxObjectKind::Text); });
  bar->addAction(QStringLiteral("Image"), this, [this] { AddObject(TfrxObjectKind::Picture); });
  bar->addAction(QStringLiteral("Ligne"), this, [this] { AddObject(TfrxObjectKind::Line); });
  bar->addAction(QStringLiteral("Rectangle"), this, [this] { AddObject(TfrxObjectKind::Rect); });
  bar->addAction(QStringLiteral("Supprimer"), this, &TfrxDesignerForm::DeleteSelection);
  bar->addSeparator();
  bar->addAction(QStringLiteral("OK"), this, &TfrxDesignerForm::accept);
  bar->addAction(QStringLiteral("Annuler"), this, &QDialog::reject);
  layout->addWidget(bar);

  auto* split = new QSplitter(this);
  FTree = new QTreeWidget(split);
  FTree->setHeaderLabel(QStringLiteral("Objets"));
  FTabs = new QTabWidget(split);
  auto* scroll = new QScrollArea(FTabs);
  FCanvas = new Canvas(this);
  scroll->setWidget(FCanvas);
  scroll->setBackgroundRole(QPalette::Dark);
  FTabs->addTab(scroll, QStringLiteral("Page"));
  FPreview = new TfrxPreview(FTabs);
  FTabs->addTab(FPreview, QStringLiteral("Aperçu"));
  FProps = new QTableWidget(0, 2, split);
  FProps->setHorizontalHeaderLabels({QStringLiteral("Propriété"), QStringLiteral("Valeur")});
  FProps->horizontalHeader()->setStretchLastSection(true);
  FProps->verticalHeader()->hide();
  split->setStretchFactor(1, 1);
  split->setSizes({220, 760, 300});
  layout->addWidget(split, 1);

  connect(FTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (FUpdating || !item) return;
    Select(item->data(0, Qt::UserRole).toInt(), item->data(0, Qt::UserRole + 1).toInt());
  });
  connect(FProps, &QTableWidget::cellChanged, this, &TfrxDesignerForm::PropertyEdited);
  connect(FTabs, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == 1) RefreshPreview();
  });
  FCanvas->UpdateSize();
  RebuildTree();
  RebuildProperties();
}

TfrxDesignerForm::~TfrxDesignerForm() = default;

TfrxComponent* TfrxDesignerForm::SelectedComponent() {
  if (FBand < 0 || FBand >= static_cast<int>(Page().Bands.size())) return nullptr;
  auto& b = Page().Bands[static_cast<size_t>(FBand)];
  if (FObject < 0 || FObject >= static_cast<int>(b.Objects.size())) return nullptr;
  return b.Objects[static_cast<size_t>(FObject)].get();
}

void TfrxDesignerForm::Select(int band, int object) {
  FBand = band;
  FObject = band < 0 ? -1 : object;
  RebuildProperties();
  FUpdating = true;
  for (QTreeWidgetItemIterator it(FTree); *it; ++it)
    if ((*it)->data(0, Qt::UserRole).toInt() == FBand && (*it)->data(0, Qt::UserRole + 1).toInt() == FObject) {
      FTree->setCurrentItem(*it);
      break;
    }
  FUpdating = false;
  FCanvas->update();
}

void TfrxDesignerForm::RebuildTree() {
  FUpdating = true;
  FTree->clear();
  auto* root = new QTreeWidgetItem(FTree, {Page().Name});
  root->setData(0, Qt::UserRole, -1);
  root->setData(0, Qt::UserRole + 1, -1);
  for (size_t i = 0; i < Page().Bands.size(); ++i) {
    const auto& b = Page().Bands[i];
    auto* bi = new QTreeWidgetItem(root, {b.Name});
    bi->setData(0, Qt::UserRole, static_cast<int>(i));
    bi->setData(0, Qt::UserRole + 1, -1);
    for (size_t j = 0; j < b.Objects.size(); ++j) {
      auto* oi = new QTreeWidgetItem(bi, {b.Objects[j]->Name});
      oi->setData(0, Qt::UserRole, static_cast<int>(i));
      oi->setData(0, Qt::UserRole + 1, static_cast<int>(j));
    }
  }
  FTree->expandAll();
  FUpdating = false;
}

void TfrxDesignerForm::RebuildProperties() {
  FUpdating = true;
  FProps->blockSignals(true);
  FProps->setRowCount(0);
  QStringList names;
  std::function<QString(const QString&)> value;
  if (TfrxComponent* c = SelectedComponent()) {
    names = PropertyNames(*c);
    value = [c](const QString& n) { return PropertyValue(*c, n); };
  } else if (FBand >= 0 && FBand < static_cast<int>(Page().Bands.size())) {
    names = BandPropertyNames();
    TfrxBand* b = &Page().Bands[static_cast<size_t>(FBand)];
    value = [b](const QString& n) { return BandPropertyValue(*b, n); };
  }
  FProps->setRowCount(static_cast<int>(names.size()));
  for (int i = 0; i < names.size(); ++i) {
    auto* key = new QTableWidgetItem(names[i]);
    key->setFlags(Qt::ItemIsEnabled);
    FProps->setItem(i, 0, key);
    FProps->setItem(i, 1, new QTableWidgetItem(value(names[i])));
  }
  FProps->blockSignals(false);
  FUpdating = false;
}

void TfrxDesignerForm::PropertyEdited(int row, int column) {
  if (FUpdating || column != 1) return;
  const QString name = FProps->item(row, 0)->text();
  const QString value = FProps->item(row, 1)->text();
  try {
    if (name == QLatin1String("Name")) {
      TfrxComponent* c = SelectedComponent();
      QString current = c ? c->Name : Page().Bands[static_cast<size_t>(FBand)].Name;
      if (value.trimmed().compare(current, Qt::CaseInsensitive) != 0 && FDesign.NameUsed(value.trimmed()))
        throw EReportError(QStringLiteral("Le nom \"%1\" est déjà utilisé").arg(value.trimmed()));
    }
    if (TfrxComponent* c = SelectedComponent()) SetPropertyValue(*c, name, value);
    else if (FBand >= 0) SetBandPropertyValue(Page().Bands[static_cast<size_t>(FBand)], name, value);
  } catch (const EReportError& e) {
    tessaly::ui::ShowMessage(e.Message(), this);
  }
  if (name == QLatin1String("Name")) RebuildTree();
  RebuildProperties();
  FCanvas->UpdateSize();
}

void TfrxDesignerForm::AddBand(TfrxBandType type) {
  TfrxBand b;
  b.Type = type;
  b.Name = FDesign.UniqueName(BandTypeName(type));
  b.Height = type == TfrxBandType::MasterData || type == TfrxBandType::DetailData ? 6 : 12;
  // Bands go in reading order: headers first, footers last.
  auto& bands = Page().Bands;
  auto pos = std::find_if(bands.begin(), bands.end(), [type](const TfrxBand& x) { return static_cast<int>(x.Type) > static_cast<int>(type); });
  if (type == TfrxBandType::DetailData || type == TfrxBandType::MasterData) {
    pos = std::find_if(bands.begin(), bands.end(), [](const TfrxBand& x) {
      return x.Type == TfrxBandType::PageFooter || x.Type == TfrxBandType::ReportSummary || x.Type == TfrxBandType::GroupFooter;
    });
  }
  int index = static_cast<int>(pos - bands.begin());
  bands.insert(pos, std::move(b));
  FCanvas->UpdateSize();
  RebuildTree();
  Select(index, -1);
}

void TfrxDesignerForm::AddObject(TfrxObjectKind kind) {
  if (FBand < 0 || FBand >= static_cast<int>(Page().Bands.size())) {
    tessaly::ui::ShowMessage(QStringLiteral("Choisissez d'abord une bande."), this);
    return;
  }
  std::unique_ptr<TfrxComponent> o;
  const auto& opt = FReport.DesignerOptions();
  switch (kind) {
    case TfrxObjectKind::Text: {
      auto m = std::make_unique<TfrxMemoView>();
      m->Font.Family = opt.FontName;
      m->Font.Size = opt.FontSizePixels * 72.0 / 96.0;
      m->Text = QStringLiteral("Texte");
      m->Name = FDesign.UniqueName(QStringLiteral("Memo"));
      o = std::move(m);
      break;
    }
    case TfrxObjectKind::Picture:
      o = std::make_unique<TfrxPictureView>();
      o->Name = FDesign.UniqueName(QStringLiteral("Picture"));
      break;
    case TfrxObjectKind::Line:
      o = std::make_unique<TfrxLineView>();
      o->Name = FDesign.UniqueName(QStringLiteral("Line"));
      break;
    case TfrxObjectKind::Rect:
      o = std::make_unique<TfrxShapeView>();
      o->Name = FDesign.UniqueName(QStringLiteral("Shape"));
      break;
  }
  auto& band = Page().Bands[static_cast<size_t>(FBand)];
  o->Left = 0;
  o->Top = 0;
  o->Width = kind == TfrxObjectKind::Line ? 50 : 40;
  o->Height = kind == TfrxObjectKind::Line ? 0 : std::min(5.0, std::max(band.Height, 1.0));
  band.Objects.push_back(std::move(o));
  RebuildTree();
  Select(FBand, static_cast<int>(band.Objects.size()) - 1);
}

void TfrxDesignerForm::DeleteSelection() {
  if (FBand < 0 || FBand >= static_cast<int>(Page().Bands.size())) return;
  auto& bands = Page().Bands;
  if (FObject >= 0) {
    auto& objs = bands[static_cast<size_t>(FBand)].Objects;
    if (FObject < static_cast<int>(objs.size())) objs.erase(objs.begin() + FObject);
  } else {
    bands.erase(bands.begin() + FBand);
    FBand = -1;
  }
  FObject = -1;
  FCanvas->UpdateSize();
  RebuildTree();
  Select(FBand, -1);
}

void TfrxDesignerForm::MoveSelection(double dx, double dy) {
  if (TfrxComponent* c = SelectedComponent()) {
    c->Left += dx;
    c->Top += dy;
    FCanvas->update();
  }
}

void TfrxDesignerForm::ResizeSelection(double dw, double dh) {
  if (TfrxComponent* c = SelectedComponent()) {
    c->Width = std::max(0.0, c->Width + dw);
    c->Height = std::max(0.0, c->Height + dh);
    FCanvas->update();
  }
}

void TfrxDesignerForm::RefreshPreview() {
  TfrxReport temp;
  temp.SetLocale(FReport.Locale());
  for (TfrxDBDataset* d : FReport.Datasets()) temp.AddDataset(d);
  temp.SetTemplate(FDesign);
  try {
    temp.PrepareReport(true);
    FPreview->ShowPages(temp.PreparedPages());
  } catch (const std::exception& e) {
    FPreview->Clear();
    tessaly::ui::ShowMessage(QString::fromUtf8(e.what()), this);
  }
}

void TfrxDesignerForm::accept() {
  FReport.SetTemplate(FDesign);
  QDialog::accept();
}

}  // namespace tessaly::report
