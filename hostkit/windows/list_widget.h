// The list control's window: a search line with the count of listed and selected bills, a
// line for the database's error, the table of bills and the confirm and leave buttons. Its
// buttons raise the control's commands ("SelectOK", "Exit") through a handler.
#pragma once

#include <QSortFilterProxyModel>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/windows/list_model.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QVBoxLayout;

namespace orba::hostkit {

class ListControlWidget : public QWidget {
public:
    using CommandHandler = std::function<void(std::string_view command)>;

    explicit ListControlWidget(CommandHandler on_command);

    // Lists `rows` under `captions`; a non-empty error is shown instead of a usable table, a
    // non-empty note in a line above it.
    void Show(std::shared_ptr<const std::vector<BillListRow>> rows, const std::vector<std::string>& captions,
              const std::string& error, const std::string& note, bool multi);

    // The selected rows of the model, in the order the view shows them.
    std::vector<int> SelectedSourceRows() const;
    bool HasSelection() const;
    // Selects the rows of these bills among those listed now.
    void Select(const std::vector<int32_t>& ids);
    void SetSearch(const QString& text);
    int VisibleRows() const;
    // The control is gone; the widget only waits to be deleted.
    void Detach() { on_command_ = nullptr; }

private:
    void BuildSearchRow(QVBoxLayout* layout);
    void BuildTable(QVBoxLayout* layout);
    void BuildButtons(QVBoxLayout* layout);
    void Raise(std::string_view command);
    // Re-reads the counts and whether the confirm button can be used.
    void UpdateState();
    // Widths that show every column at the dialog's opening size: the names are held to a
    // share of the width and elided (their whole text is in the tooltip).
    void FitColumns();

    CommandHandler on_command_;
    BillListModel model_;
    QSortFilterProxyModel proxy_;
    bool error_shown_ = false;
    QLineEdit* search_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* error_ = nullptr;
    QLabel* note_ = nullptr;
    QTableView* table_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace orba::hostkit
