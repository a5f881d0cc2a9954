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
};

struct HttpAnswer {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
};

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
