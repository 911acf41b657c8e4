// Sending one message over SMTP with libcurl, and the MIME message it sends.
//
// TLS modes, as the SMTP account numbers them:
//   0  plain SMTP, never upgraded;
//   1  TLS from the first byte (smtps);
//   2  STARTTLS required: the connection fails when the server does not offer it;
//   3  STARTTLS when the server offers it, plain otherwise.
// TLS peers are always verified: the chain against the system's trust store
// (or the PEM file of the account's CAFile) and the host name against the
// certificate.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

namespace tessaly {

struct TSmtpCompte {
  QString Host;
  int Port = 0;
  int UseTLS = 0;
  QString Login;  // empty: no authentication
  QString Password;
  // PEM file of the authorities trusted for the server; empty: the system's.
  QString CAFile;
  // Bounds of one sending, in seconds: the TCP connection; a server that
  // does not answer a command; a transfer slower than one byte a second.
  int ConnectTimeout = 20;
  int ResponseTimeout = 30;
  int LowSpeedTime = 30;
};

struct TAdresse {
  QString Nom;      // display name, may be empty
  QString Adresse;  // addr-spec
};

struct TMessageMail {
  TAdresse Expediteur;
  QString A, Cc, Cci;  // address lists separated by ";" or ","
  QString Objet;
  QString Corps;
  QStringList PiecesJointes;  // file paths, in order
};

enum class TEtapeEnvoi {
  Envoye,     // the server accepted the message
  Connexion,  // nothing was sent: resolution, connection, TLS, authentication, or a refused account
  Envoi,      // the server refused the message, or the transfer broke off
};

struct TResultatEnvoi {
  TEtapeEnvoi Etape = TEtapeEnvoi::Envoye;
  QString Texte;  // the library's or our text; never holds the password
};

// Splits a list typed in a recipient field: entries separated by ";" or ",",
// each "addr", "<addr>" or "Name <addr>"; blanks around entries are
// dropped, empty entries ignored. Raises std::invalid_argument naming an
// entry that is not an address.
QList<TAdresse> DecouperAdresses(const QString& liste);

// RFC 2047 encoded-words (UTF-8, base 64) for a header text that is not
// plain printable ASCII; the text itself otherwise. Line breaks become blanks.
QByteArray EncodageEntete(const QString& texte);

// The RFC 5322 message: Date, From, To, Cc (never Bcc), Subject,
// Message-ID, a UTF-8 text/plain body and each attachment as a base-64 file
// part carrying its name. Reads the attachments: raises std::runtime_error
// naming a file that cannot be read. Line ends are CRLF.
QByteArray ConstructionMessage(const TMessageMail& message, const QDateTime& date = QDateTime::currentDateTime());

// Sends `message` through the account. Checks the account and the
// addresses before connecting. `attente` (optional) is called regularly
// while the library waits on the network, so that a window can repaint.
TResultatEnvoi EnvoyerMessage(const TSmtpCompte& compte, const TMessageMail& message,
                              const std::function<void()>& attente = {});

}  // namespace tessaly
