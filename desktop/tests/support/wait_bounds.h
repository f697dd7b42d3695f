#pragma once

// How long a test waits for an event it expects: far beyond what an idle
// machine needs, so a loaded CI machine is slow but not red. A passing wait
// returns as soon as the event is there.
constexpr int kEventWaitMs = 20000;
