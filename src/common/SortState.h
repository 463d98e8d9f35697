#pragma once
// The current sort codes of the two file lists. They start from the stored settings once, at
// start-up, follow the user's column clicks, and are what the settings store saves at exit.

extern int RemoteSort;
extern int LocalSort;
