// The host's shared property store: one group of named properties per host process. The
// host application puts the login property string here; components read it by name.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/dispatch.h"

namespace orba::hostkit {

inline constexpr std::string_view kSharePropsProgId = "Halvern.ShareProps";

class SharedPropertyStore {
public:
    static SharedPropertyStore& Instance();

    void Set(int32_t process_id, std::string_view name, platform::Variant value);
    // Raises an Error naming the property when the process's group does not hold it.
    platform::Variant Get(int32_t process_id, std::string_view name) const;
    void Clear(int32_t process_id);

    // The calling process's own group.
    static int32_t CurrentProcessId();
    void SetOwn(std::string_view name, platform::Variant value) { Set(CurrentProcessId(), name, std::move(value)); }

    // Gives the calling thread its own value of one of the process's own properties while it
    // lives, over the value the process holds: one exchange's thread reads its own database's
    // login while another thread, or the host itself, reads theirs. Scopes nest.
    class ThreadValue {
    public:
        ThreadValue(std::string_view name, platform::Variant value);
        ~ThreadValue();
        ThreadValue(const ThreadValue&) = delete;
        ThreadValue& operator=(const ThreadValue&) = delete;

    private:
        friend class SharedPropertyStore;
        std::string name_;
        platform::Variant value_;
        const ThreadValue* outer_;
    };

private:
    mutable std::mutex mutex_;
    std::map<std::pair<int32_t, std::string>, platform::Variant> values_;
};

// The component: GetProperty(process id, name) and SetProperty(process id, name, value),
// both arguments by reference as the host passes them.
class ShareProps : public platform::Dispatchable<ShareProps> {
public:
    static const platform::MemberTable<ShareProps>& Members();
};

}  // namespace orba::hostkit
