#include "ui/browse/frm_browse_base.h"

#include <fmt/format.h>

#include "facade/browse_entry.h"
#include "host/user_messages.h"
#include "platform/error.h"
#include "platform/ui_services.h"
#include "ui/browse/bill_kinds.h"
#include "ui/browse/browse_tools.h"
#include "ui/qt_text.h"

namespace orba::ui {

using host::VariantVector;
using platform::Error;
using platform::ErrorCode;
using platform::Ref;

namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kCheckedRole = Qt::UserRole + 1;

}  // namespace

// ---- Tree and tabs --------------------------------------------------------------------

void FrmBrowseBase::SetTreeView() {
    filling_tree_ = true;
    tvw_base_->clear();
    const int32_t mode = facade::BrowseMode();
    if (mode == 0 || mode == 1) {
        for (const BillKind& k : kBillKinds) {
            const std::string_view node_key = mode == 0 ? k.send_key : k.down_key;
            const std::string_view text = mode == 0 ? k.send_text : k.down_text;
            auto* node = new QTreeWidgetItem(tvw_base_, QStringList(Q(text)));
            node->setData(0, kKeyRole, Q(node_key));
            node->setData(0, kCheckedRole, false);
            node->setIcon(0, node_icon_);
            node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            node->setCheckState(0, Qt::Unchecked);
        }
    }
    filling_tree_ = false;
}

QTreeWidgetItem* FrmBrowseBase::Node(std::string_view node_key) const {
    for (int i = 0; i < tvw_base_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = tvw_base_->topLevelItem(i);
        if (node->data(0, kKeyRole).toString() == Q(node_key)) return node;
    }
    return nullptr;
}

bool FrmBrowseBase::NodeChecked(std::string_view node_key) const {
    const QTreeWidgetItem* node = Node(node_key);
    return node && node->checkState(0) == Qt::Checked;
}

void FrmBrowseBase::SetNodeChecked(std::string_view node_key, bool checked) {
    QTreeWidgetItem* node = Node(node_key);
    if (!node) throw Error(ErrorCode::kItemNotFound, fmt::format("The tree has no node '{}'", node_key));
    node->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void FrmBrowseBase::OnNodeChanged(QTreeWidgetItem* node) {
    if (filling_tree_) return;
    const bool checked = node->checkState(0) == Qt::Checked;
    if (node->data(0, kCheckedRole).toBool() == checked) return;
    node->setData(0, kCheckedRole, checked);
    try {
        OnNodeCheck(node);
    } catch (const std::exception& e) {
        host::ReportFailure(kListFailed, e);
    }
}

void FrmBrowseBase::OnNodeCheck(QTreeWidgetItem* node) {
    // In download mode the check boxes only record what to download.
    if (facade::BrowseMode() != 0) return;
    const std::string node_key = node->data(0, kKeyRole).toString().toStdString();
    if (KindOfKey(node_key) >= 0) {
        if (node->checkState(0) == Qt::Checked) {
            tab_strip_->AddTab(node_key, TabCaption(node_key));
        } else {
            tab_strip_->RemoveTab(node_key);
        }
    }
    tab_strip_->setVisible(tab_strip_->Count() > 0);
    FollowSelectedTab();
}

void FrmBrowseBase::ShowBillFrame(std::string_view node_key) {
    tab_strip_->Select(node_key);
    FollowSelectedTab();
}

int FrmBrowseBase::CurrentKind() const { return KindOfKey(tab_strip_->SelectedKey()); }

void FrmBrowseBase::FollowSelectedTab() {
    const int kind = CurrentKind();
    for (size_t i = 0; i < frames_.size(); ++i) frames_[i]->setVisible(static_cast<int>(i) == kind);
}

// ---- Commands -------------------------------------------------------------------------

void FrmBrowseBase::OnToolClick(std::string_view name) {
    if (name == tool::kFileFilter) {
        if (facade::BrowseMode() != 0) return;
        if (tab_strip_->isHidden()) {
            platform::ShowInfoMessage(kNoTypeToFilter, host::kMessageTitle);
            return;
        }
        try {
            SelectBills(tab_strip_->SelectedKey());
        } catch (const std::exception& e) {
            host::ReportFailure(kListFailed, e);
        }
    } else if (name == tool::kFileDownLoad) {
        bool any = false;
        for (const BillKind& k : kBillKinds) any = NodeChecked(k.down_key) || any;
        if (!any) {
            platform::ShowInfoMessage(kNoTypeToDownload, host::kMessageTitle);
            return;
        }
        Finish(GetDownBillVect());
    } else if (name == tool::kFileSend) {
        for (size_t i = 0; i < kBillKinds.size(); ++i) {
            if (chosen_[i].Empty() && NodeChecked(kBillKinds[i].send_key)) {
                platform::ShowInfoMessage(kBillKinds[i].send_missing, host::kMessageTitle);
                return;
            }
        }
        Finish(GetSendBillVect());
    } else if (name == tool::kFileExit) {
        facade::SetSelectionResult({});
        done(QDialog::Rejected);
    }
}

void FrmBrowseBase::Finish(Ref<VariantVector> result) {
    facade::SetSelectionResult(result);
    if (result) done(QDialog::Accepted);
}

}  // namespace orba::ui
