#pragma once
// Certificates made for one test run with the openssl tool: a CA and a server certificate
// it signed for 127.0.0.1, and a self-signed one that nothing trusts.
#include <QProcess>
#include <QSslConfiguration>
#include <QSslCertificate>
#include <QTemporaryDir>

namespace vt::test {

struct TlsCertificates {
    QTemporaryDir dir;
    bool ok = true;
    QString path(const char *name) const { return dir.path() + '/' + QLatin1String(name); }
    QString signedPair() const { return path("server.pem") + ':' + path("server.key"); }
    QString selfPair() const { return path("self.pem") + ':' + path("self.key"); }

    TlsCertificates()
    {
        const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        run(QStringList{"req", "-x509"} + ec + QStringList{"-keyout", path("ca.key"), "-out", path("ca.pem"), "-days", "2", "-subj",
                                                            "/CN=Vantrel Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                                                            "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
        run(QStringList{"req"} + ec + QStringList{"-keyout", path("server.key"), "-out", path("server.csr"), "-subj", "/CN=127.0.0.1"});
        QFile ext(path("ext.cnf"));
        ok = ok && ext.open(QIODevice::WriteOnly);
        ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n");
        ext.close();
        run({"x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"), "-CAcreateserial",
             "-out", path("server.pem"), "-days", "2", "-extfile", path("ext.cnf")});
        run(QStringList{"req", "-x509"} + ec + QStringList{"-keyout", path("self.key"), "-out", path("self.pem"), "-days", "2",
                                                            "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    }
    // The test CA joins the trust store of sockets made from now on.
    void trustCa() const
    {
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.addCaCertificates(QSslCertificate::fromPath(path("ca.pem")));
        QSslConfiguration::setDefaultConfiguration(c);
    }

private:
    void run(const QStringList &args)
    {
        QProcess p;
        p.start(QStringLiteral("openssl"), args);
        ok = ok && p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
};

} // namespace vt::test
