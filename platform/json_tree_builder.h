// Builds a variant tree straight from a JSON reader's events, so no document tree stands in
// between; it also decides which one-key objects are tags ({"$decimal": "117.5"}) and keeps
// count of the memory the tree takes, so the reader can refuse a text that outgrows it.
#pragma once

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/containers.h"
#include "platform/error.h"
#include "platform/json_limits.h"

namespace orba::platform {

// The path to a value is only spelled out when a value is refused. A whole number too long
// for 64 bits is refused rather than quietly made a Double, and the builder stops at
// kMaxJsonNesting before the tree grows too deep to walk.
//
// An object whose first key starts with "$" may be a tagged value; its first entry is held
// back until the object turns out to have a second key (a plain record) or to end (a tag).
class JsonTreeBuilder {
public:
    explicit JsonTreeBuilder(const ContainerFactory& factory) : factory_(factory) {}

    Variant Take() { return std::move(root_); }

    // What the tree made so far takes in memory, by the factory's measures, with the entries
    // of the records still open.
    size_t Bytes() const { return bytes_; }

    void Null() { Put(Variant::Null()); }
    void Boolean(bool b) { Put(Variant(b)); }
    // A whole number; `fits` is false for one beyond 64 bits.
    void Whole(int64_t v, bool fits) { PutWhole(v, !fits || v < INT32_MIN || v > INT32_MAX); }
    void Fraction(double v) { Put(Variant(v)); }
    void String(std::string&& s) {
        bytes_ += s.size();
        Put(Variant(std::move(s)));
    }
    void StartObject() { Open(Frame::kObject); }
    void Key(std::string&& k) {
        bytes_ += k.size();
        Frame& f = open_.back();
        if (f.keys == 1) Unhold(f);
        ++f.keys;
        f.key = std::move(k);
        f.held = f.keys == 1 && !f.raw && !f.key.empty() && f.key[0] == '$';
    }
    void EndObject() { Close(); }
    void StartArray() { Open(Frame::kArray); }
    void EndArray() { Close(); }

private:
    struct Frame {
        enum Kind { kArray, kObject } kind = kArray;
        bool raw = false;          // the object inside {"$dict": ...}: its keys are never tags
        bool held = false;         // the first entry is held back as a possible tag
        int32_t items = 0;         // items of an array so far
        int32_t keys = 0;          // keys of an object so far
        std::string key;           // the key just read
        Variant first;             // the held-back first value
        bool first_raw = false;    // the held-back first value is an object read raw
        Ref<ListContainer> list;
    };

    // Refuses a whole number that does not fit 32 bits, naming its path.
    [[noreturn]] void RefuseWhole() const;

    // The path to the value being placed in the open frames below `depth` ("/1/q").
    std::string PathTo(size_t depth) const;

    // A whole number: a Long, or refused with its path when it does not fit 32 bits.
    bool PutWhole(int64_t v, bool too_big) {
        if (too_big) RefuseWhole();
        return Put(Variant(static_cast<int32_t>(v)));
    }

    // Places a value where the document is: the root, the next item of the open array, or
    // the value of the key just read.
    bool Put(Variant v, bool raw = false) {
        if (open_.empty()) {
            root_ = std::move(v);
            return true;
        }
        Frame& f = open_.back();
        if (f.kind == Frame::kArray) {
            bytes_ += factory_.item_bytes;
            f.list->Append(std::move(v));
            ++f.items;
        } else if (f.keys == 1) {
            f.first = std::move(v);  // placed when the object's form is known
            f.first_raw = raw;
        } else {
            Hold(std::move(f.key), std::move(v));
        }
        return true;
    }

    // The entries of the innermost open object, gathered until it closes so that its record
    // is made at its final size. One list per depth, kept for the next object there.
    std::vector<std::pair<std::string, Variant>>& Entries() { return entries_[open_.size() - 1]; }

    // Adds an entry to the innermost open object; its room counts as the tree's until the
    // room is let go.
    void Hold(std::string&& key, Variant&& value) {
        auto& entries = Entries();
        if (entries.size() == entries.capacity()) MakeRoom(entries);
        entries.emplace_back(std::move(key), std::move(value));
    }

    void MakeRoom(std::vector<std::pair<std::string, Variant>>& entries);

    bool Open(Frame::Kind kind) {
        if (open_.size() >= static_cast<size_t>(kMaxJsonNesting)) {
            throw Error(ErrorCode::kSyntaxError, "Malformed JSON: " + fmt::format(kJsonTooDeep, kMaxJsonNesting));
        }
        const bool raw = kind == Frame::kObject && !open_.empty() && open_.back().held && open_.back().key == "$dict";
        Frame& f = open_.emplace_back();
        if (entries_.size() < open_.size()) entries_.resize(open_.size());
        f.kind = kind;
        f.raw = raw;
        if (kind == Frame::kArray) {
            bytes_ += factory_.list_bytes;
            if (factory_.make_list_at && open_.size() - 1 <= factory_.path_depth) {
                f.list = factory_.make_list_at(PathTo(open_.size() - 1));
            }
            if (!f.list) f.list = factory_.make_list();
        }
        return true;
    }

    // The object has a second key: its first entry is a plain one after all.
    void Unhold(Frame& f);

    bool Close() {
        Frame& f = open_.back();
        if (f.kind == Frame::kArray) {
            Ref<ListContainer> list = std::move(f.list);
            open_.pop_back();
            return Put(Variant(std::move(list)));
        }
        Variant value;
        bool raw = false;
        if (f.keys == 1 && f.held) {
            value = Tagged(f.key, std::move(f.first), open_.size() - 1);
        } else {
            auto& entries = Entries();
            // A one-key record whose key is no tag.
            if (f.keys == 1) Hold(std::move(f.key), std::move(f.first));
            bytes_ += factory_.map_bytes(entries.size());
            Ref<MapContainer> map = factory_.make_map(entries.size());
            for (auto& [key, v] : entries) map->Put(std::move(key), std::move(v));
            entries.clear();
            if (entries.capacity() > kKeptEntries) {
                bytes_ -= entries.capacity() * kPendingBytes;
                std::vector<std::pair<std::string, Variant>>().swap(entries);
            }
            value = Variant(std::move(map));
            raw = f.raw;
        }
        open_.pop_back();
        return Put(std::move(value), raw);
    }

    // A record read raw as the value of a first "$dict" key of an object that then had more
    // keys: read as any record is, so a single "$" key of its own is a tag.
    Variant Retag(const Variant& v, size_t depth) const;

    // The value of a one-key object {"$tag": value} found under the open frames below
    // `depth`.
    Variant Tagged(const std::string& tag, Variant value, size_t depth) const;

    // A text quoted in a message: its start when it is long.
    static std::string Shortened(std::string_view text);

    // Records held open keep up to this many entries' room for the next record at their
    // depth; a larger room is let go when its record closes.
    static constexpr size_t kKeptEntries = 256;

    // An entry of an open record, held until the record closes.
    static constexpr size_t kPendingBytes = sizeof(std::pair<std::string, Variant>);

    const ContainerFactory& factory_;
    size_t bytes_ = 0;
    Variant root_;
    std::vector<Frame> open_;  // the containers not yet closed, innermost last
    std::vector<std::vector<std::pair<std::string, Variant>>> entries_;  // by depth
};

}  // namespace orba::platform
