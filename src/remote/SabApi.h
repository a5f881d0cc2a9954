#pragma once
// The API automation tools speak to a download client of SABnzbd's kind: /api?mode=...
// with the key, answered in JSON as that API answers. No socket here: a request's parts
// in, the answer out; RemoteServer carries them.
#include "Jobs.h"
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>

namespace vt {

class Engine;

struct HttpCall {
    QByteArray method;                            // GET, POST
    QList<QPair<QString, QString>> query;         // decoded
    QByteArray contentType, body;
    QString peer;                                 // the caller's address
    QByteArray apiKeyHeader;                      // X-Api-Key, when sent
    bool signedIn = false;                        // the web page's user name and password were right
};

struct HttpAnswer {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
};

// Compares a secret in a time that does not tell how much of it was right.
bool sameSecret(const QByteArray &want, const QByteArray &got);

class SabApi {
public:
    SabApi(Engine &engine, Jobs &jobs);

    HttpAnswer handle(const HttpCall &call);
    // The version this API answers as: the tools check it against what they need.
    static constexpr const char *kVersion = "4.3.0";
    // Makes the key when there is none yet (and saves the settings).
    QString apiKey();
    // Wrong keys from one address: after this many, that address waits before its next try.
    static constexpr int kFreeTries = 5;
    // Wrong keys or passwords from one address: it waits, longer after each one.
    bool waiting(const QString &peer, qint64 *msLeft = nullptr) const;
    void wrongTry(const QString &peer);
    void rightTry(const QString &peer) { m_tries.remove(peer); }
    // The download was paused from here: new jobs wait for resume.
    bool paused() const { return m_paused; }
    // New work came: the download starts unless it was paused from here.
    void newWork() { startIfWanted(); }

private:
    struct Tries {
        int wrong = 0;
        QElapsedTimer since;
        qint64 waitMs = 0;
    };
    struct Request;
    HttpAnswer queue(const Request &r);
    HttpAnswer history(const Request &r);
    HttpAnswer addNzb(const QByteArray &nzb, const QString &fileName, const Request &r);
    HttpAnswer status(bool full);
    HttpAnswer config();
    void startIfWanted();
    Engine &m_engine;
    Jobs &m_jobs;
    QHash<QString, Tries> m_tries;
    bool m_paused = false;
};

} // namespace vt
