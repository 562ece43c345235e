#include "hostkit/components/pub_func.h"

namespace orba::hostkit {

const platform::MemberTable<PubFunc>& PubFunc::Members() {
    static const platform::MemberTable<PubFunc> table = [] {
        platform::MemberTable<PubFunc> t("PubFunc");
        t.Method("IsNull", 2, 2, [](PubFunc&, platform::CallArgs& a) {
            platform::Variant value = a.Value(0);
            return value.IsNull() ? a[1] : value;
        });
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
