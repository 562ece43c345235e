// A prepared insert of the sample generator, on either backend: its values are given in
// order, then written by Run().
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/database.h"

namespace orba::hostkit::sample {

// The card of a deck that stands for a NULL value.
inline constexpr int kNullCard = -1;

class RowInsert {
public:
    RowInsert(Database& db, const char* sql);

    RowInsert& Int(int64_t value);
    RowInsert& Null();
    RowInsert& Text(std::string_view value);
    RowInsert& Text(const std::string& value) { return Text(std::string_view(value)); }
    RowInsert& Text(const char* value) { return value != nullptr ? Text(std::string_view(value)) : Null(); }
    RowInsert& Text(const std::optional<std::string>& value) { return value ? Text(*value) : Null(); }
    // A reference to another row; 0 means none and is stored as NULL.
    RowInsert& Ref(int64_t id) { return id != 0 ? Int(id) : Null(); }
    // A value drawn from a deck, where the null card stands for NULL.
    RowInsert& Card(int card) { return card != kNullCard ? Int(card) : Null(); }

    // Writes the row; raises an Error naming the statement when the database refuses it, and
    // when the values given are not as many as the statement's marks (a mistake here).
    void Run();

private:
    std::unique_ptr<Statement> statement_;
    const char* sql_;
    size_t marks_ = 0;
    std::vector<platform::Variant> values_;
    std::vector<const platform::Variant*> pointers_;
};

}  // namespace orba::hostkit::sample
