#include "data/row_source.h"

#include <string>
#include <vector>

#include "platform/dispatch.h"
#include "platform/error.h"
#include "platform/recordset.h"

namespace orba::data {

using platform::Ref;
using platform::Variant;

namespace {

class DirectRows : public RowSource {
public:
    explicit DirectRows(Ref<platform::RecordSet> set) : set_(std::move(set)) {}
    bool Eof() override { return set_->Eof(); }
    void MoveNext() override { set_->MoveNext(); }
    int32_t RecordCount() override { return set_->RecordCount(); }
    size_t Column(std::string_view name) override { return set_->FieldIndex(name); }
    Variant Get(size_t column) override { return set_->Value(column); }
    Variant Take(size_t column) override { return set_->TakeValue(column); }

private:
    Ref<platform::RecordSet> set_;
};

class LateBoundRows : public RowSource {
public:
    explicit LateBoundRows(Ref<platform::Object> set) : set_(std::move(set)) {}
    bool Eof() override { return platform::GetProperty(set_, "EOF").ToBoolean(); }
    void MoveNext() override { platform::Call(set_, "MoveNext"); }
    int32_t RecordCount() override { return platform::GetProperty(set_, "RecordCount").ToLong(); }
    size_t Column(std::string_view name) override {
        names_.emplace_back(name);
        return names_.size() - 1;
    }
    Variant Get(size_t column) override {
        Ref<platform::Object> field = platform::GetProperty(set_, "Fields", {Variant(names_[column])}).ToObject();
        return platform::GetProperty(field, "Value");
    }

private:
    Ref<platform::Object> set_;
    std::vector<std::string> names_;
};

}  // namespace

std::unique_ptr<RowSource> MakeRowSource(const Ref<platform::Object>& record_set) {
    if (!record_set) {
        throw platform::Error(platform::ErrorCode::kObjectRequired,
                              "Object required: the database connection returned no record set");
    }
    if (auto direct = platform::RefCast<platform::RecordSet>(record_set)) return std::make_unique<DirectRows>(direct);
    return std::make_unique<LateBoundRows>(record_set);
}

}  // namespace orba::data
