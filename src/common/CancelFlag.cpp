#include "common/CancelFlag.h"

bool CancelRequested = false;
