#include "common/SortState.h"

// The first-run codes: remote by name, local in listing order.
int RemoteSort = 1;
int LocalSort = 0;
