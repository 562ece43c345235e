#include "ui/browse/frm_browse_base.h"

#include <QEvent>

#include <algorithm>
#include <QKeyEvent>
#include <QMouseEvent>

namespace orba::ui {
namespace {

int ShiftBits(Qt::KeyboardModifiers m) {
    int shift = 0;
    if (m & Qt::ShiftModifier) shift |= kShiftMask;
    if (m & Qt::ControlModifier) shift |= kCtrlMask;
    if (m & Qt::AltModifier) shift |= kAltMask;
    return shift;
}

}  // namespace

// ---- Layout ---------------------------------------------------------------------------

void FrmBrowseBase::ArrangeControls(double x, double y, int mode) {
    geometry_.status_visible = !status_bar_->isHidden();
    geometry_.status_height = ToTwips(status_bar_->sizeHint().height(), DpiY());
    if (mode == kArrangeWhole) {
        ArrangeWhole(geometry_, x, y);
        // A window narrowed past the splitter keeps it within the limits a drag has, so that
        // the tabs and the grid stay in the window.
        if (geometry_.imgSplitVer.left > kSplitterMargin && geometry_.imgSplitVer.left > x - kSplitterMargin) {
            ArrangeColumns(geometry_, std::max(kSplitterMargin, x - kSplitterMargin));
        }
    } else if (mode == kArrangeColumns) {
        geometry_.client_width = ToTwips(client_->width(), DpiX());
        geometry_.client_height = ToTwips(client_->height(), DpiY());
        ArrangeColumns(geometry_, x);
    } else {
        return;
    }
    ApplyGeometry();
    PlaceBillFrames();
}

void FrmBrowseBase::ApplyGeometry() {
    const double dx = DpiX(), dy = DpiY();
    auto place = [dx, dy](QWidget* w, const TwipsRect& r) {
        w->setGeometry(ToPixels(r.left, dx), ToPixels(r.top, dy), ToPixels(r.width, dx),
                       ToPixels(r.height, dy));
    };
    place(tvw_base_, geometry_.tvwBase);
    place(img_split_, geometry_.imgSplitVer);
    place(tab_strip_, geometry_.TabStrip);
    place(title_class_, geometry_.SSPTitleClass);
    place(title_item_, geometry_.SSPTitleItem);
    place(pic_split_, geometry_.picSplitVer);
    pic_split_->setVisible(geometry_.picSplitVer_visible);
    if (geometry_.picSplitVer_visible) pic_split_->raise();
    for (size_t i = 0; i < line1_.size(); ++i) {
        const TwipsLine& l = geometry_.Line1[i];
        line1_[i]->setGeometry(ToPixels(l.x1, dx), ToPixels(l.y1, dy), 1,
                               std::max(0, ToPixels(l.y2 - l.y1, dy)));
    }
    for (size_t i = 0; i < line3_.size(); ++i) {
        const TwipsLine& l = geometry_.Line3[i];
        line3_[i]->setGeometry(ToPixels(l.x1, dx), ToPixels(l.y1, dy),
                               std::max(0, ToPixels(l.x2 - l.x1, dx)), 1);
    }
    const int status_height = status_bar_->sizeHint().height();
    status_bar_->setGeometry(0, client_->height() - status_height, client_->width(), status_height);
}

void FrmBrowseBase::PlaceBillFrames() {
    const double dx = DpiX(), dy = DpiY();
    const TwipsRect frame = BillFrameRect(geometry_);
    const TwipsRect grid = BillGridRect(frame);
    for (size_t i = 0; i < frames_.size(); ++i) {
        frames_[i]->setGeometry(ToPixels(frame.left, dx), ToPixels(frame.top, dy),
                                ToPixels(frame.width, dx), ToPixels(frame.height, dy));
        grids_[i]->setGeometry(0, 0, ToPixels(grid.width, dx), ToPixels(grid.height, dy));
    }
}

void FrmBrowseBase::SplitterPress() {
    PressSplitter(geometry_);
    dragging_ = true;
    ApplyGeometry();
}

void FrmBrowseBase::SplitterMove(int mouse_x_pixels) {
    if (!dragging_) return;
    geometry_.picSplitVer.left = SplitterBarLeft(geometry_, ToTwips(mouse_x_pixels, DpiX()),
                                                 ToTwips(frameGeometry().width(), DpiX()));
    ApplyGeometry();
}

void FrmBrowseBase::SplitterRelease() {
    // Only a release that ends a press on the handle moves the columns; without a press
    // the drag bar has no place of its own.
    if (!dragging_) return;
    geometry_.client_width = ToTwips(client_->width(), DpiX());
    geometry_.client_height = ToTwips(client_->height(), DpiY());
    geometry_.status_visible = !status_bar_->isHidden();
    ReleaseSplitter(geometry_);
    dragging_ = false;
    ApplyGeometry();
    PlaceBillFrames();
}

bool FrmBrowseBase::RouteKeyDown(int& key_code, int& shift) {
    if (!bar_->OnKeyDown(key_code, shift)) return false;
    key_code = 0;
    shift = 0;
    return true;
}

bool FrmBrowseBase::RouteKeyUp(int& key_code, int& shift) {
    if (!bar_->OnKeyUp(key_code, shift)) return false;
    key_code = 0;
    shift = 0;
    return true;
}

bool FrmBrowseBase::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Resize:
            if (watched == client_) {
                ArrangeControls(ToTwips(client_->width(), DpiX()), ToTwips(client_->height(), DpiY()),
                                kArrangeWhole);
            }
            break;
        case QEvent::MouseButtonPress:
            if (watched == img_split_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                SplitterPress();
                return true;
            }
            break;
        case QEvent::MouseMove:
            if (watched == img_split_ && dragging_) {
                SplitterMove(static_cast<int>(static_cast<QMouseEvent*>(event)->position().x()));
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (watched == img_split_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                SplitterRelease();
                return true;
            }
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (!widget || widget->window() != this) break;
            auto* key_event = static_cast<QKeyEvent*>(event);
            int key_code = key_event->key();
            int shift = ShiftBits(key_event->modifiers());
            const bool handled = event->type() == QEvent::KeyPress ? RouteKeyDown(key_code, shift)
                                                                   : RouteKeyUp(key_code, shift);
            if (handled) return true;
            break;
        }
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace orba::ui
