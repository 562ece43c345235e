#include "hostkit/sample/row_insert.h"

#include <algorithm>

#include "platform/error.h"

namespace orba::hostkit::sample {

using platform::Error;
using platform::ErrorCode;
using platform::Variant;

RowInsert::RowInsert(Database& db, const char* sql)
    : sql_(sql), marks_(static_cast<size_t>(std::count(sql, sql + std::char_traits<char>::length(sql), '?'))) {
    try {
        statement_ = db.Prepare(sql);
    } catch (const Error& e) {
        throw Error(e.Number(), "Preparing the sample-data statement \"" + std::string(sql) + "\": " + e.Description());
    }
}

RowInsert& RowInsert::Int(int64_t value) {
    if (value >= INT32_MIN && value <= INT32_MAX) {
        values_.emplace_back(static_cast<int32_t>(value));
    } else {
        values_.emplace_back(platform::Decimal(value));
    }
    return *this;
}

RowInsert& RowInsert::Null() {
    values_.push_back(Variant::Null());
    return *this;
}

RowInsert& RowInsert::Text(std::string_view value) {
    values_.emplace_back(value);
    return *this;
}

void RowInsert::Run() {
    // An unbound mark would silently become NULL; a count mismatch is a mistake here.
    if (values_.size() != marks_) {
        throw Error(ErrorCode::kInvalidProcedureCall, "Sample data: wrong number of values for \"" + std::string(sql_) + "\"");
    }
    pointers_.clear();
    for (const Variant& v : values_) pointers_.push_back(&v);
    try {
        statement_->Run(pointers_);
    } catch (const Error& e) {
        throw Error(e.Number(), "Writing sample data with \"" + std::string(sql_) + "\": " + e.Description());
    }
    values_.clear();
}

}  // namespace orba::hostkit::sample
