#pragma once
// Names of decoded files: made safe, made unique, and the library's naming rule.
#include <QByteArray>
#include <QString>

namespace vt {

// Only the final path component, without control characters and surrounding blanks;
// "" when nothing usable is left ("", ".", "..").
QByteArray safeFileNameBytes(const QByteArray &proposed);
QByteArray shortenedName(const QByteArray &name);
// The same without shortening: the name as it is, when it is safe at all.
QByteArray safeNameChars(const QByteArray &proposed);
// Raw name bytes from a post as a file name: UTF-8 when valid, else one byte per character.
QString fileNameFromBytes(const QByteArray &b);

// A path that does not exist yet: photo.jpg -> photo.2.jpg (or photo.jpg.2 in the old style).
// A file name's extension as kinds of files go: ".vol03+04.par2", ".part01.rar",
// ".7z.001", ".tar.gz" whole, else the last one (up to six letters or digits); "" for none.
QString fileExtension(const QString &fileName);
QString UniqueName(const QString &path, bool oldRenameStyle);
QString StripUnderscores(const QString &name);

// The output name from the library's proposal, falling back to the item's subject.
// The library reads a file name up to its first blank. When the post's own text (a begin
// line, an encoder's part banner, a MIME name) names a longer name that starts with the
// proposed one and a blank, that whole name is meant; otherwise the proposal stands.
QByteArray wholeNameFromPost(const QByteArray &postText, const QByteArray &proposed);
QByteArray libraryOutputName(const QByteArray &proposed, const QByteArray &subject);

// True when a normal file exists at exactly that path.
bool fileExists(const QString &path);

} // namespace vt
