#include "session/room_session.h"
