// The list selection dialog: a small modal window around the host's list control, which
// does all listing, searching and selecting. The dialog passes its settings on to the
// control, captions the window, keeps the flag that says whether the user confirmed a
// selection, and hands out the control's selection.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>
#include <string_view>

#include "host/variant_vector.h"
#include "platform/object.h"
#include "platform/variant.h"

namespace orba::ui {

class FrmList : public QDialog {
    Q_OBJECT

public:
    explicit FrmList(QWidget* parent = nullptr);
    ~FrmList() override;

    // Settings, each passed on to the control at once (loading the dialog first if needed).
    void ListShowStatus(int32_t value);
    void DestBillTransType(const std::string& value);
    void ListID(int32_t value);
    void TranType(int32_t value);
    void BaseInfo(const std::string& value);
    void MultiSelect(bool value);
    void CanSelectMultiRow(bool value);
    void Filter(const std::string& value);
    void LocalCnn(const std::string& value);
    void SystemName(const std::string& value);
    void SelectFlag(int32_t value);

    // The control's selection as it hands it out (records carrying FInterID and FTranType);
    // Nothing when the control gives none.
    platform::Ref<host::VariantVector> Selected();
    // Before showing: whether the dialog may show. After the modal show: whether the user
    // confirmed a selection. Read it before unloading, which clears it.
    bool OK() const { return ok_; }

    // Prepares and loads the control's list and captions the window.
    void InitData();
    // Shows the dialog modally; returns when it is hidden or unloaded. A dialog that is not
    // ready unloads itself at once.
    void ShowModal();
    // Hides the dialog and releases the control; never fails.
    void Unload();

    bool IsLoaded() const { return static_cast<bool>(control_); }
    // The command event of the control: "SelectOK" and "Exit".
    void OnCommand(const std::string& name);
    // Applies a client-area size in pixels to the control (the resize handler).
    void ClientResized(int width_px, int height_px);

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    void EnsureLoaded();
    void Activate();
    // Assigns a control property; `value` travels by reference.
    void PassOn(std::string_view member, platform::Variant value);
    int Dpi() const;

    platform::Ref<platform::Object> control_;
    platform::Ref<platform::Object> sink_;
    QWidget* control_widget_ = nullptr;  // owned by the control
    bool ok_ = false;
};

}  // namespace orba::ui
