// The host's bill viewer "OrbaBills.Bills": handed a list record set of bills (FInterID,
// FTranType), it shows them one at a time in its dialog, header and lines read from the
// account database, starting on the record set's current record.
#pragma once

#include <cstdint>
#include <string>

#include "hostkit/windows/window_components.h"
#include "platform/dispatch.h"

namespace orba::hostkit {

// LocalCnn, ListRecordset, NewBillTransType, SystemName, ListRSFieldVect, ShowForModeExt,
// SetOpt(user ID, user name), TheSaleMode, Show(show code, show mode). Show opens the viewer
// modally in a window application and raises an Error elsewhere.
class BillViewer : public platform::Dispatchable<BillViewer> {
public:
    static const platform::MemberTable<BillViewer>& Members();
    void Show();

private:
    std::string local_cnn_, tran_type_text_, system_name_, user_name_;
    platform::Ref<platform::Object> list_, field_vector_;
    int16_t show_mode_ext_ = 0, sale_mode_ = 0, user_id_ = 0;
};

}  // namespace orba::hostkit
