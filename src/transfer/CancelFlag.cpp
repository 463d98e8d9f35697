#include "transfer/CancelFlag.h"

bool CancelRequested = false;
