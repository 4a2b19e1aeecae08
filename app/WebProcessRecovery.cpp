#include "app/WebProcessRecovery.h"

WebProcessRecovery::Action WebProcessRecovery::processEnded(Clock::time_point now) {
    while (!recentEndings_.empty() && now - recentEndings_.front() >= window) recentEndings_.pop_front();
    recentEndings_.push_back(now);
    return int(recentEndings_.size()) >= endingsBeforeGivingUp ? Action::showFailurePage : Action::reload;
}
