#pragma once
// Texts of an item as the lists show them (the header list and the batch list).
#include <QByteArray>
#include <QString>

namespace vt {

struct HeaderItem;

// The item's name without the part-total marker the scan appended.
QByteArray itemDisplayName(const HeaderItem &it);
// Bytes as MB, "000.000" (zero-padded so that text order is size order).
QString mbText(qint64 bytes);
// A life percentage as "07%", or "need scan" for -1.
QString lifeText(int life);

// What a double click on a header row opens: text items and names ending in .TXT, .NFO or
// .DIZ the article viewer, .MP3 and .MPG the preview, anything else the parts list.
enum class RowOpens { Viewer, Preview, Parts };
RowOpens doubleClickTarget(const QByteArray &subject, bool textItem);

} // namespace vt
