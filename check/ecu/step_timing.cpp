#include "check/ecu/step_timing.h"

#include "check/common/time_text.h"

Readiness judge_span(LineSpan at_least, LineSpan at_most, const StepWindow& window,
                     LineSpan resolution) {
    if (at_most < window.from || at_least > window.to) {
        return Readiness::no;
    }
    if (window.to - window.from < resolution) {
        return Readiness::cannot_tell;
    }
    return at_least >= window.from && at_most <= window.to ? Readiness::yes
                                                           : Readiness::cannot_tell;
}

StepTiming step_timing(const StepWindow& window, const LineMoment& first, const LineMoment& second,
                       LineSpan resolution) {
    StepTiming timing;
    timing.name = window.name;
    timing.at_least = second.earliest - first.latest;
    timing.at_most = second.latest - first.earliest;
    timing.window_from = window.from;
    timing.window_to = window.to;
    timing.judged = judge_span(timing.at_least, timing.at_most, window, resolution);
    return timing;
}

std::string timing_text(const StepTiming& timing) {
    return timing.name + " " + milliseconds_number(timing.at_least) + " to " +
           milliseconds_text(timing.at_most) + ", window " +
           milliseconds_number(timing.window_from) + " to " + milliseconds_text(timing.window_to);
}
