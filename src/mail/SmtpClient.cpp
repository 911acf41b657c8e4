#include "SmtpClient.h"

#include <curl/curl.h>

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimeZone>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace tessaly {

namespace {

// Header lines are kept under this length where a break is allowed.
constexpr int kLigneMax = 76;

bool AsciiImprimable(const QString& s) {
  for (QChar c : s)
    if (c.unicode() < 0x20 || c.unicode() > 0x7e) return false;
  return true;
}

QString SansSautsDeLigne(QString s) {
  s.replace(QLatin1String("\r\n"), QLatin1String(" "));
  s.replace(QChar('\r'), QChar(' '));
  s.replace(QChar('\n'), QChar(' '));
  return s;
}

bool AdresseValide(const QString& a) {
  static const QRegularExpression forme(QStringLiteral("^[^@\\s<>\",;()\\[\\]\\\\]+@[^@\\s<>\",;()\\[\\]\\\\]+$"));
  return forme.match(a).hasMatch() && AsciiImprimable(a) && !a.startsWith('.') && !a.endsWith('.');
}

// A display name as a header phrase: quoted when ASCII, encoded-words otherwise.
QByteArray Phrase(const QString& nom) {
  QString n = SansSautsDeLigne(nom).trimmed();
  if (!AsciiImprimable(n)) return EncodageEntete(n);
  QByteArray q = "\"";
  for (QChar c : n) {
    if (c == '"' || c == '\\') q += '\\';
    q += static_cast<char>(c.unicode());
  }
  return q + '"';
}

QByteArray Mailbox(const TAdresse& a) {
  if (a.Nom.trimmed().isEmpty()) return a.Adresse.toLatin1();
  return Phrase(a.Nom) + " <" + a.Adresse.toLatin1() + ">";
}

// "Name: item, item" folded after commas.
QByteArray EnteteListe(const char* nom, const QList<TAdresse>& adresses) {
  QByteArray out = QByteArray(nom) + ": ";
  qsizetype debutLigne = 0;
  for (qsizetype i = 0; i < adresses.size(); ++i) {
    QByteArray item = Mailbox(adresses[i]);
    if (i > 0) {
      out += ',';
      if (out.size() - debutLigne + 1 + item.size() > kLigneMax) {
        out += "\r\n";
        debutLigne = out.size();
      }
      out += ' ';
    }
    out += item;
  }
  return out + "\r\n";
}

QByteArray Base64Lignes(const QByteArray& data) {
  const QByteArray b = data.toBase64();
  QByteArray out;
  out.reserve(b.size() + b.size() / 76 * 2 + 2);
  for (qsizetype i = 0; i < b.size(); i += 76) out += b.mid(i, 76) + "\r\n";
  return out;
}

QString CrLf(QString s) {
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QChar('\r'), QChar('\n'));
  s.replace(QChar('\n'), QLatin1String("\r\n"));
  return s;
}

QByteArray DateRfc5322(const QDateTime& date) {
  const QLocale c = QLocale::c();
  const int decalage = date.offsetFromUtc() / 60;
  const int abs = decalage < 0 ? -decalage : decalage;
  return (c.toString(date, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")) + ' ' + (decalage < 0 ? '-' : '+') +
          QStringLiteral("%1%2").arg(abs / 60, 2, 10, QChar('0')).arg(abs % 60, 2, 10, QChar('0')))
      .toLatin1();
}

QByteArray HexAleatoire(int octets) {
  QByteArray b(octets, 0);
  for (char& c : b) c = static_cast<char>(QRandomGenerator::system()->bounded(256));
  return b.toHex();
}

// An RFC 2231 extended value: UTF-8 with everything but attribute
// characters percent-encoded.
QByteArray Rfc2231(const QString& s) {
  return "UTF-8''" + s.toUtf8().toPercentEncoding(QByteArray(), QByteArray("!#$&+^`{}|~"));
}

QByteArray Quote(const QString& s) {
  QByteArray q = "\"";
  for (QChar c : s) {
    if (c == '"' || c == '\\') q += '\\';
    q += static_cast<char>(c.unicode());
  }
  return q + '"';
}

QByteArray PartiePieceJointe(const QString& chemin) {
  QFile f(chemin);
  if (!f.open(QIODevice::ReadOnly))
    throw std::runtime_error(
        QStringLiteral("la pièce jointe « %1 » ne peut pas être lue (%2).").arg(chemin, f.errorString()).toStdString());
  const QByteArray contenu = f.readAll();
  if (f.error() != QFileDevice::NoError)
    throw std::runtime_error(
        QStringLiteral("la pièce jointe « %1 » ne peut pas être lue (%2).").arg(chemin, f.errorString()).toStdString());
  const QString nom = SansSautsDeLigne(QFileInfo(chemin).fileName());
  QString type = QMimeDatabase().mimeTypeForFile(chemin, QMimeDatabase::MatchExtension).name();
  if (type.isEmpty() || !AsciiImprimable(type)) type = QStringLiteral("application/octet-stream");
  QByteArray p = "Content-Type: " + type.toLatin1();
  QByteArray d = "Content-Disposition: attachment;\r\n ";
  if (AsciiImprimable(nom) && nom.size() < 200) {
    p += ";\r\n name=" + Quote(nom);
    d += "filename=" + Quote(nom);
  } else {
    p += ";\r\n name=\"" + EncodageEntete(nom).replace("\r\n ", " ") + '"';
    d += "filename*=" + Rfc2231(nom);
  }
  return p + "\r\n" + d + "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64Lignes(contenu);
}

void InitialisationCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TLecture {
  const QByteArray* Donnees;
  qsizetype Position = 0;
};

size_t Lire(char* buffer, size_t taille, size_t nombre, void* userp) {
  auto* l = static_cast<TLecture*>(userp);
  const qsizetype reste = l->Donnees->size() - l->Position;
  const qsizetype n = std::min<qsizetype>(reste, static_cast<qsizetype>(taille * nombre));
  if (n > 0) std::memcpy(buffer, l->Donnees->constData() + l->Position, static_cast<size_t>(n));
  l->Position += n;
  return static_cast<size_t>(n);
}

struct TSuivi {
  bool MailFromEnvoye = false;
  const std::function<void()>* Attente = nullptr;
};

// Only the commands sent are looked at, and only to know whether the
// session got as far as MAIL FROM; nothing is kept (AUTH lines carry the
// credentials).
int Debug(CURL*, curl_infotype type, char* data, size_t taille, void* userp) {
  auto* s = static_cast<TSuivi*>(userp);
  if (type == CURLINFO_HEADER_OUT && taille >= 10 && std::strncmp(data, "MAIL FROM:", 10) == 0)
    s->MailFromEnvoye = true;
  return 0;
}

int Progression(void* userp, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* s = static_cast<TSuivi*>(userp);
  if (s->Attente && *s->Attente) (*s->Attente)();
  return 0;
}

TResultatEnvoi Refus(TEtapeEnvoi etape, const QString& texte) { return {etape, texte}; }

}  // namespace

QList<TAdresse> DecouperAdresses(const QString& liste) {
  QList<TAdresse> out;
  // Separators inside a quoted display name belong to the name.
  QStringList entrees(QString{});
  bool guillemets = false;
  for (QChar c : liste) {
    if (c == '"') guillemets = !guillemets;
    if (!guillemets && (c == ';' || c == ','))
      entrees.append(QString());
    else
      entrees.last() += c;
  }
  for (QString entree : entrees) {
    entree = entree.trimmed();
    if (entree.isEmpty()) continue;
    TAdresse a;
    const qsizetype ouvre = entree.lastIndexOf('<');
    if (ouvre >= 0 && entree.endsWith('>')) {
      a.Nom = entree.left(ouvre).trimmed();
      if (a.Nom.size() >= 2 && a.Nom.startsWith('"') && a.Nom.endsWith('"')) a.Nom = a.Nom.mid(1, a.Nom.size() - 2);
      a.Adresse = entree.mid(ouvre + 1, entree.size() - ouvre - 2).trimmed();
    } else {
      a.Adresse = entree;
    }
    if (!AdresseValide(a.Adresse))
      throw std::invalid_argument(
          QStringLiteral("« %1 » n'est pas une adresse électronique valide.").arg(entree).toStdString());
    out.append(a);
  }
  return out;
}

QByteArray EncodageEntete(const QString& texteBrut) {
  const QString texte = SansSautsDeLigne(texteBrut);
  if (AsciiImprimable(texte) && texte.size() < 900) return texte.toLatin1();
  // Encoded-words of at most 45 bytes of UTF-8 each (75 characters once
  // encoded), never splitting a character, folded between words.
  QByteArray out, mot;
  auto ecrire = [&] {
    if (mot.isEmpty()) return;
    if (!out.isEmpty()) out += "\r\n ";
    out += "=?UTF-8?B?" + mot.toBase64() + "?=";
    mot.clear();
  };
  for (char32_t cp : texte.toUcs4()) {
    const QByteArray u = QString::fromUcs4(&cp, 1).toUtf8();
    if (mot.size() + u.size() > 45) ecrire();
    mot += u;
  }
  ecrire();
  return out;
}

QByteArray ConstructionMessage(const TMessageMail& m, const QDateTime& date) {
  const QList<TAdresse> a = DecouperAdresses(m.A), cc = DecouperAdresses(m.Cc);
  QByteArray domaine = "tessaly.localdomain";
  const qsizetype arobase = m.Expediteur.Adresse.indexOf('@');
  if (arobase > 0 && AdresseValide(m.Expediteur.Adresse)) domaine = m.Expediteur.Adresse.mid(arobase + 1).toLatin1();

  QByteArray h;
  h += "Date: " + DateRfc5322(date) + "\r\n";
  h += EnteteListe("From", {m.Expediteur});
  if (!a.isEmpty()) h += EnteteListe("To", a);
  if (!cc.isEmpty()) h += EnteteListe("Cc", cc);
  h += "Subject: " + EncodageEntete(m.Objet) + "\r\n";
  h += "Message-ID: <" + QByteArray::number(date.toSecsSinceEpoch()) + '.' + HexAleatoire(8) + '@' + domaine + ">\r\n";
  h += "MIME-Version: 1.0\r\n";

  const QByteArray texte = "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                           Base64Lignes(CrLf(m.Corps).toUtf8());
  QStringList pieces;
  for (const QString& p : m.PiecesJointes)
    if (!p.isEmpty()) pieces << p;
  if (pieces.isEmpty()) return h + texte;

  // Base 64 never holds "=_", so the boundary cannot appear in a part.
  const QByteArray frontiere = "=_Tessaly_" + HexAleatoire(12);
  QByteArray corps = h + "Content-Type: multipart/mixed; boundary=\"" + frontiere + "\"\r\n\r\n" +
                     "This is a multi-part message in MIME format.\r\n";
  corps += "--" + frontiere + "\r\n" + texte;
  for (const QString& p : pieces) corps += "--" + frontiere + "\r\n" + PartiePieceJointe(p);
  corps += "--" + frontiere + "--\r\n";
  return corps;
}

TResultatEnvoi EnvoyerMessage(const TSmtpCompte& compte, const TMessageMail& message,
                              const std::function<void()>& attente) {
  // The account first: nothing can be sent without a server.
  const QString hote = compte.Host.trimmed();
  if (hote.isEmpty())
    return Refus(TEtapeEnvoi::Connexion, QStringLiteral("aucun serveur SMTP n'est configuré (hôte vide)."));
  static const QRegularExpression formeHote(QStringLiteral("^[A-Za-z0-9._\\-]+$|^\\[?[0-9A-Fa-f:.]+\\]?$"));
  if (!formeHote.match(hote).hasMatch())
    return Refus(TEtapeEnvoi::Connexion, QStringLiteral("l'hôte SMTP « %1 » n'est pas valide.").arg(hote));
  if (compte.Port < 1 || compte.Port > 65535)
    return Refus(TEtapeEnvoi::Connexion,
                 QStringLiteral("le port SMTP %1 n'est pas valide (de 1 à 65535).").arg(compte.Port));
  if (compte.UseTLS < 0 || compte.UseTLS > 3)
    return Refus(TEtapeEnvoi::Connexion,
                 QStringLiteral("le mode TLS %1 n'est pas valide (de 0 à 3).").arg(compte.UseTLS));
  if (!compte.CAFile.isEmpty() && !QFileInfo(compte.CAFile).isReadable())
    return Refus(TEtapeEnvoi::Connexion,
                 QStringLiteral("le fichier des autorités de certification « %1 » ne peut pas être lu.")
                     .arg(compte.CAFile));

  // Then the message, built before connecting so that a bad address or an
  // unreadable attachment costs no connection.
  QList<TAdresse> destinataires;
  QByteArray donnees;
  try {
    if (!AdresseValide(message.Expediteur.Adresse))
      throw std::invalid_argument(
          message.Expediteur.Adresse.isEmpty()
              ? std::string("l'adresse de l'expéditeur n'est pas renseignée (Configuration SMTP).")
              : QStringLiteral("l'adresse de l'expéditeur « %1 » n'est pas valide.")
                    .arg(message.Expediteur.Adresse)
                    .toStdString());
    // One RCPT per mailbox, even when it is named in several fields.
    QStringList vus;
    for (const TAdresse& d :
         DecouperAdresses(message.A) + DecouperAdresses(message.Cc) + DecouperAdresses(message.Cci)) {
      if (vus.contains(d.Adresse, Qt::CaseInsensitive)) continue;
      vus << d.Adresse;
      destinataires << d;
    }
    if (destinataires.isEmpty()) throw std::invalid_argument("aucun destinataire n'est indiqué.");
    donnees = ConstructionMessage(message);
  } catch (const std::exception& e) {
    return Refus(TEtapeEnvoi::Envoi, QString::fromUtf8(e.what()));
  }

  InitialisationCurl();
  CURL* curl = curl_easy_init();
  if (!curl) return Refus(TEtapeEnvoi::Connexion, QStringLiteral("la bibliothèque SMTP ne peut pas démarrer."));

  QString hoteUrl = hote;
  if (hoteUrl.contains(':') && !hoteUrl.startsWith('[')) hoteUrl = '[' + hoteUrl + ']';
  const QByteArray url =
      QStringLiteral("%1://%2:%3")
          .arg(compte.UseTLS == 1 ? QLatin1String("smtps") : QLatin1String("smtp"), hoteUrl)
          .arg(compte.Port)
          .toUtf8();
  const QByteArray from = '<' + message.Expediteur.Adresse.toLatin1() + '>';
  curl_slist* rcpt = nullptr;
  for (const TAdresse& d : destinataires) rcpt = curl_slist_append(rcpt, ('<' + d.Adresse.toLatin1() + '>').constData());
  const QByteArray login = compte.Login.toUtf8(), motDePasse = compte.Password.toUtf8();
  const QByteArray caFile = compte.CAFile.toLocal8Bit();
  char erreur[CURL_ERROR_SIZE] = {0};
  TLecture lecture{&donnees};
  TSuivi suivi;
  suivi.Attente = &attente;

  curl_easy_setopt(curl, CURLOPT_URL, url.constData());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, erreur);
  switch (compte.UseTLS) {
    case 0: curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_NONE)); break;
    case 3: curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY)); break;
    default: curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL)); break;
  }
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!caFile.isEmpty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
  if (!login.isEmpty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, login.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, motDePasse.constData());
  }
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, Lire);
  curl_easy_setopt(curl, CURLOPT_READDATA, &lecture);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(donnees.size()));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(compte.ConnectTimeout));
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(compte.ResponseTimeout));
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(compte.LowSpeedTime));
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, Debug);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &suivi);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progression);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &suivi);

  const CURLcode code = curl_easy_perform(curl);
  curl_slist_free_all(rcpt);
  curl_easy_cleanup(curl);

  if (code == CURLE_OK) return {TEtapeEnvoi::Envoye, QString()};
  QString texte = QString::fromUtf8(erreur).trimmed();
  if (texte.isEmpty()) texte = QString::fromUtf8(curl_easy_strerror(code));
  return Refus(suivi.MailFromEnvoye ? TEtapeEnvoi::Envoi : TEtapeEnvoi::Connexion, texte);
}

}  // namespace tessaly
