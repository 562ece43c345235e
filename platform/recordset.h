// A record set: the rows of one SQL statement, or an in-memory table that a caller builds
// field by field. Read row by row, columns by name; it knows its row count up front.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"
#include "platform/variant.h"

namespace orba::platform {

// Field type codes of the host's data-access layer; values given to a field of one of these
// types are converted to it when they are stored.
enum class FieldType : int32_t {
    kEmpty = 0,
    kSmallInt = 2,
    kInteger = 3,
    kDouble = 5,
    kDate = 7,
    kBoolean = 11,
    kVariant = 12,
    kDecimal = 14,
    kNumeric = 131,
    kTimestamp = 135,
    kVarChar = 200,
    kVarWChar = 202,
};

struct FieldInfo {
    std::string name;
    FieldType type = FieldType::kVariant;
    int32_t defined_size = 0;
    int32_t attributes = -1;
};

// Hands a forward-only record set its rows one at a time, as a database statement is
// stepped, so a reader that passes over a result once never holds all of it.
class RowFeed {
public:
    virtual ~RowFeed() = default;
    // Fills `row` (one value per field, the vector already that long) with the next row;
    // false after the last.
    virtual bool Next(std::vector<Variant>& row) = 0;
};

class RecordSet : public Dispatchable<RecordSet> {
public:
    // An empty, closed set: append fields, Open, then AddNew / SetValue / Update.
    RecordSet() = default;
    // An open set holding `rows` (row-major, fields.size() values per row), positioned on the
    // first row. This is how a database connection hands over a result.
    RecordSet(std::vector<FieldInfo> fields, std::vector<Variant> values);
    // An open, forward-only set that reads its rows from `feed` as it moves on: it holds the
    // current row only, cannot move back, and counts the rows read so far (all of them once
    // at EOF).
    RecordSet(std::vector<FieldInfo> fields, std::unique_ptr<RowFeed> feed);

    static const MemberTable<RecordSet>& Members();

    // Building an in-memory set.
    void AppendField(std::string name, FieldType type, int32_t defined_size = 0, int32_t attributes = -1);
    void Open();
    void Close();
    bool IsOpen() const { return open_; }
    void AddNew();                 // appends an empty row and makes it current
    void Update();                 // saves the current row (values are stored as they are set)
    void SetValue(size_t field, Variant value);
    void SetValue(std::string_view field, Variant value) { SetValue(FieldIndex(field), std::move(value)); }

    // Schema.
    size_t FieldCount() const { return fields_.size(); }
    const FieldInfo& Field(size_t index) const;
    std::optional<size_t> FindField(std::string_view name) const;
    size_t FieldIndex(std::string_view name) const;  // raises an Error naming an unknown field

    // Navigation. EOF is after the last row, BOF before the first.
    bool Eof() const;
    bool Bof() const;
    void MoveNext();
    void MovePrevious();
    void MoveFirst();
    void MoveLast();
    void Move(int32_t rows);
    int32_t RecordCount() const;
    int32_t AbsolutePosition() const { return static_cast<int32_t>(position_) + 1; }

    // Values of the current row; raise "No current record" at BOF or EOF.
    const Variant& Value(size_t field) const;
    const Variant& Value(std::string_view field) const { return Value(FieldIndex(field)); }
    // Moves the value out (the set stops holding it): for readers that take each value once.
    Variant TakeValue(size_t field);

private:
    void RequireOpen(std::string_view action) const;
    void RequireBackward() const;  // raises for a forward-only set
    void Fetch();                  // reads the feed's next row, if any
    void RequireCurrent() const;
    // The slot of `field` in the current row; raises an Error for a field the set lacks.
    size_t Slot(size_t field) const;
    Variant Coerce(size_t field, Variant value) const;

    std::vector<FieldInfo> fields_;
    std::vector<Variant> values_;  // row-major
    size_t rows_ = 0;
    int64_t position_ = 0;  // -1 is BOF, rows_ is EOF
    bool open_ = false;
    bool forward_ = false;             // rows come from a feed; values_ holds the current one
    std::unique_ptr<RowFeed> feed_;    // until it has run dry
};

// The field object that late-bound callers reach through Fields(name): its default member
// is Value, read from (or written to) the set's current row at the moment of the call.
class RecordField : public Dispatchable<RecordField> {
public:
    RecordField(Ref<RecordSet> set, size_t index) : set_(std::move(set)), index_(index) {}
    static const MemberTable<RecordField>& Members();

private:
    Ref<RecordSet> set_;
    size_t index_;
};

// The set's field collection, reached through Fields with no argument: Append, Count, Item.
class RecordFields : public Dispatchable<RecordFields> {
public:
    explicit RecordFields(Ref<RecordSet> set) : set_(std::move(set)) {}
    static const MemberTable<RecordFields>& Members();

private:
    friend class RecordSet;
    Ref<RecordSet> set_;
};

}  // namespace orba::platform
