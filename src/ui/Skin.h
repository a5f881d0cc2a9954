#pragma once
// The main window's icons: eight keyed images, each from a file in the skin folder when
// one is there and otherwise drawn by the program.
#include <QIcon>
#include <QImage>
#include <array>
#include <QIdentityProxyModel>
#include <QStringList>
#include <vector>

namespace vt {

class Prompter;

// ImageList1: icons addressed by key or by 1-based position (the order of loading).
class ImageList {
public:
    int imageWidth = 16, imageHeight = 16;
    void clear() { m_images.clear(); }
    void add(const QString &key, const QIcon &icon) { m_images.push_back({key, icon}); }
    int count() const { return int(m_images.size()); }
    QString keyAt(int pos) const { return m_images[size_t(pos - 1)].first; }
    QIcon at(int pos) const { return m_images[size_t(pos - 1)].second; }
    // An empty icon for a key that is not in the list (a skin file that failed to load).
    QIcon icon(const QString &key) const;
    QStringList keys() const;

private:
    std::vector<std::pair<QString, QIcon>> m_images;
};

// imgDefault(0..7): complete, incomplete, unknown, text, in batch, done, failed, new.
QIcon builtInIcon(int index);
QImage builtInImage(int index, int size);

// The skin folder's files: key, file name, the built-in picture that stands in for it.
struct SkinFile {
    const char *key, *file;
    int builtIn;
};
const std::array<SkinFile, 8> &skinFiles();

// Fills the list from skinFolder (ending with "/") and the built-in pictures.
void load_default_skin(ImageList &list, const QString &skinFolder, Prompter &prompter);

// Shows a list model's icon keys as the images of an image list, and the core's plain
// colours (the core has no GUI types) as the brushes a view paints with.
class IconProxy : public QIdentityProxyModel {
public:
    IconProxy(const ImageList &images, QObject *parent = nullptr) : QIdentityProxyModel(parent), m_images(images) {}
    QVariant data(const QModelIndex &index, int role) const override;

private:
    const ImageList &m_images;
};

} // namespace vt
