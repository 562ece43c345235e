#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "platform/error.h"

namespace orba::host {

using platform::CallArgs;
using platform::Error;
using platform::ErrorCode;
using platform::MemberTable;

int32_t VariantVector::Add(Variant value) {
    items_.push_back(std::move(value));
    return UpperBound();
}

const Variant& VariantVector::Item(int32_t index) const {
    if (index < 1 || index > UpperBound()) {
        throw Error(ErrorCode::kSubscriptOutOfRange,
                    fmt::format("Subscript out of range: item {} of a list of {}", index, UpperBound()));
    }
    return items_[static_cast<size_t>(index - 1)];
}

const MemberTable<VariantVector>& VariantVector::Members() {
    static const MemberTable<VariantVector> table = [] {
        MemberTable<VariantVector> t("VariantVector");
        auto item = [](VariantVector& v, CallArgs& a) { return v.Item(a.Long(0)); };
        t.Get("LowerBound", 0, 0, [](VariantVector& v, CallArgs&) { return Variant(v.LowerBound()); })
            .Get("UpperBound", 0, 0, [](VariantVector& v, CallArgs&) { return Variant(v.UpperBound()); })
            .Get("Count", 0, 0, [](VariantVector& v, CallArgs&) { return Variant(v.UpperBound()); })
            .Method("Add", 1, 1, [](VariantVector& v, CallArgs& a) { return Variant(v.Add(a[0])); })
            .Get("Item", 1, 1, item)
            .Get("", 1, 1, item);
        return t;
    }();
    return table;
}

namespace {

// The shared table of record keys. Records of one kind use the same few dozen keys, so a
// key is stored once however many records hold it. The table takes at most kMaxKeys keys,
// so text from outside cannot make it grow without end.
class KeyTable {
public:
    static constexpr size_t kMaxKeys = 1 << 14;

    // The stored copy of `key`, or nullptr when the table is full and does not know it.
    const std::string* Find(std::string&& key) {
        std::lock_guard lock(mutex_);
        auto found = keys_.find(key);
        if (found != keys_.end()) return &*found;
        if (keys_.size() >= kMaxKeys) return nullptr;
        return &*keys_.insert(std::move(key)).first;
    }

private:
    std::mutex mutex_;
    std::unordered_set<std::string> keys_;  // nodes stay where they are as the set grows
};

KeyTable& Keys() {
    static KeyTable* table = new KeyTable;  // never destroyed: records may outlive static teardown
    return *table;
}

// The shared copy of `key`, or nullptr as KeyTable::Find. A reader of a long list puts the
// same few dozen keys again and again: a small cache of this thread's recent keys finds
// them without the table's lock and hashing. Table entries are never removed, so a cached
// pointer stays good.
const std::string* SharedKey(const std::string& key) {
    thread_local std::array<const std::string*, 64> recent{};
    const size_t h = key.empty() ? 0
                                 : key.size() * 31 + static_cast<unsigned char>(key.front()) * 7 +
                                       static_cast<unsigned char>(key.back());
    const std::string*& slot = recent[h % recent.size()];
    if (slot && *slot == key) return slot;
    const std::string* shared = Keys().Find(std::string(key));
    if (shared) slot = shared;
    return shared;
}

// A keyed hash of a key's text (SipHash-1-3). Its key is drawn at random for each process:
// with a fixed hash, text from outside could be made of keys that all collide, and a record
// read from it would again take time growing with the square of its keys.
class KeyHash {
public:
    KeyHash() noexcept {
        try {
            std::random_device random;
            for (uint64_t& k : key_) k = (static_cast<uint64_t>(random()) << 32) ^ random();
        } catch (const std::exception&) {
            // No source of random numbers: the clock still differs from one run to the next.
            const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
            key_[0] = now;
            key_[1] = (now << 29) ^ reinterpret_cast<uintptr_t>(this);
        }
    }

    uint64_t operator()(std::string_view text) const {
        uint64_t v0 = key_[0] ^ 0x736f6d6570736575ull, v1 = key_[1] ^ 0x646f72616e646f6dull;
        uint64_t v2 = key_[0] ^ 0x6c7967656e657261ull, v3 = key_[1] ^ 0x7465646279746573ull;
        auto round = [&] {
            v0 += v1, v1 = Rotate(v1, 13), v1 ^= v0, v0 = Rotate(v0, 32);
            v2 += v3, v3 = Rotate(v3, 16), v3 ^= v2;
            v0 += v3, v3 = Rotate(v3, 21), v3 ^= v0;
            v2 += v1, v1 = Rotate(v1, 17), v1 ^= v2, v2 = Rotate(v2, 32);
        };
        const size_t n = text.size();
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t m;
            std::memcpy(&m, text.data() + i, 8);
            v3 ^= m, round(), v0 ^= m;
        }
        uint64_t last = static_cast<uint64_t>(n) << 56;
        for (size_t k = 0; i + k < n; ++k) {
            last |= static_cast<uint64_t>(static_cast<unsigned char>(text[i + k])) << (8 * k);
        }
        v3 ^= last, round(), v0 ^= last;
        v2 ^= 0xFF;
        round(), round(), round();
        return v0 ^ v1 ^ v2 ^ v3;
    }

private:
    static uint64_t Rotate(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

    uint64_t key_[2];
};

const KeyHash& HashOfKeys() {
    static const KeyHash hash;
    return hash;
}

// The positions of a large record's entries by the hash of their keys: open addressing, at
// most half full, each slot 8 bytes (a record holds fewer than 2^32 entries; 32 bits of the
// hash both pick the slot and tell most other keys apart without comparing text).
class KeyIndex {
public:
    static constexpr size_t kNone = static_cast<size_t>(-1);

    bool Empty() const { return count_ == 0; }

    // The position of `key` among `entries`, or kNone.
    size_t Find(std::string_view key, const RecordEntries& entries) const {
        if (count_ == 0) return kNone;
        const auto hash = static_cast<uint32_t>(HashOfKeys()(key));
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.position == 0) return kNone;
            const size_t position = slot.position - 1;
            if (slot.hash == hash && *entries.begin()[position].first == key) return position;
        }
    }

    // Room for this many entries in all; the index is unchanged when there is no memory for
    // it, so that room can be made before an entry is stored and the entry never goes
    // unindexed.
    void Reserve(size_t entries) {
        if (entries * 2 <= slots_.size()) return;
        size_t size = std::max<size_t>(64, slots_.size());
        while (entries * 2 > size) size *= 2;
        std::vector<Slot> old(size);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.position != 0) Place(slot.position, slot.hash);
        }
    }

    // Indexes the entry at `position`, whose key no other entry has; room for it is reserved.
    void Add(size_t position, std::string_view key) noexcept {
        Place(static_cast<uint32_t>(position + 1), static_cast<uint32_t>(HashOfKeys()(key)));
        ++count_;
    }

private:
    struct Slot {
        uint32_t position;  // 1-based; 0 for a free slot
        uint32_t hash;
    };

    void Place(uint32_t position, uint32_t hash) noexcept {
        const size_t mask = slots_.size() - 1;
        size_t i = hash & mask;
        while (slots_[i].position != 0) i = (i + 1) & mask;
        slots_[i] = Slot{position, hash};
    }

    std::vector<Slot> slots_;  // a power of two of them
    size_t count_ = 0;
};

}  // namespace

struct VariantDictionary::Extra {
    // Keys beyond what the shared key table takes (a flood of distinct keys from outside),
    // kept by the record itself.
    std::deque<std::string> own_keys;
    // Empty until the record holds more than kIndexFrom entries.
    KeyIndex index;
};

size_t VariantDictionary::BytesFor(size_t entries) {
    constexpr size_t kAllocation = 16;  // what the allocator adds to each block
    size_t bytes = sizeof(VariantDictionary) + kAllocation + entries * sizeof(RecordEntries::Entry);
    if (entries > kIndexFrom) {
        // The index, up to four slots of 8 bytes an entry just after it grew, and the keys,
        // which a record this large mostly keeps itself.
        bytes += sizeof(Extra) + entries * (4 * sizeof(uint64_t) + sizeof(std::string));
    }
    return bytes;
}

void VariantDictionary::DeleteExtra::operator()(Extra* extra) const noexcept { delete extra; }

VariantDictionary::Extra& VariantDictionary::Extras() {
    if (!extra_) extra_.reset(new Extra);
    return *extra_;
}

RecordEntries::~RecordEntries() {
    for (Entry& e : *this) e.~Entry();
    if (data_ != room_) ::operator delete(data_);
}

const RecordEntries::Entry& RecordEntries::at(size_t position) const {
    if (position >= size_) throw std::out_of_range("record entry");
    return data_[position];
}

void RecordEntries::Grow(size_t capacity) {
    auto* grown = static_cast<Entry*>(::operator new(capacity * sizeof(Entry)));
    for (size_t i = 0; i < size_; ++i) {
        new (grown + i) Entry(std::move(data_[i]));
        data_[i].~Entry();
    }
    if (data_ != room_) ::operator delete(data_);
    data_ = grown;
    capacity_ = capacity;
}

VariantDictionary::VariantDictionary(Room room)
    : entries_(reinterpret_cast<RecordEntries::Entry*>(reinterpret_cast<unsigned char*>(this) + sizeof(VariantDictionary)),
               room.entries) {}

Ref<VariantDictionary> VariantDictionary::WithRoom(size_t entries) {
    static_assert(sizeof(VariantDictionary) % alignof(RecordEntries::Entry) == 0);
    return Ref<VariantDictionary>(new (Room{entries}) VariantDictionary(Room{entries}));
}

const Variant* VariantDictionary::Find(std::string_view key) const {
    if (Indexed()) {
        const size_t position = extra_->index.Find(key, entries_);
        return position == KeyIndex::kNone ? nullptr : &entries_.begin()[position].second;
    }
    for (const auto& [k, v] : entries_) {
        if (*k == key) return &v;
    }
    return nullptr;
}

inline Variant* VariantDictionary::FindShared(const std::string* key) {
    // A shared key is the same pointer in every record, so a key already held is found by
    // comparing pointers.
    if (Indexed()) return FindMutable(*key);
    for (auto& [k, v] : entries_) {
        if (k == key) return &v;
    }
    return nullptr;
}

inline void VariantDictionary::Add(const std::string* key, Variant&& value) {
    if (entries_.size() < kIndexFrom) {
        entries_.emplace_back(key, std::move(value));
        return;
    }
    AddIndexed(key, std::move(value));
}

void VariantDictionary::AddIndexed(const std::string* key, Variant&& value) {
    const size_t n = entries_.size() + 1;
    KeyIndex& index = Extras().index;
    index.Reserve(n);
    entries_.emplace_back(key, std::move(value));
    if (!index.Empty()) return index.Add(n - 1, *key);
    for (size_t i = 0; i < n; ++i) index.Add(i, *entries_.begin()[i].first);
}

Variant* VariantDictionary::FindMutable(std::string_view key) {
    return const_cast<Variant*>(std::as_const(*this).Find(key));
}

const Variant& VariantDictionary::Value(std::string_view key) const {
    if (const Variant* v = Find(key)) return *v;
    throw Error(ErrorCode::kItemNotFound, fmt::format("Key not found: the record has no key '{}'", key));
}

RecordKey::RecordKey(std::string_view text) : text_(text), shared_(Keys().Find(std::string(text))) {}

void VariantDictionary::Put(const RecordKey& key, Variant value) {
    const std::string* shared = key.Shared();
    if (!shared) return Put(key.Text(), std::move(value));
    if (Variant* held = FindShared(shared)) {
        *held = std::move(value);
        return;
    }
    Add(shared, std::move(value));
}

void VariantDictionary::Append(const RecordKey& key, Variant value) {
    assert(!Find(key.Text()));
    if (!key.Shared()) return Put(key.Text(), std::move(value));
    Add(key.Shared(), std::move(value));
}

void VariantDictionary::Put(std::string key, Variant value) {
    // Only a key kept by this record alone needs its text compared.
    const std::string* shared = SharedKey(key);
    if (Variant* held = shared ? FindShared(shared) : FindMutable(key)) {
        *held = std::move(value);
        return;
    }
    Add(shared ? shared : &Extras().own_keys.emplace_back(std::move(key)), std::move(value));
}

void VariantDictionary::Let(std::string_view key, const Variant& value) {
    // Nothing is kept as it is: there is no default value to take from it.
    Put(std::string(key), value.IsObject() && !value.IsNothing() ? value.Resolved() : value);
}

void VariantDictionary::Set(std::string_view key, Ref<platform::Object> object) {
    Put(std::string(key), Variant(std::move(object)));
}

Variant VariantDictionary::ValueOrDefault(std::string_view key, const Variant& fallback) const {
    const Variant* v = Find(key);
    return v ? *v : fallback;
}

const MemberTable<VariantDictionary>& VariantDictionary::Members() {
    static const MemberTable<VariantDictionary> table = [] {
        MemberTable<VariantDictionary> t("VariantDictionary");
        auto get = [](VariantDictionary& d, CallArgs& a) { return d.Value(a.Text(0)); };
        auto let = [](VariantDictionary& d, CallArgs& a) {
            d.Let(a.Text(0), a.Assigned());
            return Variant();
        };
        auto set = [](VariantDictionary& d, CallArgs& a) {
            d.Set(a.Text(0), a.Assigned().ToObject());
            return Variant();
        };
        t.Get("Value", 1, 1, get).Let("Value", 1, 1, let).Set("Value", 1, 1, set)
            .Get("", 1, 1, get).Let("", 1, 1, let).Set("", 1, 1, set)
            .Method("ValueOrDefault", 2, 2,
                    [](VariantDictionary& d, CallArgs& a) { return d.ValueOrDefault(a.Text(0), a[1]); })
            .Method("Exists", 1, 1, [](VariantDictionary& d, CallArgs& a) { return Variant(d.Exists(a.Text(0))); })
            .Get("Count", 0, 0,
                 [](VariantDictionary& d, CallArgs&) { return Variant(static_cast<int32_t>(d.Size())); })
            .Get("Key", 1, 1, [](VariantDictionary& d, CallArgs& a) -> Variant {
                int32_t i = a.Long(0);
                if (i < 1 || static_cast<size_t>(i) > d.Size()) {
                    throw Error(ErrorCode::kSubscriptOutOfRange,
                                fmt::format("Subscript out of range: key {} of a record of {}", i, d.Size()));
                }
                return Variant(d.KeyAt(static_cast<size_t>(i - 1)));
            });
        return t;
    }();
    return table;
}

}  // namespace orba::host

namespace orba::host {

std::atomic<int32_t>& LibraryObjectCounter() {
    static std::atomic<int32_t> counter{0};
    return counter;
}

}  // namespace orba::host
