#include "Preview.h"
#include "core/AppCore.h"
#include "decode/FileNames.h"
#include "decode/UuLibrary.h"
#include "decode/Yenc.h"
#include "download/ArticleText.h"
#include "download/PartCache.h"
#include "headers/HeaderStore.h"
#include "nntp/Session.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vt {

Previewer::Previewer(AppCore &core, Session &session, NewsgroupTable &groups, const HeaderStore &store, PartCache &cache,
                     QObject *parent)
    : FeatureConversation(core, session, groups, ConnectionId::Preview, parent), m_store(store), m_cache(cache)
{
    m_downloadingText = QStringLiteral("Please wait (downloading)...  ");
    m_expiredText = QStringLiteral("Article has expired!  ");
    connect(&conn, &Connection::peerClosed, this, [this] { status(QStringLiteral("Server closed connection")); });
}

int Previewer::choosePart(const HeaderItem &it)
{
    for (const char *counter : {"001/", "01/", "1/"}) {
        for (size_t i = 0; i < it.parts.size(); ++i)
            if (it.parts[i].byteCount > 10 && it.parts[i].subjectTail().contains(counter)) return int(i) + 1;
    }
    return 0;
}

bool Previewer::opensWithoutQuestion(const QString &path)
{
    static const QStringList safe = {QStringLiteral(".mpg"), QStringLiteral("mpeg"), QStringLiteral(".jpg"),
                                     QStringLiteral("jpeg"), QStringLiteral(".nfo"), QStringLiteral(".txt"),
                                     QStringLiteral(".mp3"), QStringLiteral(".wmf"), QStringLiteral(".asf"),
                                     QStringLiteral(".sfv"), QStringLiteral(".wav"), QStringLiteral(".csv")};
    return safe.contains(path.right(4).toLower());
}

QString Previewer::previewFolder() const { return m_core.settings.Cache_Path + QStringLiteral("previews/"); }

Previewer::Started Previewer::StartPreview(int item)
{
    if (item < 1 || item > m_store.itemCount()) return Started::Nothing;
    const HeaderItem &it = m_store.item(item);
    const int part = choosePart(it);
    if (part == 0) {
        m_core.LogOp(QStringLiteral("Preview: no first part to preview."), false);
        return Started::Nothing;
    }
    previewItem = item;
    previewPart = part;
    if (QFileInfo::exists(m_cache.PartCacheFile(item, part))) {
        PreviewPartial();
        return Started::Opened;
    }
    const PartRecord &p = it.parts[size_t(part - 1)];
    viewMessageId = QString::fromLatin1(p.messageId()).trimmed();
    viewArticleNumber = QString::number(p.articleNumber);
    viewGroupKey = p.groupKey();
    viewSize = p.byteCount;
    viewTitle = QString::fromLatin1(it.subject.contains("[xx/000") ? it.prefix() + p.subjectTail() : it.subject);
    m_status.clear();
    emit progressChanged(0, viewSize);
    return openConnection() ? Started::Fetching : Started::Nothing;
}

void Previewer::closed()
{
    if (!conn.isClosed()) conn.close();
}

void Previewer::status(const QString &text, bool)
{
    m_status = text;
    emit statusChanged(text);
}

void Previewer::onProgress()
{
    const qint64 got = conn.pendingBytes();
    status(QStringLiteral("Downloading:  ") + QString::number(got) + QStringLiteral(" of ") + QString::number(viewSize)
           + QStringLiteral(" bytes"));
    emit progressChanged(std::min<qint64>(got, viewSize), viewSize);
}

void Previewer::onArticle(const QByteArray &raw) { PreviewPartReceived(raw); }

void Previewer::PreviewPartReceived(const QByteArray &raw)
{
    send("QUIT");
    const QByteArray article = StripArticle(raw);
    if (article.isEmpty()) {
        m_core.LogOp(QStringLiteral("PreviewMP3: Error, no data for preview."), true);
        return;
    }
    const QString path = m_cache.PartCacheFile(previewItem, previewPart);
    QFile::remove(path);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(article) != article.size() || f.write("\r\n") != 2) {
        m_core.LogOp(QStringLiteral("PreviewMP3: Error, could not write ") + path + QStringLiteral(": ") + f.errorString(), true);
        f.close();
        QFile::remove(path);   // a half-written part must not count as cached
        return;
    }
    f.close();
    m_core.LogOp(QStringLiteral("File saved: ") + path, false);
    emit fetchFinished();
    PreviewPartial();
}

QString Previewer::decodeYenc(const QString &cacheFile)
{
    YencDecoder yenc;
    yenc.log = [this](const QString &t, bool record) { m_core.LogOp(t, record); };
    // A later part previews from its own first byte, not after a gap the size of the parts before it.
    yenc.placeAtOffset = false;
    QString name = fileNameFromBytes(safeFileNameBytes(yenc.yEncGetFilename(cacheFile)));
    if (name.isEmpty()) name = QStringLiteral("VT.TMP");
    // A free name keeps the file's own ending, so the opener and the question still go by it
    // (numbering after the extension would turn movie.mpeg into an unknown type).
    QString target = previewFolder() + QStringLiteral("VT preview of ") + name;
    for (int k = 2; QFileInfo::exists(target); ++k)
        target = previewFolder() + QStringLiteral("VT preview ") + QString::number(k) + QStringLiteral(" of ") + name;
    const QString r = yenc.yEncDecodeArticle(cacheFile, target);
    if (!r.isEmpty()) m_core.LogOp(QStringLiteral("Internal yEnc Decoder: Error ") + r, true);
    return target;
}

QString Previewer::decodeAttachment(const QString &cacheFile, bool *ok)
{
    *ok = false;
    UuLibrary uu;
    if (!uu.init()) {
        m_core.LogOp(QStringLiteral("Preview: the decoder is busy, try again when the download has decoded."), true);
        return {};
    }
    uu.setDesperate(true);   // a single part of many: decode what is there
    if (uu.loadFile(cacheFile) != 0) {
        QString msg;
        int sev = 0;
        uu.message(&msg, &sev);
        m_core.LogOp(QStringLiteral("decode err (UULoadFile) ") + msg, true);
    }
    const int h = uu.listFirst();
    int next = 0;
    QByteArray proposed = h ? uu.listWalk(h, &next) : QByteArray();
    if (proposed == "(NULL)") proposed.clear();
    QString name = fileNameFromBytes(UuLibrary::fileFilter(proposed));
    if (name.isEmpty()) name = QStringLiteral("VT.TMP");
    const QString target = previewFolder() + QStringLiteral("VT preview of ") + name;
    QFile::remove(target);
    int uuret = 0, mvret = 0;
    *ok = h != 0 && uu.decode(h, target, &uuret, &mvret);
    if (!*ok) m_core.LogOp(QStringLiteral("Error: decoder didn't find any data"), true);
    uu.shutdown();
    return target;
}

bool Previewer::PreviewPartial()
{
    QDir().mkpath(previewFolder());
    const QString cacheFile = m_cache.PartCacheFile(previewItem, previewPart);
    if (!QFileInfo::exists(cacheFile)) {
        m_core.prompter.message(QStringLiteral("Error, ") + cacheFile + QStringLiteral(" not found."));
        return false;
    }
    bool ok = false;
    YencDecoder check;
    if (check.yEncCheck(cacheFile)) {
        m_previewFile = decodeYenc(cacheFile);
        ok = QFileInfo(m_previewFile).size() > 0;   // what decoded is worth a look, even short of a CRC
    } else {
        m_previewFile = decodeAttachment(cacheFile, &ok);
    }
    if (!ok) return false;   // nothing to open, nothing to ask about
    const QString file = m_previewFile;
    auto launch = [this, file] {
        m_core.LogOp(QStringLiteral("Launching partial file preview..."), false);
        if (RunAssociated) RunAssociated(file);
        m_core.LogOp(QString(), false);
    };
    if (opensWithoutQuestion(file)) launch();
    else
        m_core.prompter.askYesNo(QStringLiteral("Filename:") + file + QStringLiteral(" indicates possibly dangerous file, launch preview anyway?"),
                                 this, [launch](bool yes) {
                                     if (yes) launch();
                                 });
    return true;
}

} // namespace vt
