#include <fmt/format.h>

#include <array>
#include <cassert>
#include <mutex>
#include <stdexcept>
#include <unordered_set>

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

}  // namespace

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
    for (const auto& [k, v] : entries_) {
        if (*k == key) return &v;
    }
    return nullptr;
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
    for (auto& [k, v] : entries_) {
        if (k == shared) {
            v = std::move(value);
            return;
        }
    }
    entries_.emplace_back(shared, std::move(value));
}

void VariantDictionary::Append(const RecordKey& key, Variant value) {
    assert(!Find(key.Text()));
    if (!key.Shared()) return Put(key.Text(), std::move(value));
    entries_.emplace_back(key.Shared(), std::move(value));
}

void VariantDictionary::Put(std::string key, Variant value) {
    // A shared key is the same pointer in every record, so a key already held is found by
    // comparing pointers; only a key kept by this record alone needs its text compared.
    if (const std::string* shared = SharedKey(key)) {
        for (auto& [k, v] : entries_) {
            if (k == shared) {
                v = std::move(value);
                return;
            }
        }
        entries_.emplace_back(shared, std::move(value));
        return;
    }
    if (Variant* v = FindMutable(key)) {
        *v = std::move(value);
        return;
    }
    if (!own_keys_) own_keys_ = std::make_unique<std::deque<std::string>>();
    entries_.emplace_back(&own_keys_->emplace_back(std::move(key)), std::move(value));
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
