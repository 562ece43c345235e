// The keyed record of the exchange format: text keys in store order, each with a variant
// value. Kept as a flat vector because records hold 20 to 30 keys, where scanning beats
// hashing, and because the store order is part of the record. Keys are interned: the same
// key text is stored once for all records, each entry pointing at it.
#pragma once

#include <deque>
#include <memory>
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

class VariantDictionary : public platform::Dispatchable<VariantDictionary, platform::MapContainer>, private LibraryObject {
public:
    static const platform::MemberTable<VariantDictionary>& Members();

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
    Variant* FindMutable(std::string_view key);

    std::vector<std::pair<const std::string*, Variant>> entries_;
    // Keys beyond what the shared key table takes (a flood of distinct keys from outside),
    // kept by the record itself.
    std::unique_ptr<std::deque<std::string>> own_keys_;
};

}  // namespace orba::host
