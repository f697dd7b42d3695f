#include "shell/logger.h"
