#pragma once
// The header database: items (one per post) with their parts, the hash index from
// (name, poster) to item, and the entry through which every scanned header is filed.
#include "core/PageWarmer.h"
#include "headers/DateParser.h"
#include <QByteArray>
#include <QString>
#include <cstdlib>
#include <functional>
#include <new>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vt {

// A part as the header list keeps it, in 16 bytes: tens of millions of them must fit.
// Its two texts, the end of its subject (the item's prefix() comes before it) and its
// message-id with its angle brackets, lie in the store's string arena behind their
// lengths. A message-id shares its frame (the start and end that a poster's ids have in
// common) with the part before it in the item, so only what differs is kept per part.
// The group key rides in the top byte of the texts' address, a byte user-space addresses
// on Linux never use. subjectTail() is a view that stays valid until the store is cleared;
// messageId() is a copy when the id was put together from its frame.
// HeaderStore::setTexts sets the texts.
struct PartRecord {
    qint32 articleNumber = 0;
    qint32 byteCount = 0;
    quint8 groupKey() const { return quint8(m_word >> 56); }
    void setGroupKey(quint8 key) { m_word = (m_word & kAddress) | (quint64(key) << 56); }
    QByteArray subjectTail() const;
    QByteArray messageId() const;
    // Both texts where they lie: the tail, and the id in its three pieces.
    struct Views {
        QByteArrayView tail, idStart, idMiddle, idEnd;
    };
    Views views() const;

private:
    friend class HeaderStore;
    static constexpr quint64 kAddress = (quint64(1) << 56) - 1;
    const char *texts() const { return reinterpret_cast<const char *>(quintptr(m_word & kAddress)); }
    void setTextsAt(const char *at) { m_word = (m_word & ~kAddress) | quint64(quintptr(at)); }
    quint64 m_word = 0;
};
static_assert(sizeof(PartRecord) == 16);

// What the header list shows of an item (its icon and its filter).
enum class ItemState { Complete, Incomplete, Unknown, Text, InBatch };

struct HeaderItem {
    QByteArray subject;
    QByteArray poster;
    DateValue postDate = 0;
    std::vector<PartRecord> parts;
    qint16 declaredTotal = 0;
    bool inBatch = false;
    bool displayRefresh = false;   // set through HeaderStore::touch, so the list finds it
    bool deleted = false;
    bool reusable = false;
    bool isNew = false;
    bool onDisk = false;   // as the header file on disk holds it (loaded, or in the last save)
    mutable bool zeroPart = false;       // a part zero counted among the parts, found when
    mutable qint32 zeroCheckedAt = -1;   // the item had this many parts
    // Which post the slot holds: a number no other post of this store ever had, so that
    // work holding the item finds out when its slot was cleared or given to another post.
    quint32 use = 0;

    // The article's full subject is prefix + subjectTail.
    QByteArray prefix() const { return subject.size() > 13 ? subject.left(subject.size() - 13) : QByteArray(); }
};

// An item as work that outlives a turn of the event loop holds it: its slot and the post
// the slot held then.
struct ItemRef {
    int slot = 0;
    quint32 use = 0;
    explicit operator bool() const { return slot > 0; }
    bool operator==(const ItemRef &) const = default;
    auto operator<=>(const ItemRef &) const = default;
};

// Bucket number of the original 431-bucket table, kept for what it returns.
int SumHstr(const QByteArray &t);
int getHashInd(const QByteArray &name, const QByteArray &poster);

class HeaderStore {
public:
    HeaderStore();
    ~HeaderStore();

    // Items are 1-based: item(1) .. item(itemCount()).
    HeaderItem &item(int i) { return m_items[size_t(i)]; }
    const HeaderItem &item(int i) const { return m_items[size_t(i)]; }
    int itemCount() const { return m_itemCount; }
    int itemCapacity() const { return m_capacity; }
    int freeSlotCount = 0;
    qint64 partsReadTotal = 0;
    bool headersDirty = false;
    qint64 totalParts() const { return m_totalParts; }

    // Hooks: the watch list test and the batch, wired by the program.
    std::function<bool(int item)> watchMatches;
    std::function<void(int item)> addToBatch;
    std::function<void(const QString &msg)> log;
    bool watchEnabled = false;

    void maketree(const QByteArray &name, const QByteArray &fullSubject, qint32 articleNumber, const QByteArray &totalText,
                  const QByteArray &byteCountText, quint8 groupKey, const QByteArray &poster, const QByteArray &dateText,
                  const QByteArray &messageId);

    int FindFreeItemSlot() const;
    qint32 ItemByteTotal(int i) const;
    ItemState itemState(int i) const;

    // Marks an item for the header list's next update. The list visits only the items
    // marked since it last looked, not the whole store.
    void touch(int i)
    {
        HeaderItem &it = m_items[size_t(i)];
        if (!it.displayRefresh) m_touched.push_back(i);
        it.displayRefresh = true;
    }
    std::vector<int> takeTouched() { return std::exchange(m_touched, {}); }

    // Index: entries are never removed; lookups compare the stored item.
    void AddHash(const QByteArray &name, const QByteArray &poster, int index);
    int FindHash(const QByteArray &name, const QByteArray &poster) const;
    // The store's shared copy of a poster text.
    QByteArray poster(QByteArrayView text);
    void clearIndex();

    // Loading a store from a file (the header file reader).
    int appendLoadedItem(HeaderItem item);
    // A part's subject end and message-id, copied into the store's string arena. near: the
    // part before it in the same item, whose message-id frame it may share.
    void setTexts(PartRecord &p, QByteArrayView tail, QByteArrayView messageId, const PartRecord *near = nullptr);
    void clear();
    // Changes when the store is cleared: work that holds item numbers can tell.
    quint64 generation() const { return m_generation; }
    // The handle of item i, and the slot a handle still refers to (0 when the post is gone).
    ItemRef ref(int i) const { return i >= 1 && i <= m_itemCount ? ItemRef{i, m_items[size_t(i)].use} : ItemRef{}; }
    int resolve(ItemRef r) const
    {
        return r.slot >= 1 && r.slot <= m_itemCount && m_items[size_t(r.slot)].use == r.use ? r.slot : 0;
    }

private:
    struct PartIndex;
    bool isDuplicate(int item, const QByteArray &S, qint32 articleNumber, quint8 groupKey);
    void indexPart(int item, size_t j);
    void growTo(int count);

    char *alloc(size_t n);
    std::vector<std::unique_ptr<char[]>> m_arena;
    std::unique_ptr<char[]> m_arenaAhead;
    size_t m_arenaLeft = 0;
    char *m_arenaAt = nullptr;
    PartRecord m_lastTexts;   // the texts set last, for the next part's frame
    quint64 m_generation = 0;
    quint32 m_nextUse = 0;   // never reset, not even by clear()

    // Per-item slots in blocks that never move: a store of a million items grows without
    // copying them all in one step of the event loop. Once the store has grown past its
    // first block, the next block's memory is taken ahead and its pages warmed on another
    // thread, so that the items' first writes do not fault on the filing's.
    template <class T>
    class Blocks {
    public:
        Blocks() = default;
        Blocks(const Blocks &) = delete;
        Blocks &operator=(const Blocks &) = delete;
        ~Blocks()
        {
            reset(0);
            ::operator delete(m_ahead);
        }
        T &operator[](size_t i) { return m_blocks[i >> kShift][i & kMask]; }
        const T &operator[](size_t i) const { return m_blocks[i >> kShift][i & kMask]; }
        // Slots [0, n), each a fresh T.
        void reset(size_t n)
        {
            for (T *b : m_blocks) {
                std::destroy_n(b, kSize);
                ::operator delete(b);
            }
            m_blocks.clear();
            resize(n);
        }
        // Only grows: the store never gives back slots but by clearing.
        void resize(size_t n)
        {
            while (m_blocks.size() << kShift < n) {
                void *raw = m_ahead ? std::exchange(m_ahead, nullptr) : ::operator new(kSize * sizeof(T));
                m_blocks.push_back(static_cast<T *>(raw));
                std::uninitialized_value_construct_n(m_blocks.back(), kSize);
                if (m_blocks.size() >= 2) {
                    m_ahead = ::operator new(kSize * sizeof(T));
                    warmPages(m_ahead, kSize * sizeof(T));
                }
            }
        }

    private:
        static constexpr size_t kShift = 12, kMask = (size_t(1) << kShift) - 1, kSize = size_t(1) << kShift;
        std::vector<T *> m_blocks;
        void *m_ahead = nullptr;   // memory for the next block: no T lives in it yet
    };
    Blocks<HeaderItem> m_items;                   // position 0 unused
    std::vector<int> m_touched;
    Blocks<std::unique_ptr<PartIndex>> m_partIndex;   // per item, built for long items
    int m_itemCount = 0;
    int m_capacity = 0;
    qint64 m_totalParts = 0;
    struct IndexEntry {
        quint32 key = 0;
        qint32 item = 0;
    };
    static_assert(sizeof(IndexEntry) == 8);
    struct ViewHash {
        using is_transparent = void;
        size_t operator()(QByteArrayView v) const { return qHash(v); }
    };
    // Zeroed by the system as it is first touched (calloc): a table of millions of entries
    // costs nothing up front, where filling it would hold one step for the whole size.
    class IndexTable {
    public:
        IndexTable() = default;
        IndexTable(const IndexTable &) = delete;
        IndexTable &operator=(const IndexTable &) = delete;
        ~IndexTable() { std::free(m_at); }
        void reset(size_t n)
        {
            std::free(m_at);
            m_at = n ? static_cast<IndexEntry *>(std::calloc(n, sizeof(IndexEntry))) : nullptr;
            if (n && !m_at) throw std::bad_alloc();
            m_size = n;
        }
        void swap(IndexTable &o)
        {
            std::swap(m_at, o.m_at);
            std::swap(m_size, o.m_size);
        }
        size_t size() const { return m_size; }
        bool empty() const { return m_size == 0; }
        // A write that changes nothing, as the first touch of the slot's page: a read
        // first would map the shared zero page, and the write after it must copy that and
        // flush it from every core (the parser's thread runs on another).
        void touchForWrite(size_t i) const { __atomic_fetch_or(&m_at[i].item, 0, __ATOMIC_RELAXED); }
        IndexEntry &operator[](size_t i) { return m_at[i]; }
        const IndexEntry &operator[](size_t i) const { return m_at[i]; }

    private:
        IndexEntry *m_at = nullptr;
        size_t m_size = 0;
    };
    static size_t homeSlot(const IndexTable &table, quint32 key);
    static size_t firstSlot(const IndexTable &table, quint32 key);
    const IndexEntry *firstOf(quint32 key) const;
    void moveSomeFirsts();
    IndexTable m_firsts;      // open addressing, a power of two long
    IndexTable m_oldFirsts;   // while the table doubles: what has not moved yet
    size_t m_moved = 0;                    // from m_oldFirsts[0, m_moved) it has
    size_t m_firstsUsed = 0;
    std::unordered_map<quint32, std::vector<int>> m_more;
    std::unordered_set<QByteArray, ViewHash, std::equal_to<>> m_posters;
};

} // namespace vt

namespace vt {

// Items that refer to an article of the group below its first available number can no
// longer be fetched whole: flag them deleted and reusable and take them out of the batch.
// Returns how many items expired.
int expireBelow(HeaderStore &store, quint8 groupKey, qint32 firstAvailable, const std::function<void(int)> &removeFromBatch);

} // namespace vt
