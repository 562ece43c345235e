#include "platform/recordset.h"

#include <fmt/format.h>

#include "platform/error.h"

namespace orba::platform {
namespace {

[[noreturn]] void ThrowNoCurrent() {
    throw Error(ErrorCode::kNoCurrentRecord,
                "No current record: the record set is before its first or after its last row");
}

[[noreturn]] void ThrowNoSuchField(int64_t index, size_t count) {
    throw Error(ErrorCode::kItemNotFound,
                fmt::format("Item not found in this collection: no field {} among the set's {}",
                            index, count));
}

Ref<RecordSet> Self(RecordSet& set) { return Ref<RecordSet>(&set); }

// A field addressed by name or by 0-based position, as late-bound callers do.
size_t FieldArg(const RecordSet& set, const CallArgs& args, size_t i) {
    Variant key = args.Value(i);
    if (key.IsNumeric()) {
        int32_t n = key.ToLong();
        if (n < 0 || static_cast<size_t>(n) >= set.FieldCount()) {
            ThrowNoSuchField(n, set.FieldCount());
        }
        return static_cast<size_t>(n);
    }
    return set.FieldIndex(key.ToText());
}

}  // namespace

RecordSet::RecordSet(std::vector<FieldInfo> fields, std::vector<Variant> values)
    : fields_(std::move(fields)), values_(std::move(values)), open_(true) {
    rows_ = fields_.empty() ? 0 : values_.size() / fields_.size();
}

RecordSet::RecordSet(std::vector<FieldInfo> fields, std::unique_ptr<RowFeed> feed)
    : fields_(std::move(fields)), open_(true), forward_(true), feed_(std::move(feed)) {
    values_.resize(fields_.size());
    Fetch();
}

void RecordSet::Fetch() {
    if (feed_ && feed_->Next(values_)) {
        ++rows_;
    } else {
        feed_.reset();
    }
}

void RecordSet::RequireBackward() const {
    if (forward_) {
        throw Error(ErrorCode::kInvalidProcedureCall, "The record set is forward-only: it cannot move back");
    }
}

void RecordSet::AppendField(std::string name, FieldType type, int32_t defined_size, int32_t attributes) {
    if (open_) throw Error(ErrorCode::kInvalidProcedureCall, "Fields cannot be appended to an open record set");
    if (FindField(name)) {
        throw Error(ErrorCode::kInvalidProcedureCall, fmt::format("The record set already has a field '{}'", name));
    }
    fields_.push_back(FieldInfo{std::move(name), type, defined_size, attributes});
}

void RecordSet::Open() {
    if (open_) throw Error(ErrorCode::kInvalidProcedureCall, "The record set is already open");
    open_ = true;
    position_ = 0;
}

void RecordSet::Close() {
    RequireOpen("closed");
    open_ = false;
    feed_.reset();
    values_.clear();
    rows_ = 0;
    position_ = 0;
}

void RecordSet::AddNew() {
    RequireOpen("added to");
    if (forward_) throw Error(ErrorCode::kInvalidProcedureCall, "Rows cannot be added to a database result");
    values_.resize(values_.size() + fields_.size());
    position_ = static_cast<int64_t>(rows_++);
}

void RecordSet::Update() { RequireCurrent(); }

void RecordSet::SetValue(size_t field, Variant value) {
    const size_t slot = Slot(field);
    values_[slot] = Coerce(field, std::move(value));
}

Variant RecordSet::Coerce(size_t field, Variant value) const {
    value = value.Resolved();
    if (value.IsNull() || value.IsEmpty()) return value;
    try {
        switch (fields_[field].type) {
            case FieldType::kSmallInt: return Variant(value.ToInteger());
            case FieldType::kInteger: return Variant(value.ToLong());
            case FieldType::kDouble: return Variant(value.ToDouble());
            case FieldType::kBoolean: return Variant(value.ToBoolean());
            case FieldType::kDecimal:
            case FieldType::kNumeric: return Variant(value.ToDecimal());
            case FieldType::kDate:
            case FieldType::kTimestamp: return Variant(value.ToDate());
            case FieldType::kVarChar:
            case FieldType::kVarWChar: return Variant(value.ToText());
            default: return value;
        }
    } catch (const Error& e) {
        throw Error(e.Number(), fmt::format("{} (field '{}')", e.Description(), fields_[field].name));
    }
}

std::optional<size_t> RecordSet::FindField(std::string_view name) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (EqualsIgnoreCase(fields_[i].name, name)) return i;
    }
    return std::nullopt;
}

size_t RecordSet::FieldIndex(std::string_view name) const {
    if (auto i = FindField(name)) return *i;
    throw Error(ErrorCode::kItemNotFound,
                fmt::format("Item not found in this collection: the record set has no field '{}'", name));
}

void RecordSet::RequireOpen(std::string_view action) const {
    if (!open_) {
        throw Error(ErrorCode::kInvalidProcedureCall,
                    fmt::format("The record set is closed and cannot be {}", action));
    }
}

void RecordSet::RequireCurrent() const {
    RequireOpen("read");
    if (position_ < 0 || position_ >= static_cast<int64_t>(rows_)) ThrowNoCurrent();
}

bool RecordSet::Eof() const {
    RequireOpen("read");
    return position_ >= static_cast<int64_t>(rows_);
}

bool RecordSet::Bof() const {
    RequireOpen("read");
    return position_ < 0 || rows_ == 0;
}

void RecordSet::MoveNext() {
    if (Eof()) ThrowNoCurrent();
    ++position_;
    if (forward_) Fetch();
}

void RecordSet::MovePrevious() {
    RequireOpen("read");
    RequireBackward();
    if (position_ < 0) ThrowNoCurrent();
    --position_;
}

void RecordSet::MoveFirst() {
    RequireOpen("read");
    if (forward_ && position_ == 0) return;
    RequireBackward();
    position_ = 0;
}

void RecordSet::MoveLast() {
    RequireOpen("read");
    RequireBackward();
    position_ = static_cast<int64_t>(rows_) - 1;
}

void RecordSet::Move(int32_t rows) {
    RequireOpen("read");
    if (rows == 0) return;
    if ((rows > 0 && Eof()) || (rows < 0 && position_ < 0)) ThrowNoCurrent();
    if (forward_) {
        if (rows < 0) RequireBackward();
        for (; rows > 0 && !Eof(); --rows) MoveNext();
        return;
    }
    int64_t target = position_ + rows;
    // Moving past either end stops there, with EOF or BOF set.
    if (target >= static_cast<int64_t>(rows_)) target = static_cast<int64_t>(rows_);
    if (target < 0) target = -1;
    position_ = target;
}

int32_t RecordSet::RecordCount() const {
    RequireOpen("counted");
    return static_cast<int32_t>(rows_);
}

size_t RecordSet::Slot(size_t field) const {
    // Rows lie side by side in one vector: a position past the last field would reach
    // into the next row, or past the end of the set.
    if (field >= fields_.size()) ThrowNoSuchField(static_cast<int64_t>(field), fields_.size());
    RequireCurrent();
    if (forward_) return field;
    return static_cast<size_t>(position_) * fields_.size() + field;
}

const FieldInfo& RecordSet::Field(size_t index) const {
    if (index >= fields_.size()) ThrowNoSuchField(static_cast<int64_t>(index), fields_.size());
    return fields_[index];
}

const Variant& RecordSet::Value(size_t field) const { return values_[Slot(field)]; }

Variant RecordSet::TakeValue(size_t field) { return std::move(values_[Slot(field)]); }

const MemberTable<RecordSet>& RecordSet::Members() {
    static const MemberTable<RecordSet> table = [] {
        MemberTable<RecordSet> t("Recordset");
        t.Get("EOF", 0, 0, [](RecordSet& s, CallArgs&) { return Variant(s.Eof()); })
            .Get("BOF", 0, 0, [](RecordSet& s, CallArgs&) { return Variant(s.Bof()); })
            .Get("RecordCount", 0, 0, [](RecordSet& s, CallArgs&) { return Variant(s.RecordCount()); })
            .Get("AbsolutePosition", 0, 0, [](RecordSet& s, CallArgs&) { return Variant(s.AbsolutePosition()); })
            .Get("State", 0, 0, [](RecordSet& s, CallArgs&) { return Variant(int32_t{s.IsOpen() ? 1 : 0}); })
            .Method("MoveNext", 0, 0, [](RecordSet& s, CallArgs&) { s.MoveNext(); return Variant(); })
            .Method("MovePrevious", 0, 0, [](RecordSet& s, CallArgs&) { s.MovePrevious(); return Variant(); })
            .Method("MoveFirst", 0, 0, [](RecordSet& s, CallArgs&) { s.MoveFirst(); return Variant(); })
            .Method("MoveLast", 0, 0, [](RecordSet& s, CallArgs&) { s.MoveLast(); return Variant(); })
            .Method("Move", 1, 1, [](RecordSet& s, CallArgs& a) { s.Move(a.Long(0)); return Variant(); })
            // Source, connection, cursor type, lock type and options are accepted for an
            // in-memory set and have no meaning there.
            .Method("Open", 0, 5, [](RecordSet& s, CallArgs&) { s.Open(); return Variant(); })
            .Method("Close", 0, 0, [](RecordSet& s, CallArgs&) { s.Close(); return Variant(); })
            .Method("AddNew", 0, 0, [](RecordSet& s, CallArgs&) { s.AddNew(); return Variant(); })
            .Method("Update", 0, 0, [](RecordSet& s, CallArgs&) { s.Update(); return Variant(); })
            .Get("Fields", 0, 1,
                 [](RecordSet& s, CallArgs& a) -> Variant {
                     if (a.Count() == 0) return Variant(MakeRef<RecordFields>(Self(s)));
                     return Variant(MakeRef<RecordField>(Self(s), FieldArg(s, a, 0)));
                 })
            // The set's default member is its field collection, as in rs("FName").
            .Get("", 1, 1, [](RecordSet& s, CallArgs& a) {
                return Variant(MakeRef<RecordField>(Self(s), FieldArg(s, a, 0)));
            });
        return t;
    }();
    return table;
}

const MemberTable<RecordField>& RecordField::Members() {
    static const MemberTable<RecordField> table = [] {
        MemberTable<RecordField> t("Field");
        auto get = [](RecordField& f, CallArgs&) { return f.set_->Value(f.index_); };
        auto let = [](RecordField& f, CallArgs& a) {
            f.set_->SetValue(f.index_, a.Assigned());
            return Variant();
        };
        t.Get("Value", 0, 0, get).Get("", 0, 0, get).Let("Value", 0, 0, let).Let("", 0, 0, let)
            .Get("Name", 0, 0, [](RecordField& f, CallArgs&) { return Variant(f.set_->Field(f.index_).name); })
            .Get("Type", 0, 0,
                 [](RecordField& f, CallArgs&) {
                     return Variant(static_cast<int32_t>(f.set_->Field(f.index_).type));
                 })
            .Get("DefinedSize", 0, 0, [](RecordField& f, CallArgs&) {
                return Variant(f.set_->Field(f.index_).defined_size);
            });
        return t;
    }();
    return table;
}

const MemberTable<RecordFields>& RecordFields::Members() {
    static const MemberTable<RecordFields> table = [] {
        MemberTable<RecordFields> t("Fields");
        auto item = [](RecordFields& f, CallArgs& a) {
            return Variant(MakeRef<RecordField>(f.set_, FieldArg(*f.set_, a, 0)));
        };
        t.Get("Item", 1, 1, item).Get("", 1, 1, item)
            .Get("Count", 0, 0,
                 [](RecordFields& f, CallArgs&) { return Variant(static_cast<int32_t>(f.set_->FieldCount())); })
            .Method("Append", 2, 4, [](RecordFields& f, CallArgs& a) {
                f.set_->AppendField(a.Text(0), static_cast<FieldType>(a.Long(1)), a.Has(2) ? a.Long(2) : 0,
                                    a.Has(3) ? a.Long(3) : -1);
                return Variant();
            });
        return t;
    }();
    return table;
}

}  // namespace orba::platform
