#include "hostkit/components/share_props.h"
#include "hostkit/login_string.h"

#include <fmt/format.h>
#include <unistd.h>

#include "platform/error.h"

namespace orba::hostkit {

using platform::CallArgs;
using platform::Variant;

namespace {

// Property names ignore case, as everywhere in the host.
std::string NameKey(std::string_view name) {
    std::string k(name);
    for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
}

// The innermost thread value of the calling thread.
thread_local const SharedPropertyStore::ThreadValue* t_thread_values = nullptr;

}  // namespace

SharedPropertyStore::ThreadValue::ThreadValue(std::string_view name, Variant value)
    : name_(NameKey(name)), value_(std::move(value)), outer_(t_thread_values) {
    t_thread_values = this;
}

SharedPropertyStore::ThreadValue::~ThreadValue() { t_thread_values = outer_; }

SharedPropertyStore& SharedPropertyStore::Instance() {
    static SharedPropertyStore* store = new SharedPropertyStore();
    return *store;
}

int32_t SharedPropertyStore::CurrentProcessId() { return static_cast<int32_t>(getpid()); }

void SharedPropertyStore::Set(int32_t process_id, std::string_view name, Variant value) {
    std::lock_guard lock(mutex_);
    values_[{process_id, NameKey(name)}] = std::move(value);
}

Variant SharedPropertyStore::Get(int32_t process_id, std::string_view name) const {
    if (process_id == CurrentProcessId()) {
        const std::string key = NameKey(name);
        for (const ThreadValue* v = t_thread_values; v; v = v->outer_) {
            if (v->name_ == key) return v->value_;
        }
    }
    std::lock_guard lock(mutex_);
    auto it = values_.find({process_id, NameKey(name)});
    if (it == values_.end()) {
        throw platform::Error(platform::ErrorCode::kNotFound,
                              fmt::format("The shared property store holds no property '{}' for process {}",
                                          name, process_id));
    }
    return it->second;
}

void SharedPropertyStore::Clear(int32_t process_id) {
    std::lock_guard lock(mutex_);
    for (auto it = values_.begin(); it != values_.end();) {
        it = it->first.first == process_id ? values_.erase(it) : std::next(it);
    }
}

const platform::MemberTable<ShareProps>& ShareProps::Members() {
    static const platform::MemberTable<ShareProps> table = [] {
        platform::MemberTable<ShareProps> t("ShareProps");
        t.Method("GetProperty", 2, 2,
                 [](ShareProps&, CallArgs& a) {
                     return SharedPropertyStore::Instance().Get(a.Long(0), a.Text(1));
                 })
            .Method("SetProperty", 3, 3, [](ShareProps&, CallArgs& a) {
                SharedPropertyStore::Instance().Set(a.Long(0), a.Text(1), a[2]);
                return Variant();
            });
        return t;
    }();
    return table;
}

std::string CurrentLoginProperties() {
    return SharedPropertyStore::Instance().Get(SharedPropertyStore::CurrentProcessId(), "PropsString").ToText();
}

}  // namespace orba::hostkit
