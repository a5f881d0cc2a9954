// Requests to the remote control from outside: the upload's multipart body and every API
// call, with the key or signed in. Each answer is JSON with a status the API uses; a job
// made from a request has its folder inside the download folder, whatever it asked.
// Input: the Content-Type line, the query line, then the body.
#include "FuzzSupport.h"
#include "core/Prompter.h"
#include "engine/Engine.h"
#include "remote/Multipart.h"
#include "remote/Remote.h"
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QUrlQuery>

using namespace vt;

namespace {
struct World {
    int argc = 1;
    char name[8] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QuietPrompter prompter;
    Engine engine{AppPaths(fuzz::scratch()), prompter};
    Remote remote{engine};
    World()
    {
        Settings &s = engine.core.settings;
        s.Download_Path = fuzz::scratch() + "/dl/";
        QDir().mkpath(s.Download_Path);
        s.categories = {{"tv", {}}, {"films", fuzz::scratch() + "/films/"}};
        remote.start(false);
        HttpCall pause;
        pause.query = {{"mode", "pause"}};
        pause.signedIn = true;
        remote.api().handle(pause);   // nothing starts a download here
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static World w;
    const QByteArray in(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype a = in.indexOf('\n'), b = a < 0 ? -1 : in.indexOf('\n', a + 1);
    HttpCall call;
    call.method = "POST";
    call.contentType = a < 0 ? in : in.left(a);
    const QByteArray query = a < 0 ? QByteArray() : b < 0 ? in.mid(a + 1) : in.mid(a + 1, b - a - 1);
    call.body = b < 0 ? QByteArray() : in.mid(b + 1);
    for (const auto &[k, v] : QUrlQuery(QString::fromUtf8(query)).queryItems(QUrl::FullyDecoded)) call.query.append({k, v});
    call.peer = QString::number(size % 7);
    call.signedIn = size % 3 != 0;

    const FormData form = parseMultipart(call.body, call.contentType);
    for (const FormPart &p : form.parts) FUZZ_CHECK(p.data.size() <= call.body.size());

    const std::size_t before = w.remote.jobs().all().size();
    const HttpAnswer r = w.remote.api().handle(call);
    FUZZ_CHECK(r.status == 200 || r.status == 400 || r.status == 403 || r.status == 413 || r.status == 429);
    QJsonParseError e{};
    QJsonDocument::fromJson(r.body, &e);
    FUZZ_CHECK(e.error == QJsonParseError::NoError);
    const QString dl = w.engine.core.settings.Download_Path, films = fuzz::scratch() + "/films/";
    for (const Job &j : w.remote.jobs().all()) {
        FUZZ_CHECK(j.folder.startsWith(dl) || j.folder.startsWith(films));
        const QString rest = j.folder.mid(j.folder.startsWith(dl) ? dl.size() : films.size());
        FUZZ_CHECK(!rest.split(u'/', Qt::SkipEmptyParts).contains(QLatin1String("..")));
    }
    // The jobs do not pile up across inputs.
    if (w.remote.jobs().all().size() > before)
        while (!w.remote.jobs().all().empty()) w.remote.jobs().remove(w.remote.jobs().all().front().id);
    return 0;
}
