// Support of the mail tests: a real SMTP server (aiosmtpd under the system
// Python) on 127.0.0.1, a certificate authority and server certificates
// made with the openssl command, and the received messages read back with
// Python's e-mail parser.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

namespace mailtest {

inline const QString kPython = QStringLiteral("/usr/bin/python3");
inline QString Script(const char* name) { return QDir(QStringLiteral(TESSALY_MAIL_TEST_DIR)).filePath(name); }

// Runs a program to its end; answers its exit code (-1 when it did not run)
// and its merged output.
inline int Run(const QString& program, const QStringList& args, QString* output = nullptr, int timeoutMs = 60000) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForStarted(10000)) return -1;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    return -1;
  }
  if (output) *output = QString::fromUtf8(p.readAll());
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A test authority, a server certificate for 127.0.0.1 and localhost
// signed by it, and one for another host name.
class TCertificates {
 public:
  TCertificates() {
    const QString d = FDir.path();
    auto ssl = [&](const QStringList& args) {
      QString out;
      const int rc = Run(QStringLiteral("openssl"), args, &out);
      if (rc != 0) FError += "openssl " + args.join(' ') + ": " + out + "\n";
    };
    auto file = [&](const char* n) { return QDir(d).filePath(n); };
    ssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Tessaly Test CA", "-keyout",
         file("ca.key"), "-out", file("ca.pem"), "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
         "keyUsage=critical,keyCertSign,cRLSign"});
    auto server = [&](const QString& name, const QString& san) {
      ssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + name, "-keyout", file("x.key"), "-out",
           file("x.csr")});
      QFile ext(file("x.ext"));
      if (ext.open(QIODevice::WriteOnly))
        ext.write(("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=" + san + "\n").toUtf8());
      ext.close();
      ssl({"x509", "-req", "-in", file("x.csr"), "-CA", file("ca.pem"), "-CAkey", file("ca.key"), "-CAcreateserial",
           "-days", "2", "-extfile", file("x.ext"), "-out", file((name + ".pem").toUtf8().constData())});
      QFile::rename(file("x.key"), file((name + ".key").toUtf8().constData()));
    };
    server(QStringLiteral("good"), QStringLiteral("IP:127.0.0.1,DNS:localhost"));
    server(QStringLiteral("wrong"), QStringLiteral("DNS:wrong.example"));
  }
  QString Error() const { return FError; }
  QString CA() const { return FDir.filePath("ca.pem"); }
  QString Cert(const QString& which) const { return FDir.filePath(which + ".pem"); }
  QString Key(const QString& which) const { return FDir.filePath(which + ".key"); }

 private:
  QTemporaryDir FDir;
  QString FError;
};

struct TServerOptions {
  QString Tls = QStringLiteral("plain");  // plain, starttls, implicit
  QString Certificate = QStringLiteral("good");
  QString Auth;  // "login:password": AUTH required
};

// One received message: the envelope and the parse of the message.
struct TReceived {
  QString From;
  QStringList Rcpt;
  QString AuthLogin;
  bool Tls = false;
  QJsonObject Message;
};

class TSmtpServer {
 public:
  TSmtpServer(const TCertificates& certs, const TServerOptions& o) {
    QStringList args{Script("smtp_server.py"), "--out", FOut.path(), "--tls", o.Tls};
    if (o.Tls != "plain") args << "--cert" << certs.Cert(o.Certificate) << "--key" << certs.Key(o.Certificate);
    if (!o.Auth.isEmpty()) args << "--auth" << o.Auth;
    FProcess.setProcessChannelMode(QProcess::SeparateChannels);
    FProcess.start(kPython, args);
    if (!FProcess.waitForStarted(10000)) return;
    QElapsedTimer t;
    t.start();
    QByteArray line;
    while (t.elapsed() < 30000 && !line.endsWith('\n')) {
      if (!FProcess.waitForReadyRead(1000) && FProcess.state() != QProcess::Running) break;
      line += FProcess.readLine();
    }
    if (line.startsWith("READY ")) FPort = line.mid(6).trimmed().toInt();
  }
  ~TSmtpServer() {
    if (FProcess.state() == QProcess::NotRunning) return;
    FProcess.closeWriteChannel();
    if (!FProcess.waitForFinished(10000)) {
      FProcess.kill();
      FProcess.waitForFinished();
    }
  }
  int Port() const { return FPort; }
  QString Log() { return QString::fromUtf8(FProcess.readAllStandardError()); }

  int Count() const {
    return static_cast<int>(QDir(FOut.path()).entryList({QStringLiteral("*.env")}, QDir::Files).size());
  }
  // Message n (1-based), read back with Python's e-mail parser.
  TReceived Received(int n) const {
    TReceived r;
    QFile env(QDir(FOut.path()).filePath(QString::number(n) + ".env"));
    if (!env.open(QIODevice::ReadOnly)) return r;
    for (const QString& l : QString::fromUtf8(env.readAll()).split('\n', Qt::SkipEmptyParts)) {
      if (l.startsWith("FROM ")) r.From = l.mid(5);
      if (l.startsWith("RCPT ")) r.Rcpt << l.mid(5);
      if (l.startsWith("AUTH ")) r.AuthLogin = l.mid(5);
      if (l.startsWith("TLS ")) r.Tls = l.mid(4) == "yes";
    }
    QString json;
    Run(kPython, {Script("parse_message.py"), QDir(FOut.path()).filePath(QString::number(n) + ".eml")}, &json);
    r.Message = QJsonDocument::fromJson(json.toUtf8()).object();
    return r;
  }

 private:
  QTemporaryDir FOut;
  QProcess FProcess;
  int FPort = 0;
};

// A port with nobody listening on 127.0.0.1: one the system just gave out
// and that was closed again.
inline int PortSansServeur() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

}  // namespace mailtest
