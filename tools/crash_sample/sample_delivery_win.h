// What the crash sample shows of a delivery, for tests that watch it from
// outside: the events it raises and the answers they get, the message boxes
// it shows, and how it ended. Each is switched on by an environment
// variable, so that the ordinary runs stay as they are.
#pragma once

#include "exceptlog/capture/manager/pipeline_steps.h"

namespace vellum::crash_sample {

// CRASH_SAMPLE_EVENTS, a ","-separated list:
//   print        prints "event: <action> <thread>" for every action and
//                "error-event: <action>" for every error notice; <thread>
//                is "main" or "other"
//   veto=N       clears Execute at action N
//   retry=N      sets Retry once at the error notice of action N
//   fields       answers the custom fields request with two fields
//   attach=PATH  adds PATH to the files sent
void InstallDeliveryEvents();

// CRASH_SAMPLE_ANSWER_BOXES, captions separated by ";": every message box
// of this process with one of them is printed as "box: <caption> | <text>"
// and answered with OK, from a thread of its own.
void StartBoxAnswerer();

// Prints "delivery: <1|0> | <error code name> | <message>" after a report
// that was sent in the reporting thread, and after a failed one first
// "clipboard: <first line of the clipboard's text>".
void PrintDeliveryResult(const exceptlog::PipelineReport& report);

}  // namespace vellum::crash_sample
