// The platform layer reaching up into the event log.
#include "platform/event_wait.h"
#include "events/event_log.h"
