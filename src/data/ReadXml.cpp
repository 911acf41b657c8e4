#include "ReadXml.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>

#include "DataError.h"
#include "LocaleConvert.h"
#include "MemTable.h"
#include "ReportDataset.h"

namespace tessaly {

namespace {

struct TableSlot {
  const char* tableValue;      // value of the `table` attribute
  const char* indexAttribute;  // root attribute holding its index field names
  TMemTable* table;
  TReportDataset* dataset;
};

TFieldType TypeOfWord(const QString& word) {
  if (word == QLatin1String("string")) return TFieldType::String;
  if (word == QLatin1String("double")) return TFieldType::Float;
  if (word == QLatin1String("int")) return TFieldType::Integer;
  if (word == QLatin1String("date")) return TFieldType::Date;
  if (word == QLatin1String("bool")) return TFieldType::Boolean;
  if (word == QLatin1String("image")) return TFieldType::Graphic;
  return TFieldType::Unknown;
}

class Loader {
 public:
  Loader(TLectureXmlContext& ctx) : FCtx(ctx) {
    FSlots[0] = {"header", "index_field_names_header", ctx.Header, ctx.HeaderDataset};
    FSlots[1] = {"ligne", "index_field_names_ligne", ctx.Lines, ctx.LinesDataset};
    FSlots[2] = {"ligne_description", "index_field_names_ligneDescription", ctx.Descriptions,
                 ctx.DescriptionsDataset};
    FDataFolder = QFileInfo(ctx.DataFilePath).absolutePath();
  }

  QString Run() {
    for (const auto& s : FSlots)
      if (!s.table) throw EDataError(QStringLiteral("Data file loader: the table for '%1' is missing").arg(QLatin1String(s.tableValue)));

    QFile file(FCtx.DataFilePath);
    if (!file.open(QIODevice::ReadOnly))
      throw EDataError(QStringLiteral("Cannot open the data file \"%1\": %2").arg(FCtx.DataFilePath, file.errorString()));
    QByteArray bytes = file.readAll();
    QDomDocument doc;
    QString msg;
    int line = 0, column = 0;
    if (!doc.setContent(bytes, &msg, &line, &column))
      throw EDataError(QStringLiteral("The data file \"%1\" is not well-formed XML: %2 (line %3, column %4)")
                           .arg(FCtx.DataFilePath, msg)
                           .arg(line)
                           .arg(column));
    QDomElement root = doc.documentElement();
    if (root.isNull())
      throw EDataError(QStringLiteral("The data file \"%1\" has no root element").arg(FCtx.DataFilePath));

    for (auto& s : FSlots) {
      s.table->Close();
      s.table->ClearFieldDefs();
    }
    DefinitionWalk(root);

    for (int i = 0; i < 3; ++i) {
      TableSlot& s = FSlots[i];
      if (s.table->FieldDefCount() == 0) continue;
      s.table->CreateDataSet();
      s.table->EmptyDataSet();
      if (i == 2 && !s.table->MasterSource()) s.table->SetMasterSource(FSlots[1].table);
      s.table->SetIndexFieldNames(RootAttribute(root, s.indexAttribute));
      if (i == 2) s.table->SetMasterFields(RootAttribute(root, FSlots[1].indexAttribute));
    }

    RowWalk(root);
    return RootAttribute(root, "template");
  }

 private:
  QString RootAttribute(const QDomElement& root, const char* name) const {
    if (!root.hasAttribute(QLatin1String(name)))
      throw EDataError(QStringLiteral("The data file \"%1\": the root element <%2> has no attribute '%3'")
                           .arg(FCtx.DataFilePath, root.tagName(), QLatin1String(name)));
    return root.attribute(QLatin1String(name));
  }

  TableSlot* SlotOf(const QDomElement& e) {
    if (!e.hasAttribute(QStringLiteral("table"))) return nullptr;
    QString t = e.attribute(QStringLiteral("table"));
    for (auto& s : FSlots)
      if (t == QLatin1String(s.tableValue)) return &s;
    return nullptr;
  }

  static std::vector<QDomElement> Children(const QDomElement& e) {
    std::vector<QDomElement> out;
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) out.push_back(c);
    return out;
  }

  void DefinitionWalk(const QDomElement& e) {
    std::vector<QDomElement> children = Children(e);
    if (children.empty()) return;
    if (TableSlot* s = SlotOf(e)) {
      for (const QDomElement& c : children) {
        if (s->table->FindFieldDef(c.tagName()) < 0 && c.hasAttribute(QStringLiteral("type"))) {
          QString word = c.attribute(QStringLiteral("type"));
          TFieldType type = TypeOfWord(word);
          s->table->AddFieldDef(c.tagName(), type, type == TFieldType::String ? 1000 : 0, false, word);
          QString alias = c.attribute(QStringLiteral("alias"));
          if (s->dataset) s->dataset->AddFieldAlias(c.tagName(), alias.isEmpty() ? c.tagName() : alias);
        } else {
          DefinitionWalk(c);
        }
      }
      return;
    }
    for (const QDomElement& c : children) DefinitionWalk(c);
  }

  // The element's own text; an element holding elements has none.
  QString TextOf(const QDomElement& e) const {
    QString text;
    for (QDomNode n = e.firstChild(); !n.isNull(); n = n.nextSibling()) {
      if (n.isElement())
        throw EDataError(QStringLiteral("The data file \"%1\": element <%2> (line %3) holds elements instead of a text value")
                             .arg(FCtx.DataFilePath, e.tagName())
                             .arg(e.lineNumber()));
      if (n.isText() || n.isCDATASection()) text += n.nodeValue();
    }
    return text;
  }

  void StoreValue(TMemField& f, const QString& word, const QString& text, const QLocale& loc) {
    TFieldType type = TypeOfWord(word);
    auto fail = [&](const char* kind) {
      throw EDataError(QStringLiteral("'%1' is not a valid %2 value for field '%3'")
                           .arg(text, QLatin1String(kind), f.FieldName()));
    };
    // An empty text leaves a non-text value empty.
    if (text.trimmed().isEmpty() && type != TFieldType::String && type != TFieldType::Graphic) {
      f.Clear();
      return;
    }
    switch (type) {
      case TFieldType::String: f.SetAsString(text); break;
      case TFieldType::Float: {
        auto v = TextToFloat(text, loc);
        if (!v) fail("floating point");
        f.SetAsFloat(*v);
        break;
      }
      case TFieldType::Integer: {
        auto v = TextToInteger(text);
        if (!v) fail("integer");
        f.SetAsInteger(*v);
        break;
      }
      case TFieldType::Date: {
        auto v = TextToDate(text, loc);
        if (!v) fail("date");
        f.SetAsDateTime(QDateTime(*v, QTime(0, 0)));
        break;
      }
      case TFieldType::Boolean: {
        auto v = TextToBool(text, loc);
        if (!v) fail("boolean");
        f.SetAsBoolean(*v);
        break;
      }
      case TFieldType::Graphic: {
        QString path = text.trimmed();
        if (path.isEmpty()) break;
        if (QFileInfo(path).isRelative()) path = QDir(FDataFolder).filePath(path);
        if (QFileInfo(path).isFile()) f.LoadFromFile(path);
        break;
      }
      case TFieldType::Unknown: break;
    }
  }

  void RowWalk(const QDomElement& e) {
    std::vector<QDomElement> children = Children(e);
    if (children.empty()) return;
    if (TableSlot* s = SlotOf(e)) {
      TMemTable& t = *s->table;
      t.Append();
      for (const QDomElement& c : children) {
        TMemField* f = t.FindField(c.tagName());
        QString word = c.attribute(QStringLiteral("type"));
        if (f && c.hasAttribute(QStringLiteral("type")) && TypeOfWord(word) != TFieldType::Unknown)
          StoreValue(*f, word, TextOf(c), t.Locale());
        else
          RowWalk(c);
      }
      t.Post();
      t.Next();
      return;
    }
    for (const QDomElement& c : children) RowWalk(c);
  }

  TLectureXmlContext& FCtx;
  TableSlot FSlots[3];
  QString FDataFolder;
};

}  // namespace

QString LectureXml(TLectureXmlContext& context) {
  if (!QFileInfo(context.DataFilePath).isFile()) return QString();
  return Loader(context).Run();
}

}  // namespace tessaly
