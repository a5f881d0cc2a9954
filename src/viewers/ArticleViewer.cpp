#include "ArticleViewer.h"
#include "core/AppCore.h"
#include "decode/UuLibrary.h"
#include "decode/Yenc.h"
#include "download/ArticleText.h"
#include "download/PartCache.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "nntp/Session.h"
#include <QDir>
#include <QFile>

namespace vt {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kBlank = QStringLiteral("\r\n\r\n");
} // namespace

QString UnixToDos(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (QChar c : text) {
        if (c == u'\n') out += u'\r';
        out += c;
    }
    return out;
}

ArticleViewer::ArticleViewer(AppCore &core, Session &session, NewsgroupTable &groups, QObject *parent)
    : FeatureConversation(core, session, groups, ConnectionId::Viewer, parent)
{
    connect(&conn, &Connection::connected, this, [this] { m_core.sounds.PlaySound(QStringLiteral("vtv017.wav")); });
}

bool ArticleViewer::requestItem(const HeaderStore &store, int item)
{
    const HeaderItem &it = store.item(item);
    if (it.parts.empty()) return false;
    const PartRecord &p = it.parts[0];
    if (p.byteCount > kMaxArticle) {
        m_core.prompter.message(QStringLiteral("This article is too large for internal text viewer."));
        return false;
    }
    viewTitle = QString::fromLatin1(it.subject);
    viewMessageId = QString::fromLatin1(p.messageId()).trimmed();
    viewArticleNumber = QString::number(p.articleNumber);
    viewSize = p.byteCount;
    viewGroupKey = p.groupKey();
    return true;
}

bool ArticleViewer::open()
{
    m_caption = viewTitle.trimmed();
    if (m_caption.size() > 16 && m_caption.right(12).startsWith(QStringLiteral("[xx/00"))) m_caption = m_caption.chopped(12).trimmed();
    setText({});
    return openConnection();
}

void ArticleViewer::closed()
{
    viewSaveMode = 0;
    if (!conn.isClosed()) conn.close();
}

void ArticleViewer::setText(const QString &t)
{
    m_text = t;
    emit textChanged(m_text);
}

void ArticleViewer::status(const QString &text, bool newLine) { setText(m_text + (newLine ? kCrLf : QString()) + text); }

// While the article arrives: one dot per chunk, or the byte count in save mode.
void ArticleViewer::onProgress()
{
    if (viewSaveMode == 1)
        setText(kCrLf + QStringLiteral("Downloading: ") + QString::number(conn.pendingBytes()) + QStringLiteral(" of ")
                + QString::number(viewSize) + QStringLiteral(" bytes"));
    else status(QStringLiteral("."), false);
}

void ArticleViewer::onArticle(const QByteArray &raw)
{
    if (viewSaveMode == 1) {
        viewSaveMode = 0;
        SaveRawArticle(raw);
    } else {
        showArticle(raw);
    }
}

void ArticleViewer::showArticle(const QByteArray &raw)
{
    m_core.sounds.PlaySound(QStringLiteral("vtv015.wav"));
    send("QUIT");
    const QByteArray article = StripArticle(raw);
    const QString decoded = DecodeForViewer(article);
    const QString all = QString::fromLatin1(article);
    QString header, body;
    const qsizetype sep = all.indexOf(QStringLiteral("\r\n\r\n"));
    if (sep < 0) {
        body = all;
    } else {
        // The blank line between them is put back once, below.
        header = all.left(sep);
        body = all.mid(sep + 4);
    }
    const qsizetype from = header.indexOf(QStringLiteral("From:"));
    if (from > 0) header = header.mid(from);
    QString display;
    if (decoded.size() < 26 || decoded.startsWith(QStringLiteral("<Attachment Decode Error"))) {
        display = header + kBlank + body;
    } else if (decoded.contains(kCrLf) || !decoded.contains(u'\n')) {
        display = header + kBlank + QStringLiteral("<decoded attachment below>") + kBlank + decoded;
    } else {
        status(QStringLiteral("Converting to dos text from unix..."));
        const QString converted = UnixToDos(decoded);
        display = converted.isEmpty()
                      ? header + kBlank + QStringLiteral("<decoded attachment below>") + kBlank + decoded
                      : header + kBlank + QStringLiteral("<decoded attachment below (converted from unix format)>") + kBlank + converted;
    }
    if (display.size() > kMaxDisplay)
        display = display.left(kMaxDisplay) + kBlank + QStringLiteral("... <file too large for full display>");
    setText(display);
}

void ArticleViewer::SaveRawArticle(const QByteArray &raw)
{
    const Settings &s = m_core.settings;
    QString folder = s.Download_Path;
    const QString group = m_groups.nameByKey(viewGroupKey);
    if (s.chkMakeSubDirs) {
        EnsureDownloadFolder(s.Download_Path, group);
        folder += group + u'/';
    }
    const QString path = folder + viewArticleNumber.trimmed() + QStringLiteral(".UUE");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(StripArticle(raw));
        f.write("\r\n");
        f.close();
        setText(QStringLiteral("Saved as:") + path);
    } else {
        setText(QStringLiteral("Could not save ") + path + QStringLiteral(": ") + f.errorString());
    }
    send("QUIT");
}

QString ArticleViewer::DecodeForViewer(const QByteArray &input)
{
    const QByteArray article = StripArticle(input);
    if (article.isEmpty()) {
        m_core.prompter.message(QStringLiteral("Server sent an empty article.  This may be an indication of a problem with the news server software."));
        return {};
    }
    const QString folder = m_core.settings.Download_Path;
    QDir().mkpath(folder);
    const QString uue = folder + QStringLiteral("VTTEMP.UUE"), txt = folder + QStringLiteral("VTTEMP.TXT");
    {
        QFile f(uue);
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(article);
        f.write("\r\n");
    }
    QString result;
    YencDecoder yenc;
    if (yenc.yEncCheck(uue)) {
        const QString r = yenc.yEncDecodeArticle(uue, txt);
        if (!r.isEmpty()) {
            QFile::remove(txt);
            return QStringLiteral("Internal yEnc Decoder: Error ") + r;
        }
    } else {
        UuLibrary uu;
        if (uu.init()) {
            if (const int rc = uu.loadFile(uue); rc != 0) {
                QString msg;
                int sev = 0;
                uu.message(&msg, &sev);
                m_core.LogOp(QStringLiteral("decode err (UULoadFile) ") + msg, true);
                uu.shutdown();
                QFile::remove(uue);
                return {};
            }
            const int h = uu.listFirst();
            int uuret = 4, mvret = 0;   // no data unless the library finds some
            if (h == 0 || !uu.decode(h, txt, &uuret, &mvret)) {
                if (uuret == 4) result = QStringLiteral("<Attachment Decode Error: decoder didn't find any data>");
            }
            uu.shutdown();
        }
        QFile::remove(uue);
    }
    QFile t(txt);
    if (t.exists() && t.open(QIODevice::ReadOnly)) {
        result = QString::fromLatin1(t.readAll());
        t.close();
        QFile::remove(txt);
    }
    QFile::remove(uue);
    return result;
}

} // namespace vt
