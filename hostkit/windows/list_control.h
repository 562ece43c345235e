// The host's list control "OrbaList.Rilvo": lists one kind of bill from the account database
// under the caller's condition in its widget, and hands the user's selection back as records
// (FInterID, FTranType); a form embeds the widget and hears its "SelectOK" and "Exit" commands.
#pragma once

#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/components/kit_containers.h"
#include "hostkit/windows/bill_list.h"
#include "hostkit/windows/window_components.h"
#include "platform/dispatch.h"
#include "platform/visual_control.h"

namespace orba::hostkit {

inline constexpr std::string_view kListErrorHead = "列表条件无法执行：";

class AppConnection;
class ListControlWidget;

class ListControl : public platform::Dispatchable<ListControl>, public platform::VisualControl {
public:
    ListControl();
    ~ListControl() override;
    static const platform::MemberTable<ListControl>& Members();

    // Creates the widget on first use; needs a Qt widget application.
    QWidget* Widget() override;
    void Advise(platform::Ref<platform::Object> sink) override { sink_ = std::move(sink); }

    // True when the transaction type (and list ID, when given) name a known list and the
    // account database can be found.
    bool PrepareList();
    // Reads the bills. A condition the database refuses, or a database that cannot be read,
    // leaves the list empty with one line saying why; no bill leaves it empty with a line
    // saying there is none. Either way it returns True, so that the dialog opens and the
    // user sees what happened.
    bool LoadList();
    platform::Ref<KitList> ListInfo() const;
    platform::Ref<KitList> GetSelected() const;
    bool CanConfirm() const;
    // The release member of the control (named apart from the reference count's Release).
    void ReleaseList();

    const std::vector<BillListRow>& Rows() const { return *rows_; }
    const std::string& ErrorText() const { return error_; }
    // The line above the table: which branch's bills are listed, or that there are none.
    const std::string& NoteText() const { return note_; }
    // Selects the rows of these bills in the view (as a user's clicks would).
    void SelectBills(const std::vector<int32_t>& inter_ids);
    // Types into the search line; returns how many rows stay listed.
    int Search(const std::string& text);
    // Raises the command event on the connected form.
    void RaiseCommand(std::string_view command);
    // Re-reads the widget state (counts, buttons) after the rows or the selection changed.
    void Refresh();

private:
    struct Geometry {
        std::optional<int> left, top, width, height;  // twips
    };
    void ApplyGeometry();

    int32_t list_id_ = 0;
    int32_t tran_type_ = 0;
    int32_t list_show_status_ = 0;
    int32_t select_flag_ = 0;
    bool multi_select_ = false;
    bool multi_row_ = false;
    bool start_up_ = false;
    std::string base_info_, filter_, local_cnn_, system_name_, dest_type_;
    Geometry geometry_;

    std::optional<BillListKind> kind_;
    platform::Ref<AppConnection> connection_;
    std::shared_ptr<std::vector<BillListRow>> rows_;
    std::string error_;
    std::string note_;
    platform::Ref<platform::Object> sink_;
    QPointer<ListControlWidget> widget_;
};

// The database file a base text names ("Data Source=<path>", as the login properties carry
// it in braces); empty when it names none.
std::string DatabaseFromBaseInfo(std::string_view base_info);

}  // namespace orba::hostkit
