#pragma once
// Finds the part counter in a subject such as "name.rar (01/15)" and derives the item
// name shared by all articles of the post, and the declared total.
#include <QByteArray>
#include <functional>

namespace vt {

struct ParsedSubject {
    QByteArray name;    // item name (ends in " [xx/0000015]" for counted posts), untrimmed
    QByteArray total;   // total text T: "15", "1" for (1/1) posts, empty without a counter
    QByteArray fullSubject;   // the subject trimmed of blanks
};

// The 13-character marker that ends a counted item's name.
QByteArray totalMarker(qint64 total);
constexpr int kMarkerLength = 13;

// onError receives the text of a caught failure (the window test near the start).
ParsedSubject parseSubject(const QByteArray &subject, const std::function<void(const QString &)> &onError = {});

// Removes every occurrence of what (case-insensitive) until none is left.
void RemoveAllOccurrences(QByteArray &s, const QByteArray &what);

} // namespace vt
