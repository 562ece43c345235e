#include "exchange/library.h"

#include "host/shared_connection.h"
#include "hostkit/app_connection.h"
#include "hostkit/database.h"
#include "hostkit/login_string.h"

namespace orba::exchange {

namespace {
thread_local const ExchangeScope* t_scope = nullptr;
}  // namespace

ExchangeScope::ExchangeScope(ExchangeSettings settings) : settings_(std::move(settings)), outer_(t_scope) {
    t_scope = this;
}

ExchangeScope::~ExchangeScope() { t_scope = outer_; }

const ExchangeSettings& ExchangeScope::Current() {
    static const ExchangeSettings defaults;
    return t_scope ? t_scope->settings_ : defaults;
}

StepProgress::~StepProgress() {
    const ProgressListener& listener = ExchangeScope::Current().progress;
    if (shown_ && listener.ended) listener.ended();
}

void StepProgress::Show(int done, int total) {
    const ProgressListener& listener = ExchangeScope::Current().progress;
    if (!listener.show) return;
    shown_ = true;
    listener.show(what_, done, total);
}

LibrarySession::LibrarySession(hostkit::Database& db)
    : login_(hostkit::MakeLoginProperties(db.AbsoluteLocation())),
      sharing_(db),
      trans_(platform::MakeRef<facade::BillTrans>()) {
    // The object made its connection when it was created; this one, on `db` itself, replaces
    // it and is dropped with the object.
    host::SetSharedConnection(platform::MakeRef<hostkit::AppConnection>(db));
}

}  // namespace orba::exchange
