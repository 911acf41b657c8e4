#include "DocumentTables.h"

#include <QFileInfo>

#include "DataError.h"
#include "sdb/SDBComponents.h"
#include "settings/DataModuleSdb.h"
#include "ui/Dialogs.h"
#include "settings/SettingsText.h"
#include "ReadXml.h"
#include "Report.h"

namespace tessaly {

namespace {

struct ConfigField {
  const char* name;
  TFieldType type;
  int size;
  const char* alias;
};
// Texts longer than their size are kept whole: the size is what templates
// are told to expect, not a limit worth losing a customer's terms over.
const ConfigField kConfigFields[] = {
    {"Logo", TFieldType::Graphic, 0, "Logo"},
    {"CGV", TFieldType::String, 255, "CGV"},
    {"QCM", TFieldType::String, 255, "QCM"},
    {"PiedDePage1", TFieldType::String, 500, "Pied de page 1"},
    {"PiedDePage2", TFieldType::String, 500, "Pied de page 2"},
    {"DebutLigne", TFieldType::String, 1000, "Début de ligne"},
    {"FinLigne", TFieldType::String, 1000, "Fin de ligne"},
    {"Croquis", TFieldType::Boolean, 0, "Croquis"},
    {"Dimensions", TFieldType::Boolean, 0, "Dimensions"},
    {"Fournisseurs", TFieldType::Boolean, 0, "Fournisseurs"},
};

const QString kId = QStringLiteral("Id");
const QString kModele = QStringLiteral("Modele");

QString Decoded(const QString& v) { return QString::fromStdString(DecodeSettingsLineBreaks(v.toStdString())); }

bool IsLineRow(TMemTable& lines) {
  TMemField* id = lines.FindField(kId);
  return id && !lines.IsEmpty() && !id->IsNull() && id->AsInteger() == -1;
}

void AddLineRow(TMemTable& lines, const QString& text, bool start) {
  if (start) {
    lines.First();
    lines.Insert();
  } else {
    lines.Append();
  }
  lines.FieldByName(kId).SetAsInteger(-1);
  lines.FieldByName(kModele).SetAsString(text);
  if (TMemField* t = lines.FindField(QStringLiteral("TotalTVACorse"))) t->SetAsFloat(-1);
  lines.Post();
}

void EnsureConfigTable(TDocumentTables& t) {
  bool same = t.Config.Active() && t.Config.FieldDefCount() == static_cast<int>(std::size(kConfigFields));
  if (same) {
    for (int i = 0; i < t.Config.FieldDefCount(); ++i)
      if (t.Config.FieldDef(i).Name != QLatin1String(kConfigFields[i].name)) same = false;
  }
  if (same) return;
  t.Config.Close();
  t.Config.ClearFieldDefs();
  t.DsConfig.ClearFieldAliases();
  for (const auto& f : kConfigFields) {
    t.Config.AddFieldDef(QLatin1String(f.name), f.type, f.size);
    t.DsConfig.AddFieldAlias(QLatin1String(f.name), QString::fromUtf8(f.alias));
  }
  t.Config.CreateDataSet();
}

}  // namespace

TDocumentTables::TDocumentTables()
    : Header(QStringLiteral("header")),
      Lines(QStringLiteral("ligne")),
      Descriptions(QStringLiteral("ligne_description")),
      Config(QStringLiteral("configuration")),
      DsHeader(kDatasetHeader, &Header),
      DsLines(kDatasetLines, &Lines),
      DsDescriptions(kDatasetDescriptions, &Descriptions),
      DsConfig(kDatasetConfig, &Config) {
  Descriptions.SetMasterSource(&Lines);
  EnsureConfigTable(*this);
}

void TDocumentTables::BindTo(report::TfrxReport& report) {
  for (TReportDataset* d : {&DsHeader, &DsLines, &DsDescriptions, &DsConfig})
    if (!report.FindDataset(d->UserName())) report.AddDataset(d);
}

QString TDocumentTables::LectureXml(const QString& path) {
  TLectureXmlContext ctx{path, &Header, &Lines, &Descriptions, &DsHeader, &DsLines, &DsDescriptions};
  QString name = tessaly::LectureXml(ctx);
  for (TReportDataset* d : {&DsHeader, &DsLines, &DsDescriptions}) d->Refresh();
  return name;
}

QString TDocumentTables::HeaderText(const QString& name, bool* found) {
  TMemField* f = Header.Active() ? Header.FindField(name) : nullptr;
  if (found) *found = f != nullptr;
  if (!f) return QString();
  Header.First();
  return Header.IsEmpty() ? QString() : f->AsString();
}

bool TDocumentTables::LinesHaveField(const QString& name) const {
  return Lines.Active() && Lines.FindFieldDef(name) >= 0;
}

QStringList TDocumentTables::LineTexts(const QString& name) {
  QStringList texts;
  TMemField* f = Lines.Active() ? Lines.FindField(name) : nullptr;
  if (!f) return texts;
  for (Lines.First(); !Lines.Eof(); Lines.Next()) texts.append(f->AsString());
  Lines.First();
  return texts;
}

void OuvertureParametres(TDataModuleSdb& store, const QString& path) {
  if (path.isEmpty())
    throw EDataError(QStringLiteral("Aucune base de paramètres n'est connue : le fichier Tessaly.ini est absent du "
                                    "dossier de l'application."));
  if (!QFileInfo(path).isFile())
    throw EDataError(QStringLiteral("La base de paramètres \"%1\" n'existe pas.").arg(path));
  // The questions of the open go to the user through the application's
  // dialogs (scripted in tests, answered No when unattended).
  sdb::TSDBDatabase& db = store.Parametres();
  db.ConfirmDialog = [path](const std::string&) {
    return ui::AskYesNo(QStringLiteral("La base de paramètres \"%1\" n'a pas été fermée correctement la dernière "
                                       "fois. Voulez-vous la réparer ?")
                            .arg(path));
  };
  db.InformationBox = [](const std::string& text) { ui::ShowMessage(QString::fromUtf8(text)); };
  db.WarningBox = [](const std::string& text) { ui::ShowMessage(QString::fromUtf8(text)); };
  // A wrong password asks again until the user cancels.
  db.PasswordDialog = [path](sdb::TSDBDatabase& d) {
    QString password;
    if (!ui::Dialogs().Password(nullptr, QStringLiteral("Mot de passe de la base de paramètres \"%1\" :").arg(path),
                                password))
      return false;
    d.Password = password.toStdString();
    return true;
  };
  QString why;
  try {
    if (store.OuvertureBDD(path.toStdString())) {
      if (db.RepairNeeded())
        ui::ShowMessage(QStringLiteral("La base de paramètres \"%1\" est ouverte sans réparation : elle n'a pas été "
                                       "fermée correctement et son contenu peut être incomplet. Réparez-la "
                                       "(tessaly-db repair) dès que personne ne l'utilise.")
                            .arg(path));
      return;
    }
  } catch (const std::exception& e) {
    why = ExceptionMessage(e);
  }
  throw EDataError(QStringLiteral("La base de paramètres \"%1\" ne peut pas être ouverte%2")
                       .arg(path, why.isEmpty() ? QStringLiteral(".") : QStringLiteral(" : ") + why));
}

TConfigurationValues LectureValeursConfiguration(TDataModuleSdb& store, const QString& agence,
                                                 const QString& utilisateur, const QString& section) {
  const std::string a = agence.toStdString(), u = utilisateur.toStdString(), s = section.toStdString();
  auto read = [&](const char* key) { return QString::fromStdString(store.LectureChaine(a, u, s, key, "")); };
  TConfigurationValues v;
  v.Logo = read("Logo");
  v.CGV = read("CGV");
  v.QCM = read("QCM");
  v.PiedDePage1 = read("PiedDePage1");
  v.PiedDePage2 = read("PiedDePage2");
  v.DebutLigne = read("DebutLigne");
  v.FinLigne = read("FinLigne");
  return v;
}

void AppliquerReglages(TConfigurationValues& values, const QStringList& settings) {
  for (const QString& s : settings) {
    const qsizetype eq = s.indexOf('=');
    if (eq <= 0) throw EDataError(QStringLiteral("--set expects FIELD=VALUE, not \"%1\"").arg(s));
    const QString key = s.left(eq).trimmed();
    const QString value = s.mid(eq + 1);
    QString field;
    for (const auto& f : kConfigFields)
      if (key.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0 ||
          key.compare(QString::fromUtf8(f.alias), Qt::CaseInsensitive) == 0)
        field = QLatin1String(f.name);
    auto flag = [&](bool& b) {
      const QString v = value.trimmed().toLower();
      if (v == QLatin1String("true") || v == QLatin1String("1")) b = true;
      else if (v == QLatin1String("false") || v == QLatin1String("0")) b = false;
      else throw EDataError(QStringLiteral("%1 expects true or false, not \"%2\"").arg(field, value));
    };
    if (field == QLatin1String("Logo")) values.Logo = value;
    else if (field == QLatin1String("CGV")) values.CGV = value;
    else if (field == QLatin1String("QCM")) values.QCM = value;
    else if (field == QLatin1String("PiedDePage1")) values.PiedDePage1 = value;
    else if (field == QLatin1String("PiedDePage2")) values.PiedDePage2 = value;
    else if (field == QLatin1String("DebutLigne")) values.DebutLigne = value;
    else if (field == QLatin1String("FinLigne")) values.FinLigne = value;
    else if (field == QLatin1String("Croquis")) flag(values.Croquis);
    else if (field == QLatin1String("Dimensions")) flag(values.Dimensions);
    else if (field == QLatin1String("Fournisseurs")) flag(values.Fournisseurs);
    else throw EDataError(QStringLiteral("Unknown configuration field \"%1\"").arg(key));
  }
}

void ConstructionConfiguration(TDocumentTables& t, const TConfigurationValues& v) {
  // The record.
  EnsureConfigTable(t);
  TMemTable& c = t.Config;
  if (c.State() != TDataSetState::Browse) c.Cancel();
  c.EmptyDataSet();
  c.Append();
  c.FieldByName(QStringLiteral("Croquis")).SetAsBoolean(v.Croquis);
  if (!v.Logo.isEmpty() && QFileInfo(v.Logo).isFile()) c.FieldByName(QStringLiteral("Logo")).LoadFromFile(v.Logo);
  if (!v.CGV.isEmpty()) c.FieldByName(QStringLiteral("CGV")).SetAsString(Decoded(v.CGV));
  if (!v.QCM.isEmpty()) c.FieldByName(QStringLiteral("QCM")).SetAsString(Decoded(v.QCM));
  if (!v.PiedDePage1.isEmpty()) c.FieldByName(QStringLiteral("PiedDePage1")).SetAsString(v.PiedDePage1);
  if (!v.PiedDePage2.isEmpty()) c.FieldByName(QStringLiteral("PiedDePage2")).SetAsString(Decoded(v.PiedDePage2));
  c.FieldByName(QStringLiteral("Fournisseurs")).SetAsBoolean(v.Fournisseurs);
  c.FieldByName(QStringLiteral("Dimensions")).SetAsBoolean(v.Dimensions);
  c.Post();
  c.First();

  // The line start and end rows.
  TMemTable& lines = t.Lines;
  const bool wanted = !v.DebutLigne.isEmpty() || !v.FinLigne.isEmpty();
  if (!lines.Active() && lines.FieldDefCount() == 0 && wanted) {
    // A document without any line still prints its start and end texts.
    lines.AddFieldDef(kId, TFieldType::Integer);
    lines.AddFieldDef(kModele, TFieldType::String, 1000);
    lines.AddFieldDef(QStringLiteral("TotalTVACorse"), TFieldType::Float);
    lines.CreateDataSet();
  }
  // Lines without Id or Modele cannot carry the rows; the document still
  // prints without them rather than not at all.
  if (!lines.Active() || !lines.FindField(kId) || !lines.FindField(kModele)) return;
  if (lines.State() != TDataSetState::Browse) lines.Cancel();
  // In index order by Id both rows would come first; the document reads them
  // before and after the product lines, which keep their current order.
  if (!lines.IndexFieldNames().isEmpty()) lines.SetIndexFieldNames(QString());
  // Our rows of an earlier run: the first row and the last row with Id -1.
  lines.First();
  if (IsLineRow(lines)) lines.Delete();
  lines.Last();
  if (IsLineRow(lines)) lines.Delete();
  if (!v.DebutLigne.isEmpty()) AddLineRow(lines, v.DebutLigne, true);
  if (!v.FinLigne.isEmpty()) AddLineRow(lines, v.FinLigne, false);
  lines.First();
}

}  // namespace tessaly
