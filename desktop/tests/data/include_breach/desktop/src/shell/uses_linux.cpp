#include "platform/linux/thing.h"
