#include "service/api_client.h"
