// The keyed record of the exchange format: text keys in store order, each with a variant
// value. Kept as a flat vector because records hold 20 to 30 keys, where scanning beats
// hashing, and because the store order is part of the record; a record that grows past
// kIndexFrom keys (one read from outside may hold any number) gets a hash index beside the
// vector, so finding a key costs the same however many there are. Keys are interned: the
// same key text is stored once for all records, each entry pointing at it.
#pragma once

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/containers.h"
#include "host/library_objects.h"
#include "platform/dispatch.h"

namespace orba::host {

using platform::Ref;
using platform::Variant;

// A record key that builders give to many records: its shared copy is looked up once, so
// adding it to a record costs no look-up in the shared table.
class RecordKey {
public:
    explicit RecordKey(std::string_view text);
    const std::string& Text() const { return text_; }
    const std::string* Shared() const { return shared_; }  // nullptr when the table is full

private:
    std::string text_;
    const std::string* shared_;
};

// The entries of a record: in room that came with the record's own allocation while they
// fit, in an array of their own beyond it. One allocation per record instead of two.
class RecordEntries {
public:
    using Entry = std::pair<const std::string*, Variant>;

    RecordEntries() = default;
    RecordEntries(Entry* room, size_t capacity) : data_(room), capacity_(capacity), room_(room) {}
    ~RecordEntries();
    RecordEntries(const RecordEntries&) = delete;
    RecordEntries& operator=(const RecordEntries&) = delete;

    Entry* begin() { return data_; }
    Entry* end() { return data_ + size_; }
    const Entry* begin() const { return data_; }
    const Entry* end() const { return data_ + size_; }
    size_t size() const { return size_; }
    // Raises std::out_of_range past the last entry.
    const Entry& at(size_t position) const;
    void reserve(size_t n) {
        if (n > capacity_) Grow(n);
    }
    template <class... Args>
    void emplace_back(Args&&... args) {
        if (size_ == capacity_) Grow(capacity_ ? capacity_ * 2 : 4);
        new (data_ + size_) Entry(std::forward<Args>(args)...);
        ++size_;
    }

private:
    void Grow(size_t capacity);

    Entry* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    Entry* room_ = nullptr;  // the room given with the record, or nullptr
};

class VariantDictionary : public platform::Dispatchable<VariantDictionary, platform::MapContainer>, private LibraryObject {
public:
    static const platform::MemberTable<VariantDictionary>& Members();
    // Up to this many keys a scan of the vector finds a key fastest.
    static constexpr size_t kIndexFrom = 32;

    VariantDictionary() = default;
    // A record with room for `entries` entries in its own allocation, for a builder that
    // knows how many it will store.
    static Ref<VariantDictionary> WithRoom(size_t entries);
    // About what a record of this many entries takes in memory, besides its values' own
    // allocations, for a reader that bounds how much a text may make.
    static size_t BytesFor(size_t entries);
    static void* operator new(size_t size) { return ::operator new(size); }
    static void operator delete(void* p) noexcept { ::operator delete(p); }

    // The stored value; raises an Error naming a key that is absent.
    const Variant& Value(std::string_view key) const;
    // Stores a plain value: an object given here is stored as its default value (a record
    // set field's value at this moment), never as the object.
    void Let(std::string_view key, const Variant& value);
    // Stores an object reference (a nested list or record).
    void Set(std::string_view key, Ref<platform::Object> object);
    Variant ValueOrDefault(std::string_view key, const Variant& fallback) const;
    bool Exists(std::string_view key) const { return Find(key) != nullptr; }
    const Variant* Find(std::string_view key) const;
    void Reserve(size_t n) override { entries_.reserve(n); }

    size_t Size() const override { return entries_.size(); }
    const std::string& KeyAt(size_t position) const override { return *entries_.at(position).first; }
    const Variant& ValueAt(size_t position) const override { return entries_.at(position).second; }
    // Stores the value as given (object or plain), replacing the value of a known key.
    void Put(std::string key, Variant value) override;
    void Put(const RecordKey& key, Variant value);
    // Adds a key that the record does not hold yet, for a builder that makes the record
    // from a fixed set of distinct keys.
    void Append(const RecordKey& key, Variant value);

private:
    struct Extra;
    struct DeleteExtra {
        void operator()(Extra* extra) const noexcept;
    };

    Variant* FindMutable(std::string_view key);
    // The value of a key from the shared table, or nullptr.
    Variant* FindShared(const std::string* key);
    // Adds an entry for a key the record does not hold yet.
    void Add(const std::string* key, Variant&& value);
    void AddIndexed(const std::string* key, Variant&& value);
    // Every entry is in the index once there are more than kIndexFrom: room in the index is
    // made before an entry is stored.
    bool Indexed() const { return entries_.size() > kIndexFrom; }
    Extra& Extras();

    struct Room {
        size_t entries;
    };
    explicit VariantDictionary(Room room);
    static void* operator new(size_t size, Room room) { return ::operator new(size + room.entries * sizeof(RecordEntries::Entry)); }
    static void operator delete(void* p, Room) noexcept { ::operator delete(p); }

    RecordEntries entries_;
    // What only some records need, in one allocation made when first needed, so that the
    // common small record stays one pointer wide here.
    std::unique_ptr<Extra, DeleteExtra> extra_;
};

}  // namespace orba::host
