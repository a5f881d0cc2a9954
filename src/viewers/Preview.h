#pragma once
// The partial preview: one part of an item (normally its first) decoded on its own, as far
// as it goes, into the cache's "previews/" folder and opened with the desktop's opener.
// A part not yet cached is fetched on feature connection 5 and stored in the part cache
// exactly as a download would store it.
#include "FeatureConversation.h"
#include <functional>

namespace vt {

class HeaderStore;
class PartCache;
struct HeaderItem;

class Previewer : public FeatureConversation {
    Q_OBJECT
public:
    Previewer(AppCore &core, Session &session, NewsgroupTable &groups, const HeaderStore &store, PartCache &cache,
              QObject *parent = nullptr);

    // The desktop's opener; false when it could not be started.
    std::function<bool(const QString &path)> RunAssociated;

    // The part a preview takes: the first slot counted "001/", else "01/", else "1/", with
    // more than 10 bytes. 1-based; 0 when there is none.
    static int choosePart(const HeaderItem &it);
    static bool opensWithoutQuestion(const QString &path);

    enum class Started { Nothing, Fetching, Opened };
    // Previews `item`: at once from the cache, or after fetching the part (the window shows).
    Started StartPreview(int item);
    // Decodes the part and opens it (after a question for a dangerous name); false when
    // nothing decoded.
    bool PreviewPartial();
    void PreviewPartReceived(const QByteArray &raw);
    // The window went away.
    void closed();

    QString previewFolder() const;
    QString previewFile() const { return m_previewFile; }
    QString statusText() const { return m_status; }

    int previewItem = 0;
    int previewPart = 0;
    QString viewTitle;

signals:
    void statusChanged(const QString &text);
    void progressChanged(qint64 value, qint64 max);
    void fetchFinished();

private:
    void status(const QString &text, bool newLine = true) override;
    void onArticle(const QByteArray &raw) override;
    void onProgress() override;
    QString decodeYenc(const QString &cacheFile);
    QString decodeAttachment(const QString &cacheFile, bool *ok);

    const HeaderStore &m_store;
    PartCache &m_cache;
    QString m_previewFile, m_status;
};

} // namespace vt
