// The pending request and the rules by which its consumers take it.
#include "state/pending.hpp"

#include <algorithm>

#include "state/state.hpp"

namespace kiln {

void request(ShellState& state, Pending pending) {
    if (pending.request >= state.pending.request) state.pending = pending;
}

void request_loops(ShellState& state, Request kind, std::uint32_t count) {
    if (state.loops > 0) count = std::min(count, state.loops);
    request(state, {kind, count, 0});
}

LoopScope::LoopScope(ShellState& state) : state_(state) {
    ++state_.loops;
}

LoopScope::~LoopScope() {
    --state_.loops;
}

LoopStep leave_loop_body(ShellState& state) {
    Pending& pending = state.pending;
    if (pending.request == Request::None) return LoopStep::Next;
    if (pending.request != Request::Break && pending.request != Request::Continue) {
        return LoopStep::Leave;
    }
    const bool resume = pending.request == Request::Continue && pending.count == 1;
    if (--pending.count == 0) pending = {};
    return resume ? LoopStep::Next : LoopStep::Leave;
}

int finish_call(ShellState& state, int status) {
    if (state.pending.request != Request::Return) return status;
    status = state.pending.status;
    state.pending = {};
    state.last_status = status;
    return status;
}

int settle_outermost(ShellState& state, int status) {
    switch (state.pending.request) {
        case Request::Overflow:
            state.pending = {};
            return state.last_status;
        case Request::Interrupt:
            return state.last_status;
        default:
            return status;
    }
}

Request finish_typed_line(ShellState& state) {
    const Request taken = state.pending.request;
    if (taken != Request::Exit) state.pending = {};
    return taken;
}

void finish_startup_file(ShellState& state) {
    if (state.pending.request == Request::Interrupt) state.pending = {};
}

int final_status(const ShellState& state, int status) {
    return state.pending.request == Request::Exit ? state.pending.status : status;
}

}  // namespace kiln
