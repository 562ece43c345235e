// What one step of an exchange needs from the process while it runs, held by scopes that
// put it in place for the calling thread and take it away when the step ends: the library
// pointed at the step's database, the messages it shows watched, and the exchange's settings.
// Nothing stays set after a step, and an exchange on one thread (a service's request) never
// sees the state of another (a command, or another request).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "facade/bill_trans.h"
#include "hostkit/hostkit.h"
#include "hostkit/shared_database.h"
#include "platform/ui_services.h"

namespace orba::hostkit {
class Database;
}

namespace orba::exchange {

// How far a long step has come ("Packaging", "Saving bills": done of total), and that it has
// ended, for a host that shows it.
struct ProgressListener {
    std::function<void(std::string_view what, int done, int total)> show;
    std::function<void()> ended;
};

// One exchange's settings, for the steps run on the calling thread while an ExchangeScope
// holds them.
struct ExchangeSettings {
    ProgressListener progress;
};

class ExchangeScope {
public:
    explicit ExchangeScope(ExchangeSettings settings);
    ~ExchangeScope();
    ExchangeScope(const ExchangeScope&) = delete;
    ExchangeScope& operator=(const ExchangeScope&) = delete;

    // The settings of the innermost scope of the calling thread (defaults without one).
    static const ExchangeSettings& Current();

private:
    ExchangeSettings settings_;
    const ExchangeScope* outer_;
};

// Shows a step's progress through the current settings' listener, and that it ended.
class StepProgress {
public:
    explicit StepProgress(std::string what) : what_(std::move(what)) {}
    ~StepProgress();
    StepProgress(const StepProgress&) = delete;
    StepProgress& operator=(const StepProgress&) = delete;
    void Show(int done, int total);

private:
    std::string what_;
    bool shown_ = false;
};

// The library working on `db` for the calling thread while the session lives: the login names
// db's location, the library and the host kit's components it calls (the saving component,
// system information) work on `db` itself instead of opening it again, so that what they read
// and write is part of any transaction the caller holds on it, and the messages the library
// shows (how it reports a failure it trapped) are watched, so that a step learns of its failure
// as a value.
class LibrarySession {
public:
    explicit LibrarySession(hostkit::Database& db);

    facade::BillTrans& Library() { return *trans_; }
    // The library showed a message: the step failed, the message says why.
    bool Failed() const { return watch_.Count() > 0; }

private:
    hostkit::LoginScope login_;
    hostkit::SharedDatabaseScope sharing_;
    platform::MessageWatch watch_;
    platform::Ref<facade::BillTrans> trans_;
};

}  // namespace orba::exchange
