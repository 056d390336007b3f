// adbsim's fault injection at run time: which faults fire at a step, carrying out
// those that act on the connection and handing the others to the step's handler.
#include <chrono>
#include <mutex>

#include "adbsim.h"

namespace adbsim {

namespace {

using Clock = std::chrono::steady_clock;

// State shared by every connection (daemon mode serves streams in threads): the
// matches of @K rules, and when vanished devices come back.
std::mutex sharedLock;
std::vector<unsigned> runHits;
Clock::time_point vanishedUntil;
bool vanishedForever = false;

unsigned countRunHit(std::size_t fault, std::size_t faults) {
    std::lock_guard<std::mutex> hold(sharedLock);
    runHits.resize(faults, 0);
    return ++runHits[fault];
}

void vanish(const Fault& fault) {
    std::lock_guard<std::mutex> hold(sharedLock);
    vanishedForever = fault.forever;
    vanishedUntil = Clock::now() + std::chrono::milliseconds(fault.count);
}

}  // namespace

bool devicesVanished() {
    std::lock_guard<std::mutex> hold(sharedLock);
    return vanishedForever || Clock::now() < vanishedUntil;
}

void startSession(Session& session) {
    session.hits.assign(session.config->faults.size(), 0);
    for (const Fault& fault : session.config->faults) {
        if (fault.step != Step::Any) continue;
        if (fault.action == Action::CloseAfter) session.closeAt = fault.count;
        if (fault.action == Action::Trickle) session.trickleMs = unsigned(fault.count);
    }
}

StepPlan beginStep(Session& session, Step step, const std::string& path) {
    StepPlan plan;
    session.stepTrickleMs = 0;
    const std::vector<Fault>& faults = session.config->faults;
    for (std::size_t i = 0; i < faults.size(); i++) {
        const Fault& fault = faults[i];
        if (fault.step != step) continue;
        if (fault.hasPath && fault.path != path) continue;
        unsigned hit = fault.runWide ? countRunHit(i, faults.size()) : ++session.hits[i];
        if (fault.occurrence != 0 && fault.occurrence != hit) continue;
        note("fault: " + fault.rule);
        switch (fault.action) {
        case Action::Close:
            throw SessionEnd{"fault: " + fault.rule};
        case Action::Vanish:
            vanish(fault);
            throw SessionEnd{"fault: " + fault.rule};
        case Action::CloseAfter:
            session.closeAt = session.bytesSent + fault.count;
            break;
        case Action::Stall:
            pauseFor(session, fault.count, fault.forever);
            break;
        case Action::Trickle:
            session.stepTrickleMs = unsigned(fault.count);
            break;
        case Action::Id:
            session.nextId = fault.text;
            break;
        case Action::Fail:
            plan.fail = fault.text;
            break;
        case Action::FailAfter:
            plan.fail = fault.text;
            plan.failAfter = fault.count;
            break;
        case Action::Raw:
            plan.raw = fault.text;
            break;
        case Action::Reply:
            plan.statReply = DentRecord{fault.mode, fault.size, fault.time, ""};
            break;
        case Action::Dent:
            plan.dents.push_back(DentRecord{fault.mode, fault.size, fault.time, fault.text});
            break;
        case Action::DiscardData:
            plan.discardData = true;
            break;
        case Action::Size:
            plan.size = fault.count;
            break;
        case Action::DataLength:
            plan.dataLength = uint32_t(fault.count);
            break;
        case Action::DataAfterDone:
            plan.dataAfterDone = fault.count;
            break;
        case Action::DoneText:
            plan.doneText = fault.text;
            break;
        case Action::OkayText:
            plan.okayText = fault.text;
            break;
        case Action::Chunk:
            plan.chunk = fault.count;
            break;
        case Action::DentError:
            plan.dents.push_back(DentRecord{0, 0, 0, fault.text, uint32_t(fault.count)});
            break;
        case Action::Twice:
            plan.twice = true;
            break;
        case Action::Count:
            break;
        }
    }
    return plan;
}

}  // namespace adbsim
