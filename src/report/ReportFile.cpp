#include "ReportFile.h"

#include <QDomDocument>
#include <QFile>
#include <cmath>
#include <QSaveFile>
#include <QXmlStreamWriter>

namespace tessaly::report {

namespace {

// ---- reading ---------------------------------------------------------------

class Reader {
 public:
  explicit Reader(QString source) : FSource(std::move(source)) {}

  [[noreturn]] void Fail(const QString& what) const {
    throw EReportError(QStringLiteral("Le fichier \"%1\" n'est pas un modèle de rapport valide : %2").arg(FSource, what));
  }

  double Number(const QDomElement& e, const char* name, double def) const {
    QString s = e.attribute(QLatin1String(name));
    if (s.isEmpty()) return def;
    bool ok = false;
    double v = s.toDouble(&ok);
    if (!ok || !std::isfinite(v))
      Fail(QStringLiteral("l'attribut '%1' de <%2> n'est pas un nombre (\"%3\")").arg(QLatin1String(name), e.tagName(), s));
    return v;
  }
  double Length(const QDomElement& e, const char* name, double def) const {
    double v = Number(e, name, def);
    if (v < -10000 || v > 10000)
      Fail(QStringLiteral("l'attribut '%1' de <%2> est hors limites").arg(QLatin1String(name), e.tagName()));
    return v;
  }
  bool Bool(const QDomElement& e, const char* name, bool def) const {
    QString s = e.attribute(QLatin1String(name));
    if (s.isEmpty()) return def;
    if (s == QLatin1String("true") || s == QLatin1String("1")) return true;
    if (s == QLatin1String("false") || s == QLatin1String("0")) return false;
    Fail(QStringLiteral("l'attribut '%1' de <%2> n'est ni true ni false (\"%3\")").arg(QLatin1String(name), e.tagName(), s));
  }
  QColor Color(const QDomElement& e, const char* name, const QColor& def) const {
    if (!e.hasAttribute(QLatin1String(name))) return def;
    QString s = e.attribute(QLatin1String(name));
    if (s.isEmpty()) return QColor();
    QColor c = QColor::fromString(s);
    if (!c.isValid()) Fail(QStringLiteral("l'attribut '%1' de <%2> n'est pas une couleur (\"%3\")").arg(QLatin1String(name), e.tagName(), s));
    return c;
  }

  TfrxFont Font(const QDomElement& e, const TfrxFont& def) const {
    TfrxFont f = def;
    if (e.hasAttribute(QStringLiteral("font"))) f.Family = e.attribute(QStringLiteral("font"));
    f.Size = Number(e, "fontSize", def.Size);
    if (f.Size <= 0 || f.Size > 500) Fail(QStringLiteral("taille de police hors limites dans <%1>").arg(e.tagName()));
    QString style = e.attribute(QStringLiteral("fontStyle"));
    if (e.hasAttribute(QStringLiteral("fontStyle"))) {
      f.Bold = style.contains('b');
      f.Italic = style.contains('i');
      f.Underline = style.contains('u');
    }
    f.Color = Color(e, "fontColor", def.Color);
    if (!f.Color.isValid()) f.Color = Qt::black;
    return f;
  }

  TfrxFrame Frame(const QDomElement& e) const {
    TfrxFrame fr;
    QString sides = e.attribute(QStringLiteral("frame"));
    fr.Left = sides.contains('L');
    fr.Top = sides.contains('T');
    fr.Right = sides.contains('R');
    fr.Bottom = sides.contains('B');
    fr.Width = Length(e, "frameWidth", fr.Width);
    fr.Color = Color(e, "frameColor", fr.Color);
    if (!fr.Color.isValid()) fr.Color = Qt::black;
    return fr;
  }

  void Common(const QDomElement& e, TfrxComponent& c) const {
    c.Name = e.attribute(QStringLiteral("name"));
    if (c.Name.isEmpty()) Fail(QStringLiteral("un objet <%1> n'a pas de nom").arg(e.tagName()));
    c.Visible = Bool(e, "visible", true);
    c.VisibleIf = e.attribute(QStringLiteral("visibleIf"));
    c.Left = Length(e, "left", 0);
    c.Top = Length(e, "top", 0);
    c.Width = Length(e, "width", 0);
    c.Height = Length(e, "height", 0);
  }

  std::unique_ptr<TfrxComponent> Object(const QDomElement& e) const {
    const QString tag = e.tagName();
    if (tag == QLatin1String("Text")) {
      auto m = std::make_unique<TfrxMemoView>();
      Common(e, *m);
      m->Text = e.text();
      m->Font = Font(e, m->Font);
      QString h = e.attribute(QStringLiteral("halign"), QStringLiteral("left"));
      if (h == QLatin1String("left")) m->HAlign = THAlign::Left;
      else if (h == QLatin1String("center")) m->HAlign = THAlign::Center;
      else if (h == QLatin1String("right")) m->HAlign = THAlign::Right;
      else if (h == QLatin1String("justify")) m->HAlign = THAlign::Justify;
      else Fail(QStringLiteral("alignement horizontal inconnu \"%1\"").arg(h));
      QString v = e.attribute(QStringLiteral("valign"), QStringLiteral("top"));
      if (v == QLatin1String("top")) m->VAlign = TVAlign::Top;
      else if (v == QLatin1String("center")) m->VAlign = TVAlign::Center;
      else if (v == QLatin1String("bottom")) m->VAlign = TVAlign::Bottom;
      else Fail(QStringLiteral("alignement vertical inconnu \"%1\"").arg(v));
      m->WordWrap = Bool(e, "wordWrap", true);
      m->Stretch = Bool(e, "stretch", false);
      m->Frame = Frame(e);
      m->Fill = Color(e, "fill", QColor());
      m->Format = e.attribute(QStringLiteral("format"));
      m->Padding = Length(e, "padding", m->Padding);
      return m;
    }
    if (tag == QLatin1String("Picture")) {
      auto p = std::make_unique<TfrxPictureView>();
      Common(e, *p);
      p->DataField = e.attribute(QStringLiteral("field"));
      p->FileName = e.attribute(QStringLiteral("file"));
      p->KeepAspectRatio = Bool(e, "keepAspectRatio", true);
      p->Center = Bool(e, "center", true);
      p->Frame = Frame(e);
      return p;
    }
    if (tag == QLatin1String("Line")) {
      auto l = std::make_unique<TfrxLineView>();
      Common(e, *l);
      l->PenWidth = Length(e, "penWidth", l->PenWidth);
      l->Color = Color(e, "color", l->Color);
      return l;
    }
    if (tag == QLatin1String("Rect")) {
      auto r = std::make_unique<TfrxShapeView>();
      Common(e, *r);
      r->PenWidth = Length(e, "penWidth", r->PenWidth);
      r->Color = Color(e, "color", r->Color);
      r->Fill = Color(e, "fill", QColor());
      return r;
    }
    Fail(QStringLiteral("élément d'objet inconnu <%1>").arg(tag));
  }

  TfrxBand Band(const QDomElement& e) const {
    TfrxBand b;
    b.Name = e.attribute(QStringLiteral("name"));
    if (b.Name.isEmpty()) Fail(QStringLiteral("une bande n'a pas de nom"));
    if (!BandTypeFromName(e.attribute(QStringLiteral("type")), &b.Type))
      Fail(QStringLiteral("la bande \"%1\" a un type inconnu \"%2\"").arg(b.Name, e.attribute(QStringLiteral("type"))));
    b.Height = Length(e, "height", b.Height);
    if (b.Height < 0) Fail(QStringLiteral("la bande \"%1\" a une hauteur négative").arg(b.Name));
    b.Stretch = Bool(e, "stretch", false);
    b.KeepTogether = Bool(e, "keepTogether", false);
    b.Visible = Bool(e, "visible", true);
    b.DataSet = e.attribute(QStringLiteral("dataset"));
    b.Filter = e.attribute(QStringLiteral("filter"));
    b.Condition = e.attribute(QStringLiteral("condition"));
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) b.Objects.push_back(Object(c));
    return b;
  }

  TfrxReportPage Page(const QDomElement& e) const {
    TfrxReportPage p;
    p.Name = e.attribute(QStringLiteral("name"), p.Name);
    p.PaperName = e.attribute(QStringLiteral("paper"), p.PaperName);
    double w = 0, h = 0;
    if (PaperSize(p.PaperName, &w, &h)) {
      p.PaperWidth = w;
      p.PaperHeight = h;
    }
    p.PaperWidth = Length(e, "paperWidth", p.PaperWidth);
    p.PaperHeight = Length(e, "paperHeight", p.PaperHeight);
    if (p.PaperWidth < 10 || p.PaperHeight < 10) Fail(QStringLiteral("le papier de la page \"%1\" est trop petit").arg(p.Name));
    QString o = e.attribute(QStringLiteral("orientation"), QStringLiteral("portrait"));
    if (o == QLatin1String("portrait")) p.Orientation = TfrxOrientation::Portrait;
    else if (o == QLatin1String("landscape")) p.Orientation = TfrxOrientation::Landscape;
    else Fail(QStringLiteral("orientation inconnue \"%1\"").arg(o));
    p.LeftMargin = Length(e, "leftMargin", p.LeftMargin);
    p.TopMargin = Length(e, "topMargin", p.TopMargin);
    p.RightMargin = Length(e, "rightMargin", p.RightMargin);
    p.BottomMargin = Length(e, "bottomMargin", p.BottomMargin);
    if (p.LeftMargin < 0 || p.TopMargin < 0 || p.RightMargin < 0 || p.BottomMargin < 0 ||
        p.LeftMargin + p.RightMargin >= p.Width() || p.TopMargin + p.BottomMargin >= p.Height())
      Fail(QStringLiteral("les marges de la page \"%1\" ne laissent aucune place").arg(p.Name));
    p.DataOnly = Bool(e, "dataOnly", false);
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
      if (c.tagName() != QLatin1String("Band")) Fail(QStringLiteral("élément inattendu <%1> dans une page").arg(c.tagName()));
      p.Bands.push_back(Band(c));
    }
    return p;
  }

  TfrxTemplate Report(const QDomElement& root) const {
    if (root.tagName() != QLatin1String("TessalyReport")) Fail(QStringLiteral("l'élément racine est <%1>").arg(root.tagName()));
    bool ok = false;
    int version = root.attribute(QStringLiteral("version")).toInt(&ok);
    if (!ok || version < 1) Fail(QStringLiteral("il n'a pas de version de format"));
    if (version > kTemplateFormatVersion)
      throw EReportError(QStringLiteral("Le fichier \"%1\" utilise la version %2 du format des modèles ; ce programme lit jusqu'à la version %3")
                             .arg(FSource)
                             .arg(version)
                             .arg(kTemplateFormatVersion));
    TfrxTemplate t;
    t.Title = root.attribute(QStringLiteral("title"));
    for (QDomElement c = root.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
      if (c.tagName() == QLatin1String("PrintOptions")) {
        t.PrinterName = c.attribute(QStringLiteral("printer"));
        t.Copies = static_cast<int>(Number(c, "copies", 1));
        if (t.Copies < 1 || t.Copies > 999) Fail(QStringLiteral("le nombre de copies est hors limites"));
        t.PageRange = c.attribute(QStringLiteral("pages"));
      } else if (c.tagName() == QLatin1String("Page")) {
        t.Pages.push_back(Page(c));
      } else {
        Fail(QStringLiteral("élément inattendu <%1>").arg(c.tagName()));
      }
    }
    if (t.Pages.empty()) Fail(QStringLiteral("il n'a aucune page"));
    return t;
  }

 private:
  QString FSource;
};

// ---- writing ---------------------------------------------------------------

QString Num(double v) { return QString::number(v, 'g', 12); }
QString ColorText(const QColor& c) {
  if (!c.isValid()) return QString();
  return c.alpha() == 255 ? c.name(QColor::HexRgb) : c.name(QColor::HexArgb);
}
QString BoolText(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }

void WriteFrame(QXmlStreamWriter& w, const TfrxFrame& f) {
  QString sides;
  if (f.Left) sides += 'L';
  if (f.Top) sides += 'T';
  if (f.Right) sides += 'R';
  if (f.Bottom) sides += 'B';
  if (!sides.isEmpty()) w.writeAttribute(QStringLiteral("frame"), sides);
  w.writeAttribute(QStringLiteral("frameWidth"), Num(f.Width));
  w.writeAttribute(QStringLiteral("frameColor"), ColorText(f.Color));
}

void WriteCommon(QXmlStreamWriter& w, const TfrxComponent& c) {
  w.writeAttribute(QStringLiteral("name"), c.Name);
  if (!c.Visible) w.writeAttribute(QStringLiteral("visible"), BoolText(false));
  if (!c.VisibleIf.isEmpty()) w.writeAttribute(QStringLiteral("visibleIf"), c.VisibleIf);
  w.writeAttribute(QStringLiteral("left"), Num(c.Left));
  w.writeAttribute(QStringLiteral("top"), Num(c.Top));
  w.writeAttribute(QStringLiteral("width"), Num(c.Width));
  w.writeAttribute(QStringLiteral("height"), Num(c.Height));
}

const char* HAlignName(THAlign a) {
  switch (a) {
    case THAlign::Center: return "center";
    case THAlign::Right: return "right";
    case THAlign::Justify: return "justify";
    default: return "left";
  }
}
const char* VAlignName(TVAlign a) {
  switch (a) {
    case TVAlign::Center: return "center";
    case TVAlign::Bottom: return "bottom";
    default: return "top";
  }
}

void WriteObject(QXmlStreamWriter& w, const TfrxComponent& c) {
  switch (c.Kind()) {
    case TfrxObjectKind::Text: {
      const auto& m = static_cast<const TfrxMemoView&>(c);
      w.writeStartElement(QStringLiteral("Text"));
      WriteCommon(w, m);
      w.writeAttribute(QStringLiteral("font"), m.Font.Family);
      w.writeAttribute(QStringLiteral("fontSize"), Num(m.Font.Size));
      QString style;
      if (m.Font.Bold) style += 'b';
      if (m.Font.Italic) style += 'i';
      if (m.Font.Underline) style += 'u';
      w.writeAttribute(QStringLiteral("fontStyle"), style);
      w.writeAttribute(QStringLiteral("fontColor"), ColorText(m.Font.Color));
      w.writeAttribute(QStringLiteral("halign"), QLatin1String(HAlignName(m.HAlign)));
      w.writeAttribute(QStringLiteral("valign"), QLatin1String(VAlignName(m.VAlign)));
      w.writeAttribute(QStringLiteral("wordWrap"), BoolText(m.WordWrap));
      w.writeAttribute(QStringLiteral("stretch"), BoolText(m.Stretch));
      WriteFrame(w, m.Frame);
      if (m.Fill.isValid()) w.writeAttribute(QStringLiteral("fill"), ColorText(m.Fill));
      if (!m.Format.isEmpty()) w.writeAttribute(QStringLiteral("format"), m.Format);
      w.writeAttribute(QStringLiteral("padding"), Num(m.Padding));
      w.writeCharacters(m.Text);
      w.writeEndElement();
      break;
    }
    case TfrxObjectKind::Picture: {
      const auto& p = static_cast<const TfrxPictureView&>(c);
      w.writeStartElement(QStringLiteral("Picture"));
      WriteCommon(w, p);
      if (!p.DataField.isEmpty()) w.writeAttribute(QStringLiteral("field"), p.DataField);
      if (!p.FileName.isEmpty()) w.writeAttribute(QStringLiteral("file"), p.FileName);
      w.writeAttribute(QStringLiteral("keepAspectRatio"), BoolText(p.KeepAspectRatio));
      w.writeAttribute(QStringLiteral("center"), BoolText(p.Center));
      WriteFrame(w, p.Frame);
      w.writeEndElement();
      break;
    }
    case TfrxObjectKind::Line: {
      const auto& l = static_cast<const TfrxLineView&>(c);
      w.writeStartElement(QStringLiteral("Line"));
      WriteCommon(w, l);
      w.writeAttribute(QStringLiteral("penWidth"), Num(l.PenWidth));
      w.writeAttribute(QStringLiteral("color"), ColorText(l.Color));
      w.writeEndElement();
      break;
    }
    case TfrxObjectKind::Rect: {
      const auto& r = static_cast<const TfrxShapeView&>(c);
      w.writeStartElement(QStringLiteral("Rect"));
      WriteCommon(w, r);
      w.writeAttribute(QStringLiteral("penWidth"), Num(r.PenWidth));
      w.writeAttribute(QStringLiteral("color"), ColorText(r.Color));
      if (r.Fill.isValid()) w.writeAttribute(QStringLiteral("fill"), ColorText(r.Fill));
      w.writeEndElement();
      break;
    }
  }
}

}  // namespace

TfrxTemplate TemplateFromXml(const QByteArray& xml, const QString& sourceName) {
  QDomDocument doc;
  QString msg;
  int line = 0, column = 0;
  if (!doc.setContent(xml, &msg, &line, &column))
    throw EReportError(QStringLiteral("Le fichier \"%1\" n'est pas un modèle de rapport : %2 (ligne %3, colonne %4)")
                           .arg(sourceName, msg)
                           .arg(line)
                           .arg(column));
  QDomElement root = doc.documentElement();
  if (root.tagName() != QLatin1String("TessalyReport"))
    throw EReportError(QStringLiteral("Le fichier \"%1\" n'est pas un modèle de rapport (élément racine <%2>)")
                           .arg(sourceName, root.tagName()));
  return Reader(sourceName).Report(root);
}

QByteArray TemplateToXml(const TfrxTemplate& t) {
  QByteArray out;
  QXmlStreamWriter w(&out);
  w.setAutoFormatting(true);
  w.setAutoFormattingIndent(1);
  w.writeStartDocument();
  w.writeStartElement(QStringLiteral("TessalyReport"));
  w.writeAttribute(QStringLiteral("version"), QString::number(kTemplateFormatVersion));
  if (!t.Title.isEmpty()) w.writeAttribute(QStringLiteral("title"), t.Title);
  w.writeStartElement(QStringLiteral("PrintOptions"));
  w.writeAttribute(QStringLiteral("printer"), t.PrinterName);
  w.writeAttribute(QStringLiteral("copies"), QString::number(t.Copies));
  w.writeAttribute(QStringLiteral("pages"), t.PageRange);
  w.writeEndElement();
  for (const auto& p : t.Pages) {
    w.writeStartElement(QStringLiteral("Page"));
    w.writeAttribute(QStringLiteral("name"), p.Name);
    w.writeAttribute(QStringLiteral("paper"), p.PaperName);
    w.writeAttribute(QStringLiteral("paperWidth"), Num(p.PaperWidth));
    w.writeAttribute(QStringLiteral("paperHeight"), Num(p.PaperHeight));
    w.writeAttribute(QStringLiteral("orientation"),
                     p.Orientation == TfrxOrientation::Portrait ? QStringLiteral("portrait") : QStringLiteral("landscape"));
    w.writeAttribute(QStringLiteral("leftMargin"), Num(p.LeftMargin));
    w.writeAttribute(QStringLiteral("topMargin"), Num(p.TopMargin));
    w.writeAttribute(QStringLiteral("rightMargin"), Num(p.RightMargin));
    w.writeAttribute(QStringLiteral("bottomMargin"), Num(p.BottomMargin));
    w.writeAttribute(QStringLiteral("dataOnly"), BoolText(p.DataOnly));
    for (const auto& b : p.Bands) {
      w.writeStartElement(QStringLiteral("Band"));
      w.writeAttribute(QStringLiteral("name"), b.Name);
      w.writeAttribute(QStringLiteral("type"), BandTypeName(b.Type));
      w.writeAttribute(QStringLiteral("height"), Num(b.Height));
      w.writeAttribute(QStringLiteral("stretch"), BoolText(b.Stretch));
      if (b.KeepTogether) w.writeAttribute(QStringLiteral("keepTogether"), BoolText(true));
      if (!b.Visible) w.writeAttribute(QStringLiteral("visible"), BoolText(false));
      if (!b.DataSet.isEmpty()) w.writeAttribute(QStringLiteral("dataset"), b.DataSet);
      if (!b.Filter.isEmpty()) w.writeAttribute(QStringLiteral("filter"), b.Filter);
      if (!b.Condition.isEmpty()) w.writeAttribute(QStringLiteral("condition"), b.Condition);
      for (const auto& o : b.Objects) WriteObject(w, *o);
      w.writeEndElement();
    }
    w.writeEndElement();
  }
  w.writeEndElement();
  w.writeEndDocument();
  return out;
}

TfrxTemplate LoadTemplateFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    throw EReportError(QStringLiteral("Le modèle de rapport \"%1\" ne peut pas être lu : %2").arg(path, f.errorString()));
  if (f.size() > 64 * 1024 * 1024) throw EReportError(QStringLiteral("Le fichier \"%1\" est trop volumineux pour un modèle de rapport").arg(path));
  return TemplateFromXml(f.readAll(), path);
}

void SaveTemplateFile(const TfrxTemplate& t, const QString& path) {
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly))
    throw EReportError(QStringLiteral("Le modèle de rapport \"%1\" ne peut pas être écrit : %2").arg(path, f.errorString()));
  f.write(TemplateToXml(t));
  if (!f.commit())
    throw EReportError(QStringLiteral("Le modèle de rapport \"%1\" ne peut pas être écrit : %2").arg(path, f.errorString()));
}

}  // namespace tessaly::report
