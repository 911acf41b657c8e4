// The SMTP client end to end: messages sent to a real SMTP server on
// 127.0.0.1 in each TLS mode, read back with Python's e-mail parser.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include "MailTestSupport.h"
#include "SmtpClient.h"

using namespace tessaly;
using mailtest::TCertificates;
using mailtest::TServerOptions;
using mailtest::TSmtpServer;

namespace {

class SmtpEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { certs = new TCertificates(); }
  static void TearDownTestSuite() {
    delete certs;
    certs = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(certs->Error().isEmpty()) << certs->Error().toStdString(); }

  TSmtpCompte Compte(int port, int tls) const {
    TSmtpCompte c;
    c.Host = QStringLiteral("127.0.0.1");
    c.Port = port;
    c.UseTLS = tls;
    c.CAFile = certs->CA();
    c.ConnectTimeout = 10;
    c.ResponseTimeout = 10;
    c.LowSpeedTime = 10;
    return c;
  }
  static TMessageMail Simple() {
    TMessageMail m;
    m.Expediteur = {QStringLiteral("Agence"), QStringLiteral("agence@corvanel.test")};
    m.A = QStringLiteral("client@example.test");
    m.Objet = QStringLiteral("Corvanel - DEVIS");
    m.Corps = QStringLiteral("Bonjour");
    return m;
  }
  QByteArray Write(const QString& name, const QByteArray& data) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    return data;
  }

  static TCertificates* certs;
  QTemporaryDir dir;
};
TCertificates* SmtpEndToEnd::certs = nullptr;

TEST_F(SmtpEndToEnd, PlainMessageArrivesWhole) {
  TSmtpServer server(*certs, {});
  ASSERT_GT(server.Port(), 0) << server.Log().toStdString();

  QByteArray pdf("%PDF-1.7\n");
  for (int i = 0; i < 70000; ++i) pdf += static_cast<char>((i * 7919) % 256);  // every byte value, long lines
  pdf += "\r\n.\r\n..\n.";  // what would end the DATA phase if sent as is
  const QByteArray note = Write(QStringLiteral("Notice thermique été.txt"), "ligne 1\n.\nUw = 1,3 W/m²K\n");
  Write(QStringLiteral("0000000012000320261210150000_Devis Fenêtres.pdf"), pdf);

  TMessageMail m;
  m.Expediteur = {QStringLiteral("Société Corvanel – Agence d'Épinal"), QStringLiteral("devis@corvanel.test")};
  m.A = QStringLiteral(" Jean Dupont <jean.dupont@client.test>; achat@client.test ,");
  m.Cc = QStringLiteral("\"Bureau, d'études\" <be@corvanel.test>");
  m.Cci = QStringLiteral("archive@corvanel.test;compta@corvanel.test;ACHAT@client.test");
  m.Objet = QStringLiteral("Corvanel - DEVIS FENÊTRES À L'ÉTAGE – réf. « 2026/0042 » avec un objet assez long pour "
                           "être replié sur plusieurs lignes d'en-tête");
  m.Corps = QStringLiteral("Bonjour Madame Lefèvre,\n\nVeuillez trouver ci-joint notre devis.\r\n.\nCordialement,\r"
                           "L'équipe Corvanel — 5 €");
  m.PiecesJointes = {dir.filePath("0000000012000320261210150000_Devis Fenêtres.pdf"), QString(),
                     dir.filePath("Notice thermique été.txt")};

  const TResultatEnvoi r = EnvoyerMessage(Compte(server.Port(), 0), m);
  ASSERT_EQ(r.Etape, TEtapeEnvoi::Envoye) << r.Texte.toStdString();
  ASSERT_EQ(server.Count(), 1);
  const auto got = server.Received(1);

  // Envelope: every recipient, the blind copies included.
  EXPECT_EQ(got.From, "devis@corvanel.test");
  EXPECT_EQ(got.Rcpt, (QStringList{"jean.dupont@client.test", "achat@client.test", "be@corvanel.test",
                                   "archive@corvanel.test", "compta@corvanel.test"}));
  EXPECT_FALSE(got.Tls);
  EXPECT_TRUE(got.AuthLogin.isEmpty());

  const QJsonObject& msg = got.Message;
  ASSERT_FALSE(msg.isEmpty());
  EXPECT_EQ(msg["defects"].toArray().size(), 0) << QJsonDocument(msg["defects"].toArray()).toJson().toStdString();
  EXPECT_EQ(msg["from_name"].toString(), QStringLiteral("Société Corvanel – Agence d'Épinal"));
  EXPECT_EQ(msg["from_addr"].toString(), "devis@corvanel.test");
  EXPECT_EQ(msg["to"].toArray(), QJsonArray({"jean.dupont@client.test", "achat@client.test"}));
  EXPECT_EQ(msg["to_names"].toArray().at(0).toString(), "Jean Dupont");
  EXPECT_EQ(msg["cc"].toArray(), QJsonArray({"be@corvanel.test"}));
  EXPECT_FALSE(msg["has_bcc"].toBool());
  EXPECT_EQ(msg["subject"].toString(), m.Objet);
  EXPECT_TRUE(msg["date_ok"].toBool()) << msg["date"].toString().toStdString();
  EXPECT_TRUE(msg["message_id"].toString().endsWith("@corvanel.test>")) << msg["message_id"].toString().toStdString();
  EXPECT_EQ(msg["mime_version"].toString(), "1.0");
  EXPECT_FALSE(msg["long_lines"].toBool());
  EXPECT_FALSE(msg["bare_lf"].toBool());
  // The body in UTF-8, every line break sent as CRLF.
  EXPECT_EQ(msg["body_charset"].toString().toLower(), "utf-8");
  EXPECT_EQ(msg["body"].toString(), QStringLiteral("Bonjour Madame Lefèvre,\r\n\r\nVeuillez trouver ci-joint notre "
                                                   "devis.\r\n.\r\nCordialement,\r\nL'équipe Corvanel — 5 €"));
  // Attachments in order, with their names, byte for byte; the empty entry is skipped.
  const QJsonArray att = msg["attachments"].toArray();
  ASSERT_EQ(att.size(), 2);
  EXPECT_EQ(att[0]["filename"].toString(), QStringLiteral("0000000012000320261210150000_Devis Fenêtres.pdf"));
  EXPECT_EQ(att[0]["type"].toString(), "application/pdf");
  EXPECT_EQ(QByteArray::fromBase64(att[0]["data"].toString().toLatin1()), pdf);
  EXPECT_EQ(att[1]["filename"].toString(), QStringLiteral("Notice thermique été.txt"));
  EXPECT_EQ(QByteArray::fromBase64(att[1]["data"].toString().toLatin1()), note);
}

// Each TLS mode against servers that offer TLS in one way or another.
TEST_F(SmtpEndToEnd, TlsModes) {
  struct Case {
    const char* name;
    const char* server;  // plain, starttls, implicit
    const char* certificate;
    int mode;
    bool useAuthority;
    TEtapeEnvoi expected;
    bool tlsOnServer;
    const char* textPart;  // in the failure text
  } cases[] = {
      {"plain never upgraded", "starttls", "good", 0, true, TEtapeEnvoi::Envoye, false, ""},
      {"implicit", "implicit", "good", 1, true, TEtapeEnvoi::Envoye, true, ""},
      {"required, offered", "starttls", "good", 2, true, TEtapeEnvoi::Envoye, true, ""},
      {"required, not offered", "plain", "good", 2, true, TEtapeEnvoi::Connexion, false, "STARTTLS"},
      {"explicit, offered", "starttls", "good", 3, true, TEtapeEnvoi::Envoye, true, ""},
      {"explicit, not offered", "plain", "good", 3, true, TEtapeEnvoi::Envoye, false, ""},
      {"implicit, wrong host name", "implicit", "wrong", 1, true, TEtapeEnvoi::Connexion, false, "127.0.0.1"},
      {"required, wrong host name", "starttls", "wrong", 2, true, TEtapeEnvoi::Connexion, false, "127.0.0.1"},
      {"explicit, wrong host name", "starttls", "wrong", 3, true, TEtapeEnvoi::Connexion, false, "127.0.0.1"},
      {"implicit, authority not trusted", "implicit", "good", 1, false, TEtapeEnvoi::Connexion, false,
       "certificate"},
      {"required, authority not trusted", "starttls", "good", 2, false, TEtapeEnvoi::Connexion, false,
       "certificate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TServerOptions o;
    o.Tls = QString::fromLatin1(c.server);
    o.Certificate = QString::fromLatin1(c.certificate);
    TSmtpServer server(*certs, o);
    ASSERT_GT(server.Port(), 0) << server.Log().toStdString();
    TSmtpCompte compte = Compte(server.Port(), c.mode);
    if (!c.useAuthority) compte.CAFile.clear();
    const TResultatEnvoi r = EnvoyerMessage(compte, Simple());
    EXPECT_EQ(r.Etape, c.expected) << r.Texte.toStdString();
    if (c.expected == TEtapeEnvoi::Envoye) {
      ASSERT_EQ(server.Count(), 1);
      EXPECT_EQ(server.Received(1).Tls, c.tlsOnServer);
      EXPECT_EQ(server.Received(1).Message["subject"].toString(), "Corvanel - DEVIS");
    } else {
      EXPECT_EQ(server.Count(), 0);
      EXPECT_FALSE(r.Texte.isEmpty());
      EXPECT_TRUE(r.Texte.contains(QLatin1String(c.textPart), Qt::CaseInsensitive)) << r.Texte.toStdString();
    }
  }
}

TEST_F(SmtpEndToEnd, Authentication) {
  const char* secret = "S3cr3t-pässword";
  struct Case {
    const char* name;
    const char* server;
    int mode;
    const char* login;
    const char* password;
    TEtapeEnvoi expected;
  } cases[] = {
      {"accepted over STARTTLS", "starttls", 2, "agence12", secret, TEtapeEnvoi::Envoye},
      {"accepted over implicit TLS", "implicit", 1, "agence12", secret, TEtapeEnvoi::Envoye},
      {"accepted in clear", "plain", 0, "agence12", secret, TEtapeEnvoi::Envoye},
      {"wrong password", "starttls", 2, "agence12", "S3cr3t-wrong", TEtapeEnvoi::Connexion},
      {"unknown login", "implicit", 1, "inconnu", secret, TEtapeEnvoi::Connexion},
      // No login: no AUTH, and the server wants one before MAIL.
      {"no login", "starttls", 2, "", "", TEtapeEnvoi::Envoi},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TServerOptions o;
    o.Tls = QString::fromLatin1(c.server);
    o.Auth = QStringLiteral("agence12:") + QString::fromUtf8(secret);
    TSmtpServer server(*certs, o);
    ASSERT_GT(server.Port(), 0) << server.Log().toStdString();
    TSmtpCompte compte = Compte(server.Port(), c.mode);
    compte.Login = QString::fromUtf8(c.login);
    compte.Password = QString::fromUtf8(c.password);
    const TResultatEnvoi r = EnvoyerMessage(compte, Simple());
    EXPECT_EQ(r.Etape, c.expected) << r.Texte.toStdString();
    EXPECT_FALSE(r.Texte.contains(QLatin1String("S3cr3t"))) << r.Texte.toStdString();
    if (c.expected == TEtapeEnvoi::Envoye) {
      ASSERT_EQ(server.Count(), 1);
      EXPECT_EQ(server.Received(1).AuthLogin, "agence12");
    } else {
      EXPECT_EQ(server.Count(), 0);
    }
  }
}

TEST_F(SmtpEndToEnd, ServerNotListening) {
  const int port = mailtest::PortSansServeur();
  ASSERT_GT(port, 0);
  for (int mode : {0, 1, 2, 3}) {
    SCOPED_TRACE(mode);
    const TResultatEnvoi r = EnvoyerMessage(Compte(port, mode), Simple());
    EXPECT_EQ(r.Etape, TEtapeEnvoi::Connexion);
    EXPECT_FALSE(r.Texte.isEmpty());
  }
  // A host name that does not resolve (the .invalid domain never does).
  TSmtpCompte compte = Compte(25, 3);
  compte.Host = QStringLiteral("tessaly-test.invalid");
  const TResultatEnvoi r = EnvoyerMessage(compte, Simple());
  EXPECT_EQ(r.Etape, TEtapeEnvoi::Connexion);
  EXPECT_TRUE(r.Texte.contains(QLatin1String("tessaly-test.invalid"))) << r.Texte.toStdString();
}

// A server that takes the connection and never greets: the response
// time-out ends the wait, as a connection failure.
TEST_F(SmtpEndToEnd, SilentServerTimesOut) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(s, 4), 0);
  ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n), 0);
  TSmtpCompte compte = Compte(ntohs(a.sin_port), 3);
  compte.ResponseTimeout = 2;
  int appels = 0;
  QElapsedTimer t;
  t.start();
  const TResultatEnvoi r = EnvoyerMessage(compte, Simple(), [&] { ++appels; });
  ::close(s);
  EXPECT_EQ(r.Etape, TEtapeEnvoi::Connexion) << r.Texte.toStdString();
  EXPECT_LT(t.elapsed(), 10000);
  EXPECT_GT(appels, 0);  // the caller could repaint while waiting
}

// What cannot work is refused before any connection, with a clear text.
TEST(SmtpRefusals, AccountAndMessageCheckedBeforeConnecting) {
  struct Case {
    const char* name;
    QString host;
    int port, tls;
    QString from, to;
    TEtapeEnvoi expected;
    const char* textPart;
  } cases[] = {
      {"empty host", "  ", 25, 0, "a@b.test", "c@d.test", TEtapeEnvoi::Connexion, "hôte vide"},
      {"port 0", "127.0.0.1", 0, 0, "a@b.test", "c@d.test", TEtapeEnvoi::Connexion, "port SMTP 0"},
      {"port 65536", "127.0.0.1", 65536, 0, "a@b.test", "c@d.test", TEtapeEnvoi::Connexion, "65536"},
      {"negative port", "127.0.0.1", -25, 0, "a@b.test", "c@d.test", TEtapeEnvoi::Connexion, "-25"},
      {"host with a path", "mail.test/x", 25, 0, "a@b.test", "c@d.test", TEtapeEnvoi::Connexion, "mail.test/x"},
      {"unknown TLS mode", "127.0.0.1", 25, -1, "a@b.test", "c@d.test", TEtapeEnvoi::Connexion, "mode TLS -1"},
      {"no sender", "127.0.0.1", 25, 0, "", "c@d.test", TEtapeEnvoi::Envoi, "expéditeur"},
      {"no recipient", "127.0.0.1", 25, 0, "a@b.test", " ; ", TEtapeEnvoi::Envoi, "destinataire"},
      {"bad recipient", "127.0.0.1", 25, 0, "a@b.test", "c@d.test; Jean Dupont", TEtapeEnvoi::Envoi,
       "« Jean Dupont »"},
      {"header injection", "127.0.0.1", 25, 0, "a@b.test", "c@d.test\r\nBcc: x@y.test", TEtapeEnvoi::Envoi,
       "valide"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSmtpCompte compte;
    compte.Host = c.host;
    compte.Port = c.port;
    compte.UseTLS = c.tls;
    TMessageMail m;
    m.Expediteur.Adresse = c.from;
    m.A = c.to;
    const TResultatEnvoi r = EnvoyerMessage(compte, m);
    EXPECT_EQ(r.Etape, c.expected);
    EXPECT_TRUE(r.Texte.contains(QString::fromUtf8(c.textPart))) << r.Texte.toStdString();
  }
  // A missing attachment is named.
  TSmtpCompte compte;
  compte.Host = QStringLiteral("127.0.0.1");
  compte.Port = mailtest::PortSansServeur();
  TMessageMail m;
  m.Expediteur.Adresse = QStringLiteral("a@b.test");
  m.A = QStringLiteral("c@d.test");
  m.PiecesJointes = {QStringLiteral("/nonexistent/devis.pdf")};
  const TResultatEnvoi r = EnvoyerMessage(compte, m);
  EXPECT_EQ(r.Etape, TEtapeEnvoi::Envoi);
  EXPECT_TRUE(r.Texte.contains(QLatin1String("/nonexistent/devis.pdf"))) << r.Texte.toStdString();
}

TEST(SmtpAddresses, ListsSplitOnSemicolonsAndCommas) {
  const auto l = DecouperAdresses(QStringLiteral("a@b.test;c@d.test , \"Éric L.\" <e@f.test>;; <g@h.test>"));
  ASSERT_EQ(l.size(), 4);
  EXPECT_EQ(l[0].Adresse, "a@b.test");
  EXPECT_EQ(l[1].Adresse, "c@d.test");
  EXPECT_EQ(l[2].Nom, QStringLiteral("Éric L."));
  EXPECT_EQ(l[2].Adresse, "e@f.test");
  EXPECT_EQ(l[3].Adresse, "g@h.test");
  EXPECT_TRUE(DecouperAdresses(QStringLiteral("  ")).isEmpty());
  for (const char* bad : {"jean", "a@b@c", "a b@c.test", "@c.test", "a@", "<a@b.test"})
    EXPECT_THROW(DecouperAdresses(QString::fromLatin1(bad)), std::invalid_argument) << bad;
}

}  // namespace
