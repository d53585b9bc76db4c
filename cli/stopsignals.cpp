#include "cli/stopsignals.h"

#include <QSocketNotifier>

namespace nv {

StopSignals::StopSignals(std::initializer_list<int> watched, std::function<void()> onFirst)
    : pipe_(watched), onFirst_(std::move(onFirst)) {
    if (pipe_.readFd() < 0) return;
    notifier_ = new QSocketNotifier(pipe_.readFd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::drain);
}

StopSignals::~StopSignals() {
    delete notifier_;
}

int StopSignals::received() {
    return SignalPipe::received();
}

void StopSignals::drain() {
    pipe_.drain();
    if (onFirst_) onFirst_();
}

} // namespace nv
