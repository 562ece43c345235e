// The browse window: a tree of bill types, a tab strip with one bill grid per checked type, and
// the commands that filter bills into the grids, send, download or leave, leaving the choice in
// the process-wide selection result. Its parts are in frm_browse_*.cpp, one concern each.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QStatusBar>
#include <QTreeWidget>

#include <array>
#include <string>
#include <string_view>

#include "data/data_trans.h"
#include "host/variant_vector.h"
#include "platform/recordset.h"
#include "ui/browse/bill_grid.h"
#include "ui/browse/browse_layout.h"
#include "ui/browse/chosen_bills.h"
#include "ui/browse/tab_strip_control.h"
#include "ui/browse/tool_bar_control.h"

namespace orba::ui {

inline constexpr std::string_view kSendCaption = "发送单据";
inline constexpr std::string_view kDownloadCaption = "下载单据";
inline constexpr std::string_view kTreeTitle = "传输单据类型";
inline constexpr std::string_view kTabTitle = "传输单据";

inline constexpr std::string_view kNoTypeToFilter = "请选择要发送的单据类型。";
inline constexpr std::string_view kNoTypeToDownload = "请选择要下载的单据。";
inline constexpr std::string_view kReadFailed = "数据读取错误。";
inline constexpr std::string_view kListFailed = "单据列表读取错误。";
// A list holds bills of its own kind only; each bill left out or holding up a send is named
// on a line of its own after the heading.
inline constexpr std::string_view kOtherKindNotListed = "以下单据不是本列表的单据类型，未列入：";
inline constexpr std::string_view kOtherKindNotSent = "以下单据不是其所在列表的单据类型，不能发送，请重新过滤该列表：";
inline constexpr std::string_view kInTheListOf = "列表中的";
inline constexpr std::string_view kTranTypeWord = "事务类型";
inline constexpr std::string_view kViewerProgId = "OrbaBills.Bills";

// The window's layout modes.
inline constexpr int kArrangeWhole = 1;
inline constexpr int kArrangeColumns = 3;

class FrmBrowseBase : public QDialog {
    Q_OBJECT
public:
    explicit FrmBrowseBase(QWidget* parent = nullptr);
    ~FrmBrowseBase() override;

    // Load: runs the set-up once (InitWindow); an Error in it passes to the caller.
    void Load();
    // Shows the window modally and returns when it has closed.
    void ShowModal();
    // Closes the window and releases the data access object; a second call does nothing.
    void Unload();

    void InitWindow();
    platform::Ref<host::VariantVector> GetListRSFieldVect() const;
    // mode 1: the whole window for a client area x × y; mode 3: columns after a splitter
    // drop at x. Twips.
    void ArrangeControls(double x, double y, int mode);

    // Tree and tabs.
    void SetTreeView();
    // Selects the tab of `key` (when it has one); the frame shown is always the selected tab's.
    void ShowBillFrame(std::string_view key);
    QTreeWidgetItem* Node(std::string_view key) const;  // nullptr when the tree has no such node
    bool NodeChecked(std::string_view key) const;
    void SetNodeChecked(std::string_view key, bool checked);

    // Commands: what a click on the tool `name` (either copy) does.
    void OnToolClick(std::string_view name);

    // Bill lists.
    // Opens the list dialog for the kind of `key`; what is confirmed there fills that kind's grid.
    void SelectBills(std::string_view key);
    // Replaces the rows of the grid of `kind` with the chosen bills; a bill of another kind is
    // left out, and a message names it. Without `kind`: the selected tab's grid.
    void FillBillGrid(int kind, const platform::Ref<platform::Object>& selection);
    void FillBillGrid(const platform::Ref<platform::Object>& selection);
    platform::Ref<host::VariantVector> GetPOOrdBills();
    platform::Ref<host::VariantVector> GetSEOutBills();
    platform::Ref<host::VariantVector> GetSEInBills();
    platform::Ref<platform::RecordSet> GetListRS(int16_t index) const;

    // Sending, downloading and viewing. The send vector holds each listed bill in the package
    // of its own kind: a listed bill of another kind than its list's stops it with a message
    // (Nothing is returned).
    platform::Ref<host::VariantVector> GetSendBillVect();
    platform::Ref<host::VariantVector> GetDownBillVect();
    void OnGridActivate(int index);
    void ViewBills(int16_t index);
    void OpenBills(const platform::Ref<platform::Object>& list_rs, const platform::Ref<platform::Object>& field_vect,
                   int16_t show_for_mode_ext, int16_t the_sale_mode, int16_t tran_type, int16_t show_code,
                   int16_t show_mode, std::string_view system_name);

    // Key routing through the bar; true when the key was the bar's (then zeroed).
    bool RouteKeyDown(int& key_code, int& shift);
    bool RouteKeyUp(int& key_code, int& shift);

    // Splitter handling, in pixels within the handle (as the mouse reports them).
    void SplitterPress();
    void SplitterMove(int mouse_x_pixels);
    void SplitterRelease();

    // Controls.
    ToolBarControl* Bar() const { return bar_; }
    QTreeWidget* tvwBase() const { return tvw_base_; }
    TabStripControl* TabStrip() const { return tab_strip_; }
    QFrame* picFrame(int i) const { return frames_.at(static_cast<size_t>(i)); }
    BillGrid* ldgBill(int i) const { return grids_.at(static_cast<size_t>(i)); }
    // The bills listed for kind `i`: what its grid shows and what send and the viewer read.
    const ChosenBills& Chosen(int i) const { return chosen_.at(static_cast<size_t>(i)); }
    QStatusBar* sbStatusBar() const { return status_bar_; }
    QWidget* imgSplitVer() const { return img_split_; }
    QWidget* picSplitVer() const { return pic_split_; }
    QWidget* Client() const { return client_; }
    const BrowseGeometry& Geometry() const { return geometry_; }
    bool Dragging() const { return dragging_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void BuildControls();
    void BuildTree();
    void BuildBillFrames();
    void BuildStatusBar();
    void OnNodeChanged(QTreeWidgetItem* node);
    // The window's current kind: the selected tab's; -1 when there is no tab.
    int CurrentKind() const;
    // Shows the frame of the current kind only.
    void FollowSelectedTab();
    void ApplyGeometry();
    void PlaceBillFrames();
    void OnNodeCheck(QTreeWidgetItem* node);
    void Finish(platform::Ref<host::VariantVector> result);
    platform::Ref<host::VariantVector> CollectBills(int kind);
    double DpiX() const;
    double DpiY() const;

    ToolBarControl* bar_ = nullptr;
    QWidget* client_ = nullptr;
    QTreeWidget* tvw_base_ = nullptr;
    TabStripControl* tab_strip_ = nullptr;
    QLabel* title_class_ = nullptr;
    QLabel* title_item_ = nullptr;
    std::array<QFrame*, 3> frames_{};
    std::array<BillGrid*, 3> grids_{};
    QWidget* img_split_ = nullptr;
    QFrame* pic_split_ = nullptr;
    std::array<QFrame*, 2> line1_{};
    std::array<QFrame*, 2> line3_{};
    QStatusBar* status_bar_ = nullptr;
    QIcon node_icon_;

    std::array<ChosenBills, 3> chosen_;
    BrowseGeometry geometry_;
    platform::Ref<data::DataTrans> data_;
    platform::Ref<host::VariantVector> list_field_vect_;
    bool dragging_ = false;
    bool loaded_ = false;
    bool unloaded_ = false;
    bool filling_tree_ = false;
};

// Creates, loads and shows a browse window modally, then unloads it; what BillTrans.Show
// runs. Raises an Error when the process has no window application.
void ShowBrowseWindow();

}  // namespace orba::ui
