#pragma once
// Cleaning of raw ARTICLE responses before they go to the part cache. Pure byte work:
// the text is held as raw bytes end to end.
#include <QByteArray>

namespace vt {

// Cuts the terminator, drops the 220/222 status line and undoes dot-stuffing.
QByteArray StripArticle(QByteArray s);
// Two responses run together, or not the article that was asked for.
bool IsCorruptArticle(const QByteArray &s, const QByteArray &messageId);
// Keeps only the last parenthesised group of the Subject line round; the decoders read
// part counters from it.
QByteArray TameSubjectParens(QByteArray s);

} // namespace vt
