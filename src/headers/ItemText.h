#pragma once
// Texts of an item as the lists show them (the header list and the batch list).
#include <QByteArray>
#include <QString>

namespace vt {

struct HeaderItem;
enum class ItemState;

// The item's name without the part-total marker the scan appended.
QByteArray itemDisplayName(const HeaderItem &it);
// The icon key of a state ("complete", "incomplete", "unknown", "text", "iteminbatch"),
// which the list's icon column and the skin's files share.
QString itemStateKey(ItemState s);
// Bytes as MB, "000.000" (zero-padded so that text order is size order).
QString mbText(qint64 bytes);
// A life percentage as "07%", or "need scan" for -1.
QString lifeText(int life);

// What a double click on a header row opens: text items and names ending in .TXT, .NFO or
// .DIZ the article viewer, .MP3 and .MPG the preview, anything else the parts list.
enum class RowOpens { Viewer, Preview, Parts };
RowOpens doubleClickTarget(const QByteArray &subject, bool textItem);

} // namespace vt
