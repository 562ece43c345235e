// The bill viewer's dialog: one bill at a time (title, header, lines) with previous and next
// over the listed bills. It shows what a reader gives for each bill, read the first time the
// bill is shown, and the reader's error for a bill that cannot be read.
#pragma once

#include <QDialog>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "hostkit/windows/bill_reader.h"

class QLabel;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

namespace orba::hostkit {

class BillViewerDialog : public QDialog {
public:
    using Reader = std::function<BillDocument(const ListedBill&)>;

    BillViewerDialog(std::vector<ListedBill> bills, size_t current, Reader read, QWidget* parent = nullptr);
    size_t Current() const { return current_; }
    void ShowBill(size_t index);
    const BillDocument* Shown() const { return shown_ ? &*shown_ : nullptr; }
    QPushButton* PreviousButton() const { return previous_; }
    QPushButton* NextButton() const { return next_; }

private:
    void BuildLines(QVBoxLayout* layout);
    void BuildButtons(QVBoxLayout* layout);
    void ShowDocument(const BillDocument& doc);

    std::vector<ListedBill> bills_;
    Reader read_;
    size_t current_ = 0;
    std::optional<BillDocument> shown_;
    QLabel* title_ = nullptr;
    QLabel* header_ = nullptr;
    QLabel* position_ = nullptr;
    QLabel* error_ = nullptr;
    QTableWidget* lines_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
};

}  // namespace orba::hostkit
