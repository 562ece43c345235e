// Installs a recording user-interface service for a test's lifetime, so that message
// boxes never wait for a user and the test can read what would have been shown.
#pragma once

#include <memory>

#include "platform/ui_services.h"

namespace orba::testing {

class ScopedRecordingUi {
  public:
    ScopedRecordingUi()
        : recorder_(std::make_shared<platform::RecordingUiService>()), scope_(recorder_) {}
    platform::RecordingUiService& operator*() const { return *recorder_; }
    platform::RecordingUiService* operator->() const { return recorder_.get(); }

  private:
    std::shared_ptr<platform::RecordingUiService> recorder_;
    platform::ScopedUiService scope_;
};

}  // namespace orba::testing
