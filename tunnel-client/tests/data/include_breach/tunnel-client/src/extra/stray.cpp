// A folder no rule places.
#include "core/text.h"
